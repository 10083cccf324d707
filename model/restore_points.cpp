// Restore points, written with the same care as a map file: a new private
// file beside its place, flushed to the disk, then put in place in one step
// without ever replacing what is there.
#include "restore_points.h"

#include <cstdio>
#include <string>

#include "map_file.h"
#include "platform_paths.h"
#include "user_files.h"

namespace {

std::string stampOf(std::time_t when)
{
    const std::tm utc = utcTime(when);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    return stamp;
}

}  // namespace

bool restorePointFolder(std::string& dir)
{
    return userFolder(UserFolder::data, "kvz-cdi/backups", dir);
}

bool keepRestorePoint(const UnitImage& image, const char* kind, std::time_t when, std::string& path)
{
    std::string dir;
    if (!restorePointFolder(dir)) {
        path = dir;
        return false;
    }
    const std::string stem = dir + stampOf(when) + "-" + kind;

    UnitContents contents;
    decodeUnitImage(image, cdiDevice.timerConstant, contents);
    std::string binTemp, cdiTemp;
    const bool written =
        writeBeside(stem + ".bin", Contents::bytes, binTemp,
                    [&](std::FILE* f) { return std::fwrite(image.bytes, sizeof image.bytes, 1, f) == 1; })
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
    path = dir;
    return false;
}
