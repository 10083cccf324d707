// The operating-system side of the map file on POSIX systems: where the
// temporary folder is, how a map file is opened for reading, and how a saved
// file replaces the old one in one step.
#include "platform_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
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

bool removeFile(const char* path)
{
    return std::remove(path) == 0;
}
