// The operating-system side of the map file on POSIX systems: where the
// temporary folder and the user's folders are, what stands at a path, how a
// map file is opened for reading, and how a saved file replaces the old one
// in one step.
#include "platform_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// The superuser passes every permission check, but a file that nobody may
// write is still neither to be replaced nor loaded.
bool hasWriteBit(const struct stat& st)
{
    return (st.st_mode & 0222) != 0;
}

// The descriptor as a stream when it is what the caller asked for; else
// closed, and null.
std::FILE* streamOrClose(int fd, bool fits, const char* mode)
{
    std::FILE* file = fits ? fdopen(fd, mode) : nullptr;
    if (!file)
        close(fd);
    return file;
}

// What the command line's inputs and outputs read and write in place.
bool isStream(mode_t mode)
{
    return S_ISCHR(mode) || S_ISFIFO(mode);
}

// Linux gives up on a lookup after this many links; so does resolveLinks.
constexpr int kMaxLinks = 40;

// The base of one of the user's folders: the variable when it holds an
// absolute path (a relative one counts as unset), else its default under
// the home folder.
bool userBase(UserFolder which, std::string& dir)
{
    const char* xdg = std::getenv(which == UserFolder::data ? "XDG_DATA_HOME" : "XDG_STATE_HOME");
    if (xdg && xdg[0] == '/') {
        dir = xdg;
        return true;
    }
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* user = getpwuid(geteuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!home || home[0] != '/')
        return false;
    dir = std::string(home) + (which == UserFolder::data ? "/.local/share" : "/.local/state");
    return true;
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
    return streamOrClose(fd, fits, "r");
}

std::FILE* openInputFile(const char* path)
{
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && fcntl(fd, F_SETFL, 0) == 0;
    const int why = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    std::FILE* file = streamOrClose(fd, regular, "r");
    if (!file)
        errno = why;
    return file;
}

bool isStreamPath(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && isStream(st.st_mode);
}

std::FILE* openStreamInput(const char* path)
{
    // The path may name something else by now: what was opened is asked.
    int fd = open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    return streamOrClose(fd, fstat(fd, &st) == 0 && isStream(st.st_mode), "r");
}

bool isSameFile(const char* path, std::FILE* stream)
{
    struct stat named, opened;
    const int fd = fileno(stream);
    return fd >= 0 && stat(path, &named) == 0 && fstat(fd, &opened) == 0 && named.st_dev == opened.st_dev
           && named.st_ino == opened.st_ino;
}

std::FILE* openForAppending(const char* path)
{
    int fd = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st;
    return streamOrClose(fd, fstat(fd, &st) == 0 && S_ISREG(st.st_mode), "a");
}

std::FILE* createNewFile(const char* path, bool& taken)
{
    // O_EXCL fails on a link there too, dangling or not.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    taken = fd < 0 && errno == EEXIST;
    return fd < 0 ? nullptr : streamOrClose(fd, true, "w");
}

PathKind whatIsAt(const char* path)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return errno == ENOENT ? PathKind::missing : PathKind::other;
    return S_ISREG(st.st_mode) && st.st_uid == geteuid() ? PathKind::ownFile : PathKind::other;
}

bool resolveLinks(const char* path, std::string& resolved)
{
    resolved = path;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat st;
        if (lstat(resolved.c_str(), &st) != 0)
            return errno == ENOENT;
        if (!S_ISLNK(st.st_mode))
            return true;
        char target[4096];
        const ssize_t length = readlink(resolved.c_str(), target, sizeof target);
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof target)
            return false;
        // A relative target is read from the link's own folder.
        std::string next(target, static_cast<std::size_t>(length));
        if (next[0] != '/') {
            const std::string::size_type slash = resolved.rfind('/');
            next.insert(0, slash == std::string::npos ? std::string() : resolved.substr(0, slash + 1));
        }
        resolved = next;
    }
    return false;
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

std::FILE* createFileBeside(const char* target, std::string& tempPath, Contents)
{
    std::string dir(target);
    std::string::size_type slash = dir.rfind('/');
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    tempPath = dir + ".kvz-cdi-XXXXXX";
    // mkstemp creates the name exclusively, so a link planted there is
    // never followed, and makes the file private.
    int fd = mkstemp(&tempPath[0]);
    if (fd < 0)
        return nullptr;
    // Only a regular file lends its permissions: a link's own are all set.
    struct stat old;
    bool moded = lstat(target, &old) != 0 || !S_ISREG(old.st_mode) || fchmod(fd, old.st_mode & 0777) == 0;
    std::FILE* file = moded ? fdopen(fd, "w") : nullptr;
    if (!file) {
        close(fd);
        unlink(tempPath.c_str());
    }
    return file;
}

bool isTempFileName(const std::string& name)
{
    return name.size() == 15 && name.compare(0, 9, ".kvz-cdi-") == 0;
}

std::FILE* openOutputInPlace(const char* path, Contents, OutputKind& kind)
{
    struct stat st;
    if (stat(path, &st) != 0 || S_ISREG(st.st_mode)) {
        kind = OutputKind::file;
        return nullptr;
    }
    kind = isStream(st.st_mode) ? OutputKind::inPlace : OutputKind::refused;
    if (kind == OutputKind::refused)
        return nullptr;
    // The path may name something else by now: what was opened is asked.
    int fd = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return streamOrClose(fd, fstat(fd, &st) == 0 && isStream(st.st_mode), "w");
}

namespace {
// 0 when the output can be written; else an errno value, or -1 with `why`
// set where errno has no word for it.
int outputError(const char* path, std::string& why)
{
    std::string target;
    if (!*path)
        return ENOENT;
    if (!resolveLinks(path, target))
        return ELOOP;
    struct stat st;
    if (stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return EISDIR;
        if (S_ISSOCK(st.st_mode) || S_ISBLK(st.st_mode)) {
            why = S_ISSOCK(st.st_mode) ? "is a socket" : "is a block device";
            return -1;
        }
        // Written in place.
        if (isStream(st.st_mode))
            return faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 ? 0 : errno;
        if (isReadOnlyFile(target.c_str()))
            return EACCES;
    } else if (errno != ENOENT) {
        return errno;
    }
    // A new file is made beside it, then renamed into its place.
    const std::string::size_type slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    if (stat(dir.c_str(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    return faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}
}  // namespace

bool canWriteOutput(const char* path, std::string& why)
{
    const int error = outputError(path, why);
    if (error > 0)
        why = std::strerror(error);
    return error == 0;
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

bool placeNewFile(const char* from, const char* to, bool& taken)
{
    // link never replaces what is at `to`; a file system without hard links
    // gets a rename behind a check, which nobody else can race in a folder
    // private to the user.
    taken = false;
    if (link(from, to) == 0) {
        unlink(from);
        return true;
    }
    if (errno == EEXIST) {
        taken = true;
        return false;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return false;
    struct stat st;
    if (lstat(to, &st) == 0 || errno != ENOENT) {
        taken = errno != ENOENT;
        return false;
    }
    return std::rename(from, to) == 0;
}

bool userFolder(UserFolder which, const char* sub, std::string& dir)
{
    if (!userBase(which, dir))
        return false;
    // The user's folders and the parts of `sub` are made private when made;
    // the parts of `sub` are made so when they already exist, too.
    std::string::size_type from = 1;
    const std::string::size_type ownFrom = dir.size();
    dir += '/';
    dir += sub;
    for (;;) {
        std::string::size_type slash = dir.find('/', from);
        const std::string part = dir.substr(0, slash);
        if (!part.empty() && mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash > ownFrom) {
            struct stat st;
            if (lstat(part.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
                return false;
            if ((st.st_mode & 07777) != 0700 && chmod(part.c_str(), 0700) != 0)
                return false;
        }
        if (slash == std::string::npos)
            break;
        from = slash + 1;
    }
    if (dir.back() != '/')
        dir += '/';
    return true;
}

bool userFolderPath(UserFolder which, const char* sub, std::string& dir)
{
    if (!userBase(which, dir))
        return false;
    dir = dir + '/' + sub + '/';
    return true;
}

bool removeFile(const char* path)
{
    return std::remove(path) == 0;
}

std::tm utcTime(std::time_t when)
{
    std::tm utc{};
    gmtime_r(&when, &utc);
    return utc;
}

std::tm localTime(std::time_t when)
{
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

bool isTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}

void useBinaryStandardStreams() {}

std::vector<std::string> programArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}
