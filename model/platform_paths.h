// The few file-system calls that differ between operating systems, one
// source file per system (platform_paths_posix.cpp, platform_paths_windows.cpp),
// so the map file code above them is the same everywhere. Paths are
// narrow strings: UTF-8 on Windows, where they come from the toolkit, and
// the file system's own bytes elsewhere.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

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

// Opens a regular file for reading its bytes, a link followed: the files
// the user names on a command line. Null for anything else (a folder, a
// FIFO, a device), without waiting on it; errno then says why (EISDIR for a
// folder, EINVAL for anything else that is there).
std::FILE* openInputFile(const char* path);

// Whether an input named on a command line is, its links followed, a
// character device or a FIFO (/dev/stdin, a named pipe, bash's <(...)):
// read in place as a stream, never as a file. Never on Windows.
bool isStreamPath(const char* path);

// Opens such an input for reading; null when it cannot be opened or is no
// longer one. Opening a FIFO waits for its writer, as standard input does.
std::FILE* openStreamInput(const char* path);

// Whether `path`, its links followed, is what the stream has open (the same
// device and inode): /dev/stdin, or the terminal's own device, for standard
// input. Never on Windows.
bool isSameFile(const char* path, std::FILE* stream);

// Opens an existing regular file at exactly `path` (no link) to add bytes
// at its end; null when it cannot.
std::FILE* openForAppending(const char* path);

// Creates a new file at exactly `path`, private to the user (0600), and
// opens it to write bytes; never where anything is already, a link
// included. Null when it cannot be made; `taken` says whether something
// was there.
std::FILE* createNewFile(const char* path, bool& taken);

// What is at a path, a link not followed: nothing, a regular file of this
// user's, or anything else (a file of another user, a link, a folder, a
// FIFO). On Windows, where the folders a user writes are the user's own,
// every regular file counts as the user's.
enum class PathKind { missing, ownFile, other };
PathKind whatIsAt(const char* path);

// The file a chain of links at `path` leads to in the end, or `path` itself
// when it is no link. The last target need not exist, except on Windows,
// where a link to nothing is refused. False on a loop of links, or when a
// link cannot be read.
bool resolveLinks(const char* path, std::string& resolved);

// True when the path names an existing file that has no write permission
// bit, or that this user may not write. Such a file is not to be replaced.
bool isReadOnlyFile(const char* path);

// Creates a new, empty file in the folder of `target`, never through a link,
// and opens it for output, as text (the system's line ends) or as bytes.
// It is private to the user (0600), or, when `target` is a regular file, has
// its permission bits. Its name goes to tempPath. Null when it cannot be made.
enum class Contents { text, bytes };
std::FILE* createFileBeside(const char* target, std::string& tempPath, Contents contents);

// Whether a file name is one createFileBeside makes.
bool isTempFileName(const std::string& name);

// What an output named on a command line is, its links followed: nothing or
// a regular file (saved whole, in one step), a character device or a FIFO
// (written in place: renaming a file over /dev/null would replace the
// device), or anything else (a folder, a socket), which nothing is written
// to. For inPlace the open stream, null when it cannot be opened; else
// null. Opening a FIFO waits for its reader.
enum class OutputKind { file, inPlace, refused };
std::FILE* openOutputInPlace(const char* path, Contents contents, OutputKind& kind);

// Whether an output named on a command line could be written, looked at
// without writing anything: its links followed, a character device or a
// FIFO this user may write, or else nothing or a regular file this user
// may replace, in a folder this user may write. False with the system's
// reason in `why` otherwise ("Is a directory" for a folder).
bool canWriteOutput(const char* path, std::string& why);

// Flushes the stream down to the disk and closes it. False when any of that
// failed; the stream is closed either way.
bool finishFile(std::FILE* file);

// Puts the file `from` in the place of `to` in one step, so a reader sees the
// old file or the new one, never a part. A link at `to` is itself replaced.
bool replaceFile(const char* from, const char* to);

// Puts the finished file `from` at `to` in one step, but only while nothing
// is at `to`: an existing file is never replaced. `taken` says whether that
// is why it failed.
bool placeNewFile(const char* from, const char* to, bool& taken);

// The user's own folders: data worth keeping ($XDG_DATA_HOME, else
// ~/.local/share) and state that should survive a restart ($XDG_STATE_HOME,
// else ~/.local/state); both are %LOCALAPPDATA% on Windows.
enum class UserFolder { data, state };

// The folder `sub` ("kvz-cdi/backups", with '/' between its parts) under
// one of the user's folders, ending in a directory separator. Made when
// missing, with the parts of `sub`, private to the user (0700); false when
// it cannot be made, or is not a folder of this user's.
bool userFolder(UserFolder which, const char* sub, std::string& dir);

// Where userFolder's folder is, without making anything or looking at it.
bool userFolderPath(UserFolder which, const char* sub, std::string& dir);

// The calendar time of `when` in UTC, and where the user is.
std::tm utcTime(std::time_t when);
std::tm localTime(std::time_t when);

// True when the stream is a terminal (a console on Windows).
bool isTerminal(std::FILE* stream);

// Standard input and output carry bytes as they are: on Windows they are
// switched from text to binary; elsewhere they already do.
void useBinaryStandardStreams();

// The program's arguments after its name, as UTF-8 like every path of the
// program: on Windows taken from the wide command line, since argv is in
// the ANSI code page; elsewhere argv as it stands.
std::vector<std::string> programArguments(int argc, char** argv);

// Deletes a file; false when that failed.
bool removeFile(const char* path);
