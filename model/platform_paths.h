// The few file-system calls that differ between operating systems, one
// source file per system (platform_paths_posix.cpp, platform_paths_windows.cpp),
// so the map file code above them is the same everywhere. Paths are
// narrow strings: UTF-8 on Windows, where they come from the toolkit, and
// the file system's own bytes elsewhere.
#pragma once

#include <cstdio>
#include <string>

// The user's temporary folder, ending in a directory separator. False when
// the system gives none, or on Windows when it has no UTF-8 form of fewer
// than 1024 bytes.
bool tempDirectory(std::string& dir);

// Opens an existing map file for reading. Like opening it for update, it
// must be a regular file that may be written: a file with no write
// permission bit is refused even for a user the system would let in.
// With ownedOnly, a link is refused too, and so is a file of another user:
// the autosave file lives in a folder that others may write.
std::FILE* openMapForReading(const char* path, bool ownedOnly);

// True when the path names an existing file that has no write permission
// bit, or that this user may not write. Such a file is not to be replaced.
bool isReadOnlyFile(const char* path);

// Creates a new, empty file in the folder of `target`, never through a link,
// with the permissions a plain create would give, and opens it for text
// output. Its name goes to tempPath. Null when it cannot be made.
std::FILE* createFileBeside(const char* target, std::string& tempPath);

// Flushes the stream down to the disk and closes it. False when any of that
// failed; the stream is closed either way.
bool finishFile(std::FILE* file);

// Puts the file `from` in the place of `to` in one step, so a reader sees the
// old file or the new one, never a part. A link at `to` is itself replaced.
bool replaceFile(const char* from, const char* to);

// Deletes a file; false when that failed.
bool removeFile(const char* path);
