// What the commands of kvz-cdi-cli share: exit statuses, parsed arguments,
// the one failure line, the question, the unit held for a command, the
// files and standard streams they read and write, and JSON results.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

#include "cli.h"
#include "user_files.h"

struct MapFileRecord;
struct UnitImage;

enum ExitStatus {
    kDone = 0,
    kDiffers = 1,         // diff found differences
    kUsage = 2,           // also: a question with nobody to answer it
    kNoUnit = 3,
    kTransferFailed = 4,  // also: the read-back differs, the unit is in use
    kFileError = 5,       // also: a restore point that cannot be written
    kRefused = 6,         // by a safety rule, or answered No
};

struct Arguments {
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;  // a flag's value is empty

    bool has(const std::string& option) const { return options.count(option) != 0; }
};

// Says what failed on one line of standard error and gives back `status`.
int fail(const Console& console, int status, const std::string& text);

// A usage failure: the text, then where the usage is told.
int usageError(const Console& console, const std::string& text);

// What the boxes of the device layer said, and hidapi's failure texts,
// since the last call: one text, "; " between them. Forgets them.
std::string takeNotes();

// Each note on a line of its own, as warnings that change no status.
void printNotes(const Console& console);

// kDone when --yes was given or there is a terminal to ask on, and the
// file to write (the first operand) is not standard input, which cannot
// carry the answer too; else the usage failure, said. Checked before
// anything else.
int checkAnswerable(const Console& console, const Arguments& arguments);

// "Write FILE to the unit? [y/N]" on the terminal, unless --yes was given.
// kDone for yes; kRefused, said, for anything else.
int confirmWrite(const Console& console, const Arguments& arguments, const std::string& file);

// Runs `body` with the unit lock held and the unit open in cdiDevice,
// showing progress over `blocks` block exchanges; closes the unit after.
// kTransferFailed when another program keeps the unit, kNoUnit when none
// is found; else what `body` returns.
int withUnit(const Console& console, int blocks, const std::function<int()>& body);

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

int runDetect(const Arguments& arguments, const Console& console);
int runRead(const Arguments& arguments, const Console& console);
int runDump(const Arguments& arguments, const Console& console);
int runWrite(const Arguments& arguments, const Console& console);
int runRestore(const Arguments& arguments, const Console& console);
int runStatus(const Arguments& arguments, const Console& console);
int runBackups(const Arguments& arguments, const Console& console);
int runDiff(const Arguments& arguments, const Console& console);
int runExport(const Arguments& arguments, const Console& console);
int runImport(const Arguments& arguments, const Console& console);
