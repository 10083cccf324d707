// The operating-system side of the map file: where the temporary folder is,
// how a map file is opened for reading, and how a saved file replaces the
// old one in one step. Everything that differs between systems is here.
#include "platform_paths.h"

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>

bool tempDirectory(std::string& dir)
{
    wchar_t wide[1024];
    DWORD length = GetTempPathW(1024, wide);
    if (length == 0 || length >= 1024)
        return false;
    // Paths go to the narrow file calls, which take the ANSI code page; a
    // name it cannot spell would point somewhere else.
    char narrow[1024];
    BOOL lossy = FALSE;
    UINT codePage = GetACP();
    int converted = WideCharToMultiByte(codePage, codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1,
                                        narrow, sizeof narrow, nullptr, codePage == CP_UTF8 ? nullptr : &lossy);
    if (converted <= 1 || lossy)
        return false;
    dir = narrow;
    if (dir.back() != '\\' && dir.back() != '/')
        dir += '\\';
    return true;
}

std::FILE* openMapForReading(const char* path, bool ownedOnly)
{
    // The per-user temporary folder is writable by its user alone, so a link
    // is all there is to refuse in it.
    if (ownedOnly) {
        DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES
            || (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
            return nullptr;
    }
    int fd = -1;
    if (_sopen_s(&fd, path, _O_RDWR | _O_BINARY, _SH_DENYNO, 0) != 0)
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

bool isReadOnlyFile(const char* path)
{
    struct _stat64 st;
    return _stat64(path, &st) == 0 && !(st.st_mode & _S_IWRITE);
}

std::FILE* createFileBeside(const char* target, std::string& tempPath)
{
    std::string dir(target);
    std::string::size_type cut = dir.find_last_of("\\/:");
    dir = cut == std::string::npos ? std::string() : dir.substr(0, cut + 1);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "kvz-cdi-%lu-%lu.tmp", static_cast<unsigned long>(GetCurrentProcessId()),
                      static_cast<unsigned long>(GetTickCount() + attempt));
        tempPath = dir + name;
        int fd = -1;
        errno_t error = _sopen_s(&fd, tempPath.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_TEXT, _SH_DENYWR,
                                 _S_IREAD | _S_IWRITE);
        if (error == 0) {
            std::FILE* file = _fdopen(fd, "w");
            if (!file) {
                _close(fd);
                std::remove(tempPath.c_str());
            }
            return file;
        }
        if (error != EEXIST)
            return nullptr;
    }
    return nullptr;
}

bool finishFile(std::FILE* file)
{
    bool flushed = std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
    bool closed = std::fclose(file) == 0;
    return flushed && closed;
}

bool replaceFile(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

#else

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

// The superuser passes every permission check, but a file that nobody may
// write is still neither to be replaced nor loaded.
bool hasWriteBit(const struct stat& st)
{
    return (st.st_mode & 0222) != 0;
}

}  // namespace

bool tempDirectory(std::string& dir)
{
    std::error_code error;
    std::filesystem::path path = std::filesystem::temp_directory_path(error);
    if (error)
        return false;
    dir = path.native();
    if (dir.empty())
        return false;
    if (dir.back() != '/')
        dir += '/';
    return true;
}

std::FILE* openMapForReading(const char* path, bool ownedOnly)
{
    // Opened for update, as a file that may be written, but only read: the
    // open asks the permissions for this user the way isReadOnlyFile does
    // before a save. O_NOFOLLOW refuses a link in the same step that opens
    // the file, so nothing can be swapped in between a check and the open.
    int fd = open(path, ownedOnly ? O_RDWR | O_NOFOLLOW : O_RDWR);
    if (fd < 0)
        return nullptr;
    struct stat st;
    bool fits = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && hasWriteBit(st)
                && (!ownedOnly || st.st_uid == geteuid());
    std::FILE* file = fits ? fdopen(fd, "r") : nullptr;
    if (!file)
        close(fd);
    return file;
}

bool isReadOnlyFile(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return false;
    if (!hasWriteBit(st))
        return true;
    // The rename that replaces the file asks only the folder's permissions,
    // so in a folder anyone may write, a file of another user would be taken
    // over. Its own permissions are asked here, for the effective user, as
    // the loader's open asks them.
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0;
}

std::FILE* createFileBeside(const char* target, std::string& tempPath)
{
    std::string dir(target);
    std::string::size_type slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    tempPath = dir + ".kvz-cdi-XXXXXX";
    // mkstemp creates the name exclusively, so a link planted there is
    // never followed.
    int fd = mkstemp(&tempPath[0]);
    if (fd < 0)
        return nullptr;
    // mkstemp makes the file private; give it what a plain create would.
    mode_t mask = umask(0);
    umask(mask);
    std::FILE* file = fchmod(fd, 0666 & ~mask) == 0 ? fdopen(fd, "w") : nullptr;
    if (!file) {
        close(fd);
        unlink(tempPath.c_str());
    }
    return file;
}

bool finishFile(std::FILE* file)
{
    bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    bool closed = std::fclose(file) == 0;
    return flushed && closed;
}

bool replaceFile(const char* from, const char* to)
{
    return std::rename(from, to) == 0;
}

#endif
