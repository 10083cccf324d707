// The files and standard streams kvz-cdi-cli's commands read and write, by
// the names given on the command line, and the JSON results it prints.
#pragma once

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "cli.h"
#include "user_files.h"

struct MapFileRecord;
struct UnitImage;

// "-" names standard input where a file is read, standard output where
// one is written.
bool isStandardStream(const std::string& name);

// The whole of the input `name`, at most `maxSize` bytes: standard input,
// or a regular file.
bool readInput(const Console& console, const std::string& name, std::size_t maxSize, std::string& text);
bool readMapInput(const Console& console, const std::string& name, MapFileRecord& record);
bool readImageInput(const Console& console, const std::string& name, UnitImage& image);

// Writes the output `name`: standard output, or as saveOutputFile writes.
bool writeOutput(const Console& console, const std::string& name, Contents contents, const WriteContents& write);

// A result as one line of JSON on standard output; text that is not UTF-8
// (a path's bytes) is replaced, never refused.
void printJson(const Console& console, const nlohmann::ordered_json& value);

// Messages of the files the commands read and write.
std::string cannotRead(const std::string& file, const char* what);
std::string cannotWrite(const std::string& file);
