// The operating-system side of the map file on Windows: where the temporary
// folder and the user's folders are, what stands at a path, how a map file
// is opened for reading, and how a saved file replaces the old one in one
// step. Paths are UTF-8 and go through the wide
// calls.
#include "platform_paths.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstring>

namespace {

// Every path of the program is UTF-8, as the toolkit's file chooser gives it
// and its window title takes it, while the narrow calls here would read it
// in the ANSI code page and name some other file. So each path goes through
// the wide calls. Text that is not UTF-8 names no file at all.
bool widen(const char* utf8, std::wstring& wide)
{
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
    if (length <= 0)
        return false;
    wide.resize(static_cast<std::size_t>(length));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, &wide[0], length) != length)
        return false;
    wide.pop_back();  // the terminator, which the count includes
    return true;
}

// Fails, rather than cuts, when the UTF-8 form does not fit in 1024 bytes,
// and on a name with a lone surrogate, which has no UTF-8 form.
bool narrow(const wchar_t* wide, std::string& utf8)
{
    char buffer[1024];
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, buffer, sizeof buffer, nullptr, nullptr) <= 1)
        return false;
    utf8 = buffer;
    return true;
}

// Both of the user's folders are the local application data folder, which
// only its user may write.
bool userBase(std::string& dir)
{
    const wchar_t* base = _wgetenv(L"LOCALAPPDATA");
    return base && narrow(base, dir);
}

}  // namespace

bool tempDirectory(std::string& dir)
{
    wchar_t wide[1024];
    DWORD length = GetTempPathW(1024, wide);
    if (length == 0 || length >= 1024)
        return false;
    if (!narrow(wide, dir))
        return false;
    if (dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    return true;
}

std::FILE* openMapForReading(const char* path, bool ownedOnly)
{
    std::wstring wide;
    if (!widen(path, wide))
        return nullptr;
    // The per-user temporary folder is writable by its user alone, so a link
    // is all there is to refuse in it.
    if (ownedOnly) {
        DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES
            || (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
            return nullptr;
    }
    // Opening for update asks the file's access list, the same question
    // isReadOnlyFile asks before a save.
    int fd = -1;
    if (_wsopen_s(&fd, wide.c_str(), _O_RDWR | _O_BINARY, _SH_DENYNO, 0) != 0)
        return nullptr;
    struct _stat64 st;
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG || !(st.st_mode & _S_IWRITE)) {
        _close(fd);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "rb");
    if (!file)
        _close(fd);
    return file;
}

std::FILE* openInputFile(const char* path)
{
    std::wstring wide;
    if (!widen(path, wide))
        return nullptr;
    int fd = -1;
    if (_wsopen_s(&fd, wide.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYNO, 0) != 0)
        return nullptr;
    struct _stat64 st;
    std::FILE* file = _fstat64(fd, &st) == 0 && (st.st_mode & _S_IFMT) == _S_IFREG ? _fdopen(fd, "rb") : nullptr;
    if (!file) {
        _close(fd);
        errno = EINVAL;
    }
    return file;
}

// Windows has no FIFOs; a pipe or a console named by a path is not read.
bool isStreamPath(const char*)
{
    return false;
}

std::FILE* openStreamInput(const char*)
{
    return nullptr;
}

// Its stat gives no inode to compare: only "-" names standard input.
bool isSameFile(const char*, std::FILE*)
{
    return false;
}

std::FILE* openForAppending(const char* path)
{
    std::wstring wide;
    if (!widen(path, wide) || whatIsAt(path) != PathKind::ownFile)
        return nullptr;
    int fd = -1;
    if (_wsopen_s(&fd, wide.c_str(), _O_WRONLY | _O_APPEND | _O_BINARY, _SH_DENYWR, 0) != 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "ab");
    if (!file)
        _close(fd);
    return file;
}

std::FILE* createNewFile(const char* path, bool& taken)
{
    taken = false;
    std::wstring wide;
    if (!widen(path, wide))
        return nullptr;
    int fd = -1;
    const errno_t error = _wsopen_s(&fd, wide.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _SH_DENYWR,
                                    _S_IREAD | _S_IWRITE);
    taken = error == EEXIST;
    if (error != 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file)
        _close(fd);
    return file;
}

PathKind whatIsAt(const char* path)
{
    std::wstring wide;
    if (!widen(path, wide))
        return PathKind::other;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND ? PathKind::missing : PathKind::other;
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    return attributes & notPlain ? PathKind::other : PathKind::ownFile;
}

bool resolveLinks(const char* path, std::string& resolved)
{
    resolved = path;
    std::wstring wide;
    if (!widen(path, wide))
        return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    // The system follows the whole chain when it opens the file; a link to
    // nothing cannot be opened, and is refused rather than replaced.
    HANDLE handle = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    wchar_t final[1024];
    const DWORD length = GetFinalPathNameByHandleW(handle, final, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    return length > 0 && length < 1024 && narrow(final, resolved);
}

bool isReadOnlyFile(const char* path)
{
    std::wstring wide;
    struct _stat64 st;
    if (!widen(path, wide) || _wstat64(wide.c_str(), &st) != 0)
        return false;
    if (!(st.st_mode & _S_IWRITE))
        return true;
    // The attribute is not the whole answer: the file's access list may
    // still keep this user from writing it. Opening it for writing, which
    // changes nothing, asks exactly that.
    HANDLE handle = CreateFileW(wide.c_str(), FILE_WRITE_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(handle);
    return false;
}

bool isTempFileName(const std::string& name)
{
    return name.size() > 12 && name.compare(0, 8, "kvz-cdi-") == 0 && name.compare(name.size() - 4, 4, ".tmp") == 0;
}

std::FILE* createFileBeside(const char* target, std::string& tempPath, Contents contents)
{
    // The separators are ASCII, so the folder is cut off the UTF-8 path as
    // it stands.
    std::string dir(target);
    std::string::size_type cut = dir.find_last_of("\\/:");
    dir = cut == std::string::npos ? std::string() : dir.substr(0, cut + 1);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "kvz-cdi-%lu-%lu.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long>(GetTickCount() + attempt));
        tempPath = dir + name;
        std::wstring wide;
        if (!widen(tempPath.c_str(), wide))
            return nullptr;
        int fd = -1;
        const bool text = contents == Contents::text;
        errno_t error = _wsopen_s(&fd, wide.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | (text ? _O_TEXT : _O_BINARY),
                                  _SH_DENYWR, _S_IREAD | _S_IWRITE);
        if (error == 0) {
            std::FILE* file = _fdopen(fd, text ? "w" : "wb");
            if (!file) {
                _close(fd);
                _wunlink(wide.c_str());
            }
            return file;
        }
        if (error != EEXIST)
            return nullptr;
    }
    return nullptr;
}

std::FILE* openOutputInPlace(const char* path, Contents contents, OutputKind& kind)
{
    kind = OutputKind::file;
    std::wstring wide;
    if (!widen(path, wide))
        return nullptr;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        kind = OutputKind::refused;
        return nullptr;
    }
    // Only the open handle tells a device (NUL, CON) or a pipe from a disk
    // file; opening a pipe already connects to it, so that handle is kept.
    // What cannot be opened is left to the save, which says why it fails.
    HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) {
        CloseHandle(handle);
        return nullptr;
    }
    kind = OutputKind::inPlace;
    const bool text = contents == Contents::text;
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_WRONLY | (text ? _O_TEXT : _O_BINARY));
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, text ? "w" : "wb");
    if (!file)
        _close(fd);
    return file;
}

bool canWriteOutput(const char* path, std::string& why)
{
    std::string target;
    std::wstring wide;
    int error = 0;
    if (!*path || !resolveLinks(path, target) || !widen(target.c_str(), wide)) {
        error = ENOENT;
    } else if (const DWORD attributes = GetFileAttributesW(wide.c_str()); attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            error = EISDIR;
        else if (isReadOnlyFile(target.c_str()))
            error = EACCES;
    } else {
        // A new file goes into its folder, which must be there.
        const std::string::size_type cut = target.find_last_of("\\/:");
        std::wstring folder;
        DWORD folderAttributes = FILE_ATTRIBUTE_DIRECTORY;  // the current folder
        if (cut != std::string::npos)
            folderAttributes = widen(target.substr(0, cut + 1).c_str(), folder) ? GetFileAttributesW(folder.c_str())
                                                                                : INVALID_FILE_ATTRIBUTES;
        if (folderAttributes == INVALID_FILE_ATTRIBUTES)
            error = ENOENT;
        else if (!(folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
            error = ENOTDIR;
    }
    why = error ? std::strerror(error) : "";
    return error == 0;
}

bool finishFile(std::FILE* file)
{
    bool flushed = std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
    bool closed = std::fclose(file) == 0;
    return flushed && closed;
}

bool replaceFile(const char* from, const char* to)
{
    std::wstring wideFrom, wideTo;
    return widen(from, wideFrom) && widen(to, wideTo)
           && MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool placeNewFile(const char* from, const char* to, bool& taken)
{
    // Without MOVEFILE_REPLACE_EXISTING the move fails on an existing file.
    taken = false;
    std::wstring wideFrom, wideTo;
    if (!widen(from, wideFrom) || !widen(to, wideTo))
        return false;
    if (MoveFileExW(wideFrom.c_str(), wideTo.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = GetLastError();
    taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return false;
}

bool userFolder(UserFolder, const char* sub, std::string& dir)
{
    if (!userBase(dir))
        return false;
    std::string parts(sub);
    parts += '/';
    for (std::string::size_type from = 0, slash; (slash = parts.find('/', from)) != std::string::npos; from = slash + 1) {
        dir += '\\';
        dir += parts.substr(from, slash - from);
        std::wstring wide;
        if (!widen(dir.c_str(), wide))
            return false;
        if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)
            || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return false;
    }
    dir += '\\';
    return true;
}

bool userFolderPath(UserFolder, const char* sub, std::string& dir)
{
    if (!userBase(dir))
        return false;
    dir += '\\';
    for (const char* c = sub; *c; ++c)
        dir += *c == '/' ? '\\' : *c;
    dir += '\\';
    return true;
}

bool removeFile(const char* path)
{
    std::wstring wide;
    return widen(path, wide) && _wunlink(wide.c_str()) == 0;
}

std::tm utcTime(std::time_t when)
{
    std::tm utc{};
    gmtime_s(&utc, &when);
    return utc;
}

std::tm localTime(std::time_t when)
{
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

bool isTerminal(std::FILE* stream)
{
    return _isatty(_fileno(stream)) != 0;
}

void useBinaryStandardStreams()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

std::vector<std::string> programArguments(int, char**)
{
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        // An argument with no UTF-8 form (a lone surrogate) becomes empty,
        // which names no file.
        const int length =
            WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(length > 0 ? static_cast<std::size_t>(length) : 1, '\0');
        if (length > 0)
            WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide[i], -1, &utf8[0], length, nullptr, nullptr);
        utf8.pop_back();
        arguments.push_back(utf8);
    }
    LocalFree(wide);
    return arguments;
}
