// The files the tool writes and reads for the user, with one set of rules:
// a file is replaced only by a complete new one, in one step; a new file is
// private to the user (0600) and a replaced one keeps its permissions.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "platform_paths.h"

// Puts a file's contents into the open stream; false when a write failed.
using WriteContents = std::function<bool(std::FILE*)>;

// A finished temporary file beside `target` holding what `write` put in
// it, flushed to the disk, its name in `tempPath`. False, leaving nothing
// behind, when any of that failed.
bool writeBeside(const std::string& target, Contents contents, std::string& tempPath, const WriteContents& write);

// Removes from `dir` the temporary files of writeBeside last written more
// than `ageSeconds` ago: what a program killed part-way through a write left
// behind. One still being written is younger.
void removeStaleTempFiles(const std::string& dir, int ageSeconds);

// Replaces exactly `path` (a link there is itself replaced, not followed)
// with a complete new file; never a file this user may not write.
bool replaceWith(const char* path, Contents contents, const WriteContents& write);

// A file the user named: a link at `path` is followed to the file it leads
// to in the end, which is replaced (or made, private to the user) while the
// link stays; otherwise as replaceWith.
bool saveUserFile(const char* path, Contents contents, const WriteContents& write);

// saveUserFile in two steps, so that several files go in place together or
// not at all: the new file finished beside its target, then put in place or
// thrown away.
struct StagedFile {
    std::string target;  // the links at the named path followed
    std::string temp;
};
bool stageUserFile(const char* path, Contents contents, const WriteContents& write, StagedFile& staged);
bool placeStaged(const StagedFile& staged);
void dropStaged(const StagedFile& staged);

// An output named on a command line: a character device or a FIFO, its
// links followed, is written in place and stays what it is; a folder or a
// socket is refused; a regular file, or nothing, is saved as saveUserFile
// saves it.
bool saveOutputFile(const char* path, Contents contents, const WriteContents& write);

// The whole of an open stream, at most `maxSize` bytes; false when it is
// larger (errno EFBIG) or a read failed.
bool readWhole(std::FILE* file, std::size_t maxSize, std::string& text);

// The whole of a regular file the user named, as bytes, at most `maxSize`.
bool readUserFile(const char* path, std::size_t maxSize, std::string& text);
