// Device Read's and Device Write's steps around the transfers.
#include "unit_commands.h"

#include <cstring>
#include <ctime>

#include "dialogs.h"
#include "map_transfer.h"
#include "restore_points.h"
#include "unit_image.h"

namespace {

// Keeps the image and says in the log where it went.
bool keep(const CdiDevice& device, const UnitImage& image, const char* kind, std::string& path)
{
    const bool kept = keepRestorePoint(image, kind, std::time(nullptr), path);
    const std::string line = kept ? "Restore point: " + path + "\n"
                                  : "Cannot write a restore point to " + path + ".\n";
    device.print(line.c_str());
    return kept;
}

// The first block that differs, or -1.
int firstDifference(const UnitImage& a, const UnitImage& b)
{
    for (int block = 0; block < kUnitBlocks; ++block)
        if (std::memcmp(a.block(block), b.block(block), kBlockSize) != 0)
            return block;
    return -1;
}

}  // namespace

bool refuseUnsafeWrite(const ConfigBlock& config)
{
    if (config.pulseType != 1 && config.pulseType != 2) {
        dialogs.errorBox("Engine type is not set: choose 1 or 2 pulses on the Device tab, then check the pickup "
                         "coil position. Nothing was written.");
        return true;
    }
    if (config.pickupDeg == 0) {
        dialogs.errorBox("Pick up coil position is 0: set it on the Device tab. Nothing was written.");
        return true;
    }
    return false;
}

int readKeepingRestorePoint(CdiDevice& device, MapTable& ignition, MapTable& valve, std::string& restorePoint)
{
    UnitImage image;
    if (!readDeviceMaps(device, ignition, valve, &image))
        return 0;
    keep(device, image, "read", restorePoint);
    return 1;
}

int writeKeepingRestorePoints(CdiDevice& device, MapTable& ignition, MapTable& valve, WriteReport& report)
{
    // What the unit holds now: the restore point, and its own configuration
    // bytes, which the tool carries but never decides.
    UnitImage before;
    if (!readUnit(device, before, nullptr))
        return 0;
    if (!keep(device, before, "before-write", report.beforeWrite)) {
        const std::string box = "Cannot write a restore point to " + report.beforeWrite + ". Nothing was written.";
        dialogs.errorBox(box.c_str());
        return 0;
    }

    const ConfigBlock config = withUnitsOwnBytes(device.config, imageConfig(before));
    UnitImage sent;
    int requestsSent = 0;
    if (!writeUnit(device, ignition, valve, config, sent, requestsSent)) {
        if (requestsSent > 0) {
            const std::string line = "The unit now holds part new and part old data. What it held before is in "
                                     + report.beforeWrite + ".\n";
            device.print(line.c_str());
        }
        return 0;
    }

    report.readBackRan = true;
    UnitImage after;
    if (!readDeviceMaps(device, ignition, valve, &after))
        return 0;
    keep(device, after, "after-write", report.afterWrite);

    // As the unit returned it, before the read's fix-ups.
    const int differs = firstDifference(after, sent);
    if (differs >= 0) {
        const std::string line = "The unit does not hold what was written: block " + std::to_string(differs)
                                 + " reads back different.\n";
        device.print(line.c_str());
        return 0;
    }
    return 1;
}
