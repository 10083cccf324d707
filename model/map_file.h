// The plain-text .cdi map file and the autosave file kept beside it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cdi_device.h"
#include "map_table.h"

// 1 when the file was written, else 0. Appends ".cdi" where it is missing.
// The old file is replaced only by a complete new one, and never when this
// user may not write it.
int saveMapFile(const char* path);

// 1 when the file was read through its "rev_limit" line, else 0; a load that
// fails changes nothing.
int loadMapFile(const char* path);

// Called at the end of every load whose file could be opened, also one that
// failed; start-up binds it to the option controls' refresh. Null means
// nothing to call.
extern void (*onConfigChanged)();

// The temporary directory followed by "autosaved.cdi"; empty when the
// directory is unknown or the path does not fit.
extern char autosavePath[1024];

void buildAutosavePath();
int loadAutosave();   // at start-up; 1 when a file was applied, else nothing changed
void saveAutosave();  // when the window closes; a failure is not reported

// The 649 lines of a map file for these tables and this configuration, as
// a save writes them. False when a line could not be written.
bool writeMapLines(std::FILE* file, const MapTable& ignition, const MapTable& valve, const ConfigBlock& config);

// The contents of a map file, read but not yet applied, so that a file with
// a fault changes nothing.
struct MapFileRecord {
    double ignition[MapTable::kRun];  // run order, as read, not yet clamped
    double valve[MapTable::kRun];
    // The option lines in file order: QS-RPM, QS_ONT, QS-CUT, QS-DIS and
    // rev_limit, then the ones a file may lack: PulseType, PickupDeg, QS-STP
    // and QS-REV.
    std::int32_t options[9];
    int optionCount;  // 5..9
};

// Reads the text of a map file into the record. 1 when it holds every line
// through "rev_limit" and every field converts, else 0. Changes no table.
int parseMapFile(const std::string& text, MapFileRecord& record);

// Stores a parsed file into the tables, through their clamps, and into the
// configuration block.
void applyMapFile(const MapFileRecord& record);
