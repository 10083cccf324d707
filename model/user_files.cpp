// Writing and reading the user's files through the platform's calls.
#include "user_files.h"

#include <cerrno>
#include <chrono>
#include <filesystem>

bool writeBeside(const std::string& target, Contents contents, std::string& tempPath, const WriteContents& write)
{
    std::FILE* file = createFileBeside(target.c_str(), tempPath, contents);
    if (!file)
        return false;
    const bool written = write(file);
    if (finishFile(file) && written)
        return true;
    removeFile(tempPath.c_str());
    return false;
}

void removeStaleTempFiles(const std::string& dir, int ageSeconds)
{
    namespace fs = std::filesystem;
    const fs::file_time_type before = fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds);
    std::error_code error;
    for (fs::directory_iterator entry(fs::u8path(dir), error), end; !error && entry != end; entry.increment(error)) {
        std::error_code ignored;
        if (isTempFileName(entry->path().filename().u8string()) && fs::is_regular_file(entry->symlink_status(ignored))
            && entry->last_write_time(ignored) < before)
            fs::remove(entry->path(), ignored);
    }
}

bool replaceWith(const char* path, Contents contents, const WriteContents& write)
{
    if (isReadOnlyFile(path))
        return false;
    std::string tempPath;
    if (!writeBeside(path, contents, tempPath, write))
        return false;
    if (replaceFile(tempPath.c_str(), path))
        return true;
    removeFile(tempPath.c_str());
    return false;
}

bool saveUserFile(const char* path, Contents contents, const WriteContents& write)
{
    StagedFile staged;
    return stageUserFile(path, contents, write, staged) && placeStaged(staged);
}

bool stageUserFile(const char* path, Contents contents, const WriteContents& write, StagedFile& staged)
{
    staged = StagedFile();
    if (!path || !*path || !resolveLinks(path, staged.target)) {
        errno = path && *path ? ELOOP : ENOENT;
        return false;
    }
    if (isReadOnlyFile(staged.target.c_str())) {
        errno = EACCES;
        return false;
    }
    return writeBeside(staged.target, contents, staged.temp, write);
}

bool placeStaged(const StagedFile& staged)
{
    if (replaceFile(staged.temp.c_str(), staged.target.c_str()))
        return true;
    dropStaged(staged);
    return false;
}

void dropStaged(const StagedFile& staged)
{
    if (!staged.temp.empty()) {
        const int error = errno;
        removeFile(staged.temp.c_str());
        errno = error;
    }
}

bool saveOutputFile(const char* path, Contents contents, const WriteContents& write)
{
    if (!path || !*path)
        return false;
    OutputKind kind;
    std::FILE* file = openOutputInPlace(path, contents, kind);
    if (kind == OutputKind::file)
        return saveUserFile(path, contents, write);
    if (!file)
        return false;
    // No flush to a disk: a device or a pipe has none.
    const bool written = write(file);
    return std::fclose(file) == 0 && written;
}

bool readWhole(std::FILE* file, std::size_t maxSize, std::string& text)
{
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (text.size() + got > maxSize) {
            errno = EFBIG;
            return false;
        }
        text.append(chunk, got);
    }
    return !std::ferror(file);
}

bool readUserFile(const char* path, std::size_t maxSize, std::string& text)
{
    std::FILE* file = openInputFile(path);
    if (!file)
        return false;
    const bool read = readWhole(file, maxSize, text);
    const int error = errno;
    std::fclose(file);
    errno = error;
    return read;
}
