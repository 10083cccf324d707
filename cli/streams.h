// The files and standard streams kvz-cdi-cli's commands read and write, by
// the names given on the command line, the checks made on them before the
// unit is touched, the JSON results it prints, and names from outside made
// safe to print.
#pragma once

#include <cstddef>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

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
// else a regular file. On failure `why` gets the reason: the system's
// ("No such file or directory"), or "file too large (over 16 MiB)".
bool readInput(const Console& console, const std::string& name, std::size_t maxSize, std::string& text,
               std::string& why);
// The same, parsed: a sound map file ("line 12: not a number" when not),
// or an image of exactly 1024 bytes.
bool readMapInput(const Console& console, const std::string& name, MapFileRecord& record, std::string& why);
bool readImageInput(const Console& console, const std::string& name, UnitImage& image, std::string& why);

// Whether two names stand for one file, so that writing the one would
// destroy the other: the same regular file (its links followed, "-" the
// stream it names, standard output for an output), or the same path where
// nothing is yet. A pipe, a terminal or a device is never destroyed.
struct Named {
    std::string name;
    bool output;
};
bool sameFile(const Console& console, const Named& a, const Named& b);

// Before the unit is touched or anything is written: every output can be
// written (its folder is there and may be written; it is no folder, socket
// or block device), and none is the same file as another output or as an
// input. kDone, or kFileError with the one failure line said.
int checkOutputs(const Console& console, const std::vector<std::string>& outputs,
                 const std::vector<std::string>& inputs = {});

// What goes into one output, once the command has it.
struct Output {
    std::string name;
    Contents contents;
    WriteContents write;
};

// Writes the outputs: standard output, or as saveOutputFile writes, except
// that the regular files are each finished beside their place first and go
// in place together, after the rest, so that a failure leaves none of them
// written. kDone, or kFileError with the failure said.
int writeOutputs(const Console& console, const std::vector<Output>& outputs);

// A result as one line of JSON on standard output; text that is not UTF-8
// (a path's bytes) is replaced, never refused.
void printJson(const Console& console, const nlohmann::ordered_json& value);

// Text from outside (a file name, a path, the unit's strings) as it may be
// printed on a line: control characters and bytes that are no UTF-8 shown
// as \xNN, so a name can neither steer the terminal nor break the line.
std::string shown(const std::string& text);

// A file as messages name it: "standard input" or "standard output" for
// "-", '' for an empty name, else the name.
std::string fileName(const std::string& file, bool output);

// The system's reason for an errno value; "failed" for none.
std::string systemReason(int error);

// Messages of the files the commands read and write, each ending with the
// reason.
std::string cannotRead(const std::string& file, const char* what, const std::string& why);
std::string cannotWrite(const std::string& file, const std::string& why);
