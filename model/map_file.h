// The plain-text .cdi map file, and the autosave file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cdi_device.h"
#include "map_table.h"
#include "unit_image.h"

// The name a save writes for `path`: ".cdi" is added to a path of more than
// four characters that does not end in it. Empty when the name would not
// fit in 1024 bytes, or there is no path.
std::string mapFileName(const char* path);

// 1 when the file was written, else 0. Writes mapFileName(path); a link
// there is followed to the file it leads to in the end, which is replaced
// (or made, private to the user) while the link stays. The old file is
// replaced only by a complete new one, keeps its permissions, and is never
// replaced when this user may not write it.
int saveMapFile(const char* path);

// Writes a map file of these tables and this configuration to exactly
// `path`, nothing added to the name, by saveMapFile's rules: a link is
// followed and stays, a new file is private, an old one is replaced only by
// a complete new one and keeps its permissions. True when written.
bool saveMapFileAt(const char* path, const MapTable& ignition, const MapTable& valve, const ConfigBlock& config);

// 1 when the file was read through its "rev_limit" line, else 0; a load that
// fails changes nothing. Only a sound file is read: lines of tab- or
// blank-separated fields, LF or CR LF line ends, every line the fields its
// place asks for, every option line its own key in the written order.
int loadMapFile(const char* path);

// Called at the end of every load that applied its file; a refused file
// changes nothing, so nothing is called. Start-up binds it to the option
// controls' refresh. Null means nothing to call.
extern void (*onConfigChanged)();

// Where the autosave is: "autosaved.cdi" in the temporary folder while
// nothing, or a regular file of the user's own, is there; anything else
// there (another user's file, a link, a folder, a FIFO) puts it in the
// user's state folder instead ($XDG_STATE_HOME/kvz-cdi/, else
// ~/.local/state/kvz-cdi/; %LOCALAPPDATA%\kvz-cdi\ on Windows). Decided at
// start-up and again at close; empty when no place fits in the buffer.
extern char autosavePath[1024];

// At start-up: decides the place and loads the autosave from it, or from
// the state folder when nothing is at the place. 1 when a file was applied.
// The autosave is never read or written through a link. A file read whole
// but refused (damaged, cut short) leaves its bytes in `refused`, when
// given, so that start-up can keep it before a close replaces it.
int loadAutosave(std::string* refused = nullptr);
// At close: decides the place again and saves there; 1 when written.
int saveAutosave();

// From now on, for the rest of the run, saveAutosave writes nothing and
// returns 0, as when no place can be written: a damaged autosave that
// could not be kept elsewhere stays where it is, untouched.
void leaveAutosaveAlone();

// The 649 lines of a map file for these tables and this configuration, as
// a save writes them. False when a line could not be written.
bool writeMapLines(std::FILE* file, const MapTable& ignition, const MapTable& valve, const ConfigBlock& config);

// The option lines' keys in file order, which is not the configuration
// block's byte order: QS-RPM, QS_ONT, QS-CUT, QS-DIS and rev_limit, which a
// file must have, then PulseType, PickupDeg, QS-STP and QS-REV.
constexpr int kOptionLines = 9;
constexpr int kRequiredOptionLines = 5;
extern const char* const kOptionKeys[kOptionLines];

// The configuration's values for the option lines, in file order.
void optionValues(const ConfigBlock& config, std::uint8_t (&values)[kOptionLines]);

// A saved file is about 12 KB; anything this large is not a map file.
constexpr std::size_t kMaxMapFileSize = 16 * 1024 * 1024;

// The contents of a map file, read but not yet applied, so that a file with
// a fault changes nothing.
struct MapFileRecord {
    double ignition[MapTable::kRun];  // run order, as read, not yet clamped
    double valve[MapTable::kRun];
    std::int32_t options[kOptionLines];  // in file order, as read
    int optionCount;                     // 5..9
};

// Reads the text of a map file into the record. 1 when it holds every line
// through "rev_limit" and every field converts, else 0, and `why` (when
// given) says what is wrong: "line 12: not a number". Changes no table.
int parseMapFile(const std::string& text, MapFileRecord& record, std::string* why = nullptr);

// Stores a parsed file into the tables, through their clamps, and into the
// configuration block's named fields and the record's latency offset.
void applyMapFile(const MapFileRecord& record);

// Stores a parsed file's points into two tables, through their clamps.
void storeMapPoints(const MapFileRecord& record, MapTable& ignition, MapTable& valve);

// What a parsed file holds, without the load's clamps: its points as they
// stand, its options as a load applies them over the initial configuration
// block, and the latency offset of its pulse type.
void mapFileContents(const MapFileRecord& record, UnitContents& contents);

// Reads and parses a map file the user named; unlike a load it takes a file
// that may not be written. 1 when it is sound, else 0.
int readMapFile(const char* path, MapFileRecord& record);
