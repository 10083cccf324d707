// What the commands of kvz-cdi-cli share: exit statuses, parsed arguments,
// the one failure line, the question, and the unit held for a command.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cli.h"
#include "streams.h"
#include "unit_image.h"

enum ExitStatus {
    kDone = 0,
    kDiffers = 1,         // diff found differences
    kUsage = 2,           // also: a question with nobody to answer it
    kNoUnit = 3,
    kTransferFailed = 4,  // also: the read-back differs, the unit is in use
                          // or cannot be opened
    kFileError = 5,       // also: a restore point that cannot be written
    kRefused = 6,         // by a safety rule, or answered No
};

struct Arguments {
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;  // by long name; a flag's value says nothing

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

// Runs `work` while the program holds the unit's lock (unit_lock.h), taken
// with up to `waitMs` of waiting for another program. Signals are held off
// from taking the lock to letting it go (signals.h), and a reply still owed
// is waited out before that. kNoUnit when no unit is found, kTransferFailed
// when another program keeps it or it cannot be opened, each said; else
// what `work` returns.
int withUnitLock(const Console& console, int waitMs, const std::function<int()>& work);

// Runs `body` with the unit lock held and the unit open in cdiDevice,
// showing progress over `blocks` block exchanges; closes the unit before
// the lock goes. As withUnitLock, and kNoUnit when the unit cannot be
// opened; else what `body` returns.
int withUnit(const Console& console, int blocks, const std::function<int()>& body);

// Prints where two images differ as diff prints them, words compared as
// --exact does (--json: one object on standard output); kDone when all
// their bytes are equal, else kDiffers.
int printImageDifferences(const Console& console, const UnitImage& a, const UnitImage& b, bool json);

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
