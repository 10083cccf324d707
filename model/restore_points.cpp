// Restore points, written with the same care as a map file: a new private
// file beside its place, flushed to the disk, then put in place in one step
// without ever replacing what is there.
#include "restore_points.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>

#include "map_file.h"
#include "platform_paths.h"
#include "user_files.h"

namespace {

// Under the user's data folder.
constexpr char kFolder[] = "kvz-cdi/backups";

// A temporary file this old is no longer being written.
constexpr int kStaleTempSeconds = 60;

std::string stampOf(std::time_t when)
{
    const std::tm utc = utcTime(when);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    return stamp;
}

bool writeImage(std::FILE* file, const UnitImage& image)
{
    return std::fwrite(image.bytes, sizeof image.bytes, 1, file) == 1;
}

// False when the folder cannot be made; `dir` then still names it, for the
// message.
bool restorePointFolder(std::string& dir)
{
    return userFolder(UserFolder::data, kFolder, dir);
}

// The folder as messages name it: without a separator at its end.
std::string folderName(std::string dir)
{
    if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\'))
        dir.pop_back();
    return dir;
}

}  // namespace

bool keepRestorePoint(const UnitImage& image, const char* kind, std::time_t when, std::string& path)
{
    std::string dir;
    if (!restorePointFolder(dir)) {
        path = folderName(dir);
        return false;
    }
    // A program killed while it kept one left its temporary files here.
    removeStaleTempFiles(dir, kStaleTempSeconds);
    const std::string stem = dir + stampOf(when) + "-" + kind;

    UnitContents contents;
    decodeUnitImage(image, cdiDevice.timerConstant, contents);
    std::string binTemp, cdiTemp;
    const bool written =
        writeBeside(stem + ".bin", Contents::bytes, binTemp,
                    [&](std::FILE* f) { return writeImage(f, image); })
        && writeBeside(stem + ".cdi", Contents::text, cdiTemp, [&](std::FILE* f) {
               return writeMapLines(f, contents.ignition, contents.valve, contents.config);
           });
    // The two go in place under the first name free for both.
    for (int n = 1; written && n < 1000; ++n) {
        const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
        bool taken = false;
        if (!placeNewFile(binTemp.c_str(), (name + ".bin").c_str(), taken)) {
            if (taken)
                continue;
            break;
        }
        if (placeNewFile(cdiTemp.c_str(), (name + ".cdi").c_str(), taken)) {
            path = name + ".bin";
            return true;
        }
        // A .cdi of that name without its image: give the image back its
        // temporary name and try the next name. Never leave an image alone.
        if (!taken || !placeNewFile((name + ".bin").c_str(), binTemp.c_str(), taken)) {
            removeFile((name + ".bin").c_str());
            break;
        }
    }
    if (!binTemp.empty())
        removeFile(binTemp.c_str());
    if (!cdiTemp.empty())
        removeFile(cdiTemp.c_str());
    path = folderName(dir);
    return false;
}

bool restorePointFolderPath(std::string& dir)
{
    return userFolderPath(UserFolder::data, kFolder, dir);
}

std::vector<std::string> listRestorePoints()
{
    namespace fs = std::filesystem;
    struct Found {
        std::string stamp;  // YYYYMMDD-HHMMSS, the start of the name
        fs::file_time_type written;
        int kind;  // within one second and one file time: a read, then a write's two
        std::string path;
    };
    std::vector<Found> found;
    std::string dir;
    if (!restorePointFolderPath(dir))
        return {};
    std::error_code error;
    for (fs::directory_iterator entry(fs::u8path(dir), error), end; !error && entry != end; entry.increment(error)) {
        std::error_code ignored;
        if (entry->path().extension() != ".bin" || !entry->is_regular_file(ignored))
            continue;
        const std::string name = entry->path().filename().u8string();
        const int kind = name.find("-after-write") != std::string::npos    ? 2
                         : name.find("-before-write") != std::string::npos ? 1
                                                                           : 0;
        found.push_back({name.substr(0, 15), entry->last_write_time(ignored), kind, entry->path().u8string()});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.stamp, a.written, a.kind, a.path) > std::tie(b.stamp, b.written, b.kind, b.path);
    });
    std::vector<std::string> paths;
    for (const Found& point : found)
        paths.push_back(point.path);
    return paths;
}
