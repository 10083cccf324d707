// The four commands of the Map tab: File Open, File Save, Device Read and
// Device Write. Each opens what it needs, runs to completion and leaves no
// device handle behind.
#include "commands.h"

#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Round_Button.H>

#include <string>

#include "cdi_device.h"
#include "dialogs.h"
#include "hid_link.h"
#include "main_window.h"
#include "map_file.h"
#include "map_table.h"
#include "my_chart.h"
#include "option_bindings.h"
#include "platform_paths.h"
#include "toolkit_dialogs.h"
#include "undo_redo.h"
#include "unit_commands.h"
#include "unit_limits.h"
#include "unit_lock.h"

const char kFileError[] = "Cannot open file or write data.";

namespace {
const char kFileFilter[] = "CDI data\t*.cdi";
const char kNoUnit[] = "USB CDI not found.";

// Opens the unit into the device record; refuses while a handle is held.
bool openDeviceHandle()
{
    if (cdiDevice.deviceHandle)
        return false;
    cdiDevice.deviceHandle = openUnit();
    return cdiDevice.deviceHandle != nullptr;
}

void closeDeviceHandle()
{
    if (cdiDevice.deviceHandle) {
        closeUnit(cdiDevice.deviceHandle);
        cdiDevice.deviceHandle = nullptr;
    }
}

// Takes the program's lock on the unit, waiting a few seconds for another
// program to finish with it, and opens the unit under it. The window says
// of a unit it cannot have what it says of one it cannot find; the log says
// why.
bool openLockedUnit(UnitLock& lock)
{
    switch (takeUnitLock(lock, kUnitLockWaitMs)) {
    case LockResult::taken:
        if (openDeviceHandle())
            return true;
        releaseUnitLock(lock);
        break;
    case LockResult::noUnit:
    case LockResult::interrupted:  // the window's waits have no stop
        break;
    case LockResult::busy:
        cdiDevice.print("The unit is in use by another program.\n");
        break;
    case LockResult::failed:
        cdiDevice.print(("Cannot open " + lock.path + ": " + lock.error + "\n").c_str());
        break;
    }
    dialogs.errorBox(kNoUnit);
    return false;
}

// The handle goes before the lock. A reply still owed keeps the lock, which
// the status poll lets go once that reply can no longer come.
void closeLockedUnit(UnitLock& lock)
{
    closeDeviceHandle();
    releaseUnitLock(lock);
}

void redrawCharts()
{
    widgets.ignitionChart->redraw();
    widgets.valveChart->redraw();
}
}

void onFileOpen(Fl_Widget*, void*)
{
    std::string path;
    const int chosen = chooseFile({Fl_Native_File_Chooser::BROWSE_FILE, "Load CDI data", kFileFilter, 0}, path);
    if (chosen > 0)
        return;
    // A file that cannot be loaded is said so; the load changed nothing.
    if (chosen < 0 || !openMapFile(path.c_str()))
        dialogs.errorBox(kFileError);
}

bool openMapFile(const char* path)
{
    if (!loadMapFile(path))
        return false;
    redrawCharts();
    setWindowTitle(path);
    recordCommandChange();
    return true;
}

void onFileSave(Fl_Widget*, void*)
{
    std::string path;
    const int options = Fl_Native_File_Chooser::SAVEAS_CONFIRM | Fl_Native_File_Chooser::NEW_FOLDER;
    const int chosen = chooseFile({Fl_Native_File_Chooser::BROWSE_SAVE_FILE, "Save CDI data", kFileFilter, options}, path);
    if (chosen > 0)
        return;
    // The chooser asked about the name as chosen; a name the save extends
    // with ".cdi" is asked about here.
    const std::string name = mapFileName(path.c_str());
    if (chosen == 0 && name != path && whatIsAt(name.c_str()) != PathKind::missing
        && !dialogs.askYesNo((name + " already exists. Replace it?").c_str()))
        return;
    // A tune that was not saved is said so; the old file is left as it was.
    if (chosen < 0 || !saveMapFile(path.c_str())) {
        dialogs.errorBox(kFileError);
        return;
    }
    setWindowTitle(path.c_str());
}

void onDeviceRead(Fl_Widget*, void*)
{
    UnitLock lock;
    if (!openLockedUnit(lock))
        return;
    ConfigBlock& config = cdiDevice.config;
    const std::uint8_t heldPulseType = config.pulseType;

    ReadReport report;
    const bool read = readKeepingRestorePoint(cdiDevice, ignitionTable, valveTable, report);
    // The poll runs again while the result box is open.
    closeLockedUnit(lock);
    if (read) {
        dialogs.messageBox("Reading device map successfully.");
        setWindowTitle("device loaded");
    } else {
        dialogs.messageBox("Reading device map error.");
    }

    // A read that stopped part-way changed nothing, so there is nothing new
    // to check.
    if (read && config.pulseType != heldPulseType) {
        dialogs.errorBox("WARNNING:Engine Type not matched!\nCheck your config.");
        // The read already took the latency offset of the unit's type.
        widgets.onePulse->value(config.pulseType == 1);
        widgets.twoPulse->value(config.pulseType == 2);
    }
    if (read)
        fixZeroPickup(config);
    redrawCharts();
    refreshOptionWidgets();
    recordCommandChange();
}

bool readUnitImage(ReadReport& report)
{
    UnitLock lock;
    if (!openLockedUnit(lock))
        return false;
    const bool read = readImageKeepingRestorePoint(cdiDevice, report);
    closeLockedUnit(lock);
    if (!read)
        dialogs.messageBox("Reading device map error.");
    return read;
}

void onDeviceWrite(Fl_Widget*, void*)
{
    widgets.log->value("");
    // Held while the question is open, so that no other program comes
    // between the answer and the write.
    UnitLock lock;
    if (!openLockedUnit(lock))
        return;
    // What the unit cannot hold is said before it is asked for.
    const std::vector<DifferentRun> runs = differentRuns(ignitionTable, timingReference(cdiDevice));
    if (refuseUnsafeWrite(cdiDevice.config)
        || (!runs.empty() && !dialogs.askWriteAnyway(differentRunsText(runs).c_str()))
        || !dialogs.askYesNo("Do you realy want write data to CDI?")) {
        closeLockedUnit(lock);
        return;
    }
    WriteReport report;
    const bool written = writeKeepingRestorePoints(cdiDevice, ignitionTable, valveTable, report);
    closeLockedUnit(lock);
    // The tables and the configuration now hold what the unit returned.
    if (report.readBackRan) {
        redrawCharts();
        refreshOptionWidgets();
        recordCommandChange();
    }
    dialogs.messageBox(written ? "Writing device map successfully." : "Writing device map error.");
}
