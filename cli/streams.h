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

// "-", or a path to the pipe or device standard input has open (/dev/stdin,
// the terminal's /dev/pts/N): that one stream, which carries at most one
// file and then no answer.
bool namesStandardInput(const Console& console, const std::string& name);

// An input taken as standard input is: standard input itself, a FIFO or a
// character device. A regular file is read as a file.
bool isStreamInput(const Console& console, const std::string& name);

// The whole of the input `name`, at most `maxSize` bytes: standard input;
// else a FIFO or a character device, read in place as standard input is;
// else a regular file.
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
