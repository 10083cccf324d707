// What Device Read and Device Write do around the transfers, for the window
// and the command line alike: the refusals, the restore points, the
// read-back and its comparison with what was sent. Boxes go through the
// seam, progress lines to the record's log.
#pragma once

#include <string>

#include "cdi_device.h"
#include "map_table.h"
#include "unit_image.h"

// A configuration no unit may be given: a pulse type other than 1 or 2, or
// a pickup position of 0. Shows the box that says why and returns true.
bool refuseUnsafeWrite(const ConfigBlock& config);

struct ReadReport {
    UnitImage image;           // what the unit returned
    std::string restorePoint;  // its path, or the folder it could not go to
    bool kept = false;
};

// What a whole-unit read says when its two passes differ twice.
constexpr char kRepliesDisagree[] = "the unit's replies did not agree twice; nothing was changed";

// Block exchanges of a whole-unit read that agrees at once: both passes.
constexpr int kWholeReadExchanges = 2 * kUnitBlocks;

// Every whole-unit read goes through here, on the record's open handle: the
// unit is believed only when it says the same twice. readUnit (its trace
// and log lines, and with `contents` the decoding), then rereadUnit, and
// the two 1024-byte images compared. When they differ, a reply of some
// earlier request came in between: the handle is left until it has been
// quiet for kLateReplyMs, and both passes run once more. Different again,
// the read fails as a failed block does, with kRepliesDisagree logged and
// in an error box. `image` gets the first pass. 1 when the passes agreed;
// changes neither the tables nor the record's configuration.
int readWholeUnit(CdiDevice& device, UnitImage& image, UnitContents* contents = nullptr);

// readWholeUnit; when it succeeded, its contents into both tables and the
// record, and the image kept as a restore point (a log line says where it
// went, or that it could not be kept). 1 when the read succeeded; on
// failure nothing is changed or kept.
int readKeepingRestorePoint(CdiDevice& device, MapTable& ignition, MapTable& valve, ReadReport& report);

// The same read into report.image alone: the tables and the record's
// configuration stay as they are.
int readImageKeepingRestorePoint(CdiDevice& device, ReadReport& report);

// After a read that succeeded: a pickup position of 0 is warned of in a box
// and replaced by the preset's for the pulse type, the one the maps were
// decoded with. True when it was 0.
bool fixZeroPickup(ConfigBlock& config);

// Where a write sequence stopped.
enum class WriteStop {
    none,          // the unit holds exactly what was sent
    readBefore,    // the read before it failed: nothing was written
    restorePoint,  // that read could not be kept: nothing was written
    write,         // a block was not written or not echoed
    readBack,      // the read-back failed
    differs,       // the read-back is not what was sent
};

struct WriteReport {
    WriteStop stop = WriteStop::none;
    bool readBackRan = false;  // the tables and record now hold the read-back
    bool partWritten = false;  // the unit may hold part new and part old data
    int differingBlock = -1;   // the first block read back different
    std::string beforeWrite;   // the restore point of what the unit held
    std::string afterWrite;    // of what it holds after, or the folder
    bool afterWriteKept = false;
};

// Device Write once the user said yes, on the record's open handle: reads
// the whole unit and keeps it as a restore point (nothing is written unless
// both worked); writes both tables and the record's named configuration
// fields over the unit's own configuration bytes; reads everything back
// into the tables and the record, keeps that too, and compares it with what
// was sent. 1 when the unit holds exactly what was sent.
int writeKeepingRestorePoints(CdiDevice& device, MapTable& ignition, MapTable& valve, WriteReport& report);

// The image writeKeepingRestorePoints sends to a unit that holds `before`.
UnitImage imageWritten(const CdiDevice& device, const MapTable& ignition, const MapTable& valve,
                       const UnitImage& before);

// The same sequence for a whole image, sent as it stands: no encoding, no
// fix-ups, the unit's own bytes those of the image.
int restoreKeepingRestorePoints(CdiDevice& device, const UnitImage& image, MapTable& ignition, MapTable& valve,
                                WriteReport& report);
