// Device Read's and Device Write's steps around the transfers.
#include "unit_commands.h"

#include <cstring>
#include <ctime>
#include <functional>

#include "dialogs.h"
#include "hid_link.h"
#include "map_transfer.h"
#include "restore_points.h"
#include "unit_image.h"

namespace {

// A unit that keeps sending is not waited for beyond this: the next two
// passes then decide.
constexpr int kQuietLimitMs = 10000;

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

// What a write sends, known once the unit's image before it is.
using WriteSource = std::function<BlockSource(const UnitImage& before)>;

// Both tables and the record's named fields over the unit's own bytes,
// which the tool carries but never decides.
BlockSource tablesOver(const CdiDevice& device, const MapTable& ignition, const MapTable& valve,
                       const UnitImage& before)
{
    return tableBlocks(ignition, valve, withUnitsOwnBytes(device.config, imageConfig(before)),
                       timingReference(device));
}

// The one write sequence: read the whole unit and keep it, write, read
// everything back into the tables and the record, keep that, compare.
int writeSequence(CdiDevice& device, const WriteSource& source, MapTable& ignition, MapTable& valve,
                  WriteReport& report)
{
    UnitImage before;
    if (!readWholeUnit(device, before)) {
        report.stop = WriteStop::readBefore;
        return 0;
    }
    if (!keep(device, before, "before-write", report.beforeWrite)) {
        report.stop = WriteStop::restorePoint;
        const std::string box = "Cannot write a restore point to " + report.beforeWrite + ". Nothing was written.";
        dialogs.errorBox(box.c_str());
        return 0;
    }

    UnitImage sent;
    int requestsSent = 0;
    if (!writeUnit(device, source(before), sent, requestsSent)) {
        report.stop = WriteStop::write;
        report.partWritten = requestsSent > 0;
        if (report.partWritten) {
            const std::string line = "The unit now holds part new and part old data. What it held before is in "
                                     + report.beforeWrite + ".\n";
            device.print(line.c_str());
        }
        return 0;
    }

    report.readBackRan = true;
    UnitImage after;
    if (!readDeviceMaps(device, ignition, valve, &after)) {
        report.stop = WriteStop::readBack;
        return 0;
    }
    report.afterWriteKept = keep(device, after, "after-write", report.afterWrite);

    // As the unit returned it, before the read's fix-ups.
    report.differingBlock = firstDifference(after, sent);
    if (report.differingBlock >= 0) {
        report.stop = WriteStop::differs;
        const std::string line = "The unit does not hold what was written: block "
                                 + std::to_string(report.differingBlock) + " reads back different.\n";
        device.print(line.c_str());
        return 0;
    }
    return 1;
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

int readWholeUnit(CdiDevice& device, UnitImage& image, UnitContents* contents)
{
    for (int attempt = 1;; ++attempt) {
        UnitImage again;
        if (!readUnit(device, image, contents) || !rereadUnit(device, again))
            return 0;
        if (firstDifference(image, again) < 0)
            return 1;
        if (attempt == 2)
            break;
        // Whatever is still on its way lands now, not in the next pass.
        waitForQuiet(device.deviceHandle, kLateReplyMs, kQuietLimitMs);
    }
    device.print((std::string(kRepliesDisagree) + "\n").c_str());
    dialogs.errorBox(kRepliesDisagree);
    return 0;
}

int readKeepingRestorePoint(CdiDevice& device, MapTable& ignition, MapTable& valve, ReadReport& report)
{
    UnitContents contents;
    if (!readWholeUnit(device, report.image, &contents))
        return 0;
    storeContents(contents, device, ignition, valve);
    report.kept = keep(device, report.image, "read", report.restorePoint);
    return 1;
}

int readImageKeepingRestorePoint(CdiDevice& device, ReadReport& report)
{
    if (!readWholeUnit(device, report.image))
        return 0;
    report.kept = keep(device, report.image, "read", report.restorePoint);
    return 1;
}

bool fixZeroPickup(ConfigBlock& config)
{
    if (config.pickupDeg != 0)
        return false;
    dialogs.errorBox("WARNNING:Pickup degree is zero!\nCheck your config.");
    config.pickupDeg = enginePreset(config.pulseType).pickupDeg;
    return true;
}

int writeKeepingRestorePoints(CdiDevice& device, MapTable& ignition, MapTable& valve, WriteReport& report)
{
    return writeSequence(
        device, [&](const UnitImage& before) { return tablesOver(device, ignition, valve, before); }, ignition,
        valve, report);
}

UnitImage imageWritten(const CdiDevice& device, const MapTable& ignition, const MapTable& valve,
                       const UnitImage& before)
{
    const BlockSource source = tablesOver(device, ignition, valve, before);
    UnitImage image;
    for (int block = 0; block < kUnitBlocks; ++block)
        source(block, image.block(block));
    return image;
}

int restoreKeepingRestorePoints(CdiDevice& device, const UnitImage& image, MapTable& ignition, MapTable& valve,
                                WriteReport& report)
{
    return writeSequence(
        device, [&](const UnitImage&) { return imageBlocks(image); }, ignition, valve, report);
}
