// The .cdi text file: 640 map lines, then the option lines. A load reads the
// whole file before it touches anything, and a save replaces the old file
// only with a complete new one, so neither can leave half a map behind.
#include "map_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "cdi_device.h"
#include "platform_paths.h"
#include "text_fields.h"
#include "user_files.h"

void (*onConfigChanged)() = nullptr;
char autosavePath[1024] = {};
const char* const kOptionKeys[kOptionLines] = {"QS-RPM",    "QS_ONT",    "QS-CUT", "QS-DIS", "rev_limit",
                                               "PulseType", "PickupDeg", "QS-STP", "QS-REV"};

namespace {

constexpr std::size_t kMapLines = 2 * MapTable::kRun;
// Lines after the last option line are not read.
constexpr std::size_t kFileLines = kMapLines + kOptionLines;
// A path and its terminator fit in this many bytes, as in autosavePath.
constexpr std::size_t kPathBuffer = sizeof autosavePath;
const char kBlanks[] = " \t";

std::string_view trimBlanks(std::string_view text)
{
    const std::string_view::size_type first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The file's lines with text, without their line ends (LF or CR LF) and the
// blanks at their ends. Empty lines may only close the file: 0 when one
// stands before a line with text, else the number of that line.
std::size_t readLines(std::string_view text, std::vector<std::string_view>& lines)
{
    std::size_t emptyLine = 0;
    for (std::size_t n = 0; n < kFileLines && !text.empty(); ++n) {
        const std::string_view::size_type end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = trimBlanks(line);
        if (line.empty() && emptyLine == 0)
            emptyLine = n + 1;
        else if (!line.empty() && emptyLine != 0)
            return emptyLine;
        else if (!line.empty())
            lines.push_back(line);
    }
    return 0;
}

// Splits a line that has no blanks at its ends at runs of tabs and blanks;
// true when it has exactly `count` fields.
bool splitFields(std::string_view line, std::string_view* fields, int count)
{
    for (int i = 0; i < count; ++i) {
        fields[i] = line.substr(0, line.find_first_of(kBlanks));
        if (fields[i].empty())
            return false;
        line = trimBlanks(line.substr(fields[i].size()));
    }
    return line.empty();
}

// A map line: a key, the point index and the value. The key and the index
// are not looked at; the line's place in the file decides where it goes.
// nan and inf are refused: NaN passes both clamps, since it compares false
// both ways, and would reach the unit. Null, or what is wrong with it.
const char* readMapLine(std::string_view line, double& value)
{
    std::string_view fields[3];
    std::int32_t index = 0;
    if (!splitFields(line, fields, 3))
        return "not a key, a point and a value";
    if (!readNumber(fields[1], index) || !readNumber(fields[2], value))
        return "not a number";
    return std::isfinite(value) ? nullptr : "not a finite number";
}

// An option line carries its own key: a line missing or added before
// "rev_limit" could be found no other way. Null, or what is wrong with it.
const char* readOptionLine(std::string_view line, const char* key, std::int32_t& value)
{
    std::string_view fields[2];
    if (!splitFields(line, fields, 2) || fields[0] != key)
        return "not the option line expected there";
    return readNumber(fields[1], value) ? nullptr : "not a number";
}

// A refused file changes nothing, the option controls included: they keep
// what they show. A file read whole but refused leaves its bytes in
// `refused`, when given.
int loadFrom(const char* path, bool ownedOnly, std::string* refused)
{
    std::FILE* file = openMapForReading(path, ownedOnly);
    if (!file)
        return 0;
    std::string text;
    MapFileRecord record;
    const bool read = readWhole(file, kMaxMapFileSize, text);
    std::fclose(file);
    if (!read || !parseMapFile(text, record)) {
        if (read && refused)
            *refused = std::move(text);
        return 0;
    }
    applyMapFile(record);
    if (onConfigChanged)
        onConfigChanged();
    return 1;
}

bool writeTable(std::FILE* file, const char* key, const MapTable& table)
{
    for (std::uint32_t map = 0; map < MapTable::kMaps; ++map)
        for (std::uint32_t index = 0; index < MapTable::kPoints; ++index)
            if (std::fprintf(file, "%s:%d\t%03d\t%f\n", key, static_cast<int>(map), static_cast<int>(index),
                             table.value(map, index)) < 0)
                return false;
    return true;
}


// Writes the maps to exactly this path, a link there replaced, not
// followed. The old file is replaced only by a complete new one, and never
// when this user may not write it.
bool writeMapFile(const char* target)
{
    return replaceWith(target, Contents::text, [](std::FILE* file) {
        return writeMapLines(file, ignitionTable, valveTable, cdiDevice.config);
    });
}

// The options as a load applies them, into the named fields only: the low
// byte of each number, the preset of the pulse type (the two-pulse one
// without the line), then the file's own pickup (36 without it, whatever
// the pulse type), and the two switches as 0 or 1.
void applyOptions(const MapFileRecord& record, ConfigBlock& c, std::int32_t& latencyOffset)
{
    const std::int32_t* o = record.options;
    c.qsEnablePoint = lowByte(o[0]);
    c.qsDelayCount = lowByte(o[1]);
    c.qsCutCount = lowByte(o[2]);
    c.qsInvalidCount = lowByte(o[3]);
    c.revLimit = lowByte(o[4]);
    applyEnginePreset(record.optionCount > 5 ? lowByte(o[5]) : kTwoPulsePreset.pulseType, c, latencyOffset);
    c.pickupDeg = record.optionCount > 6 ? lowByte(o[6]) : kTwoPulsePreset.pickupDeg;
    c.qsStopSwitch = record.optionCount > 7 && o[7] != 0 ? 1 : 0;
    c.qsReverse = record.optionCount > 8 && o[8] != 0 ? 1 : 0;
}

const char kAutosaveName[] = "autosaved.cdi";

// The autosave in the user's state folder, which `make` makes when missing.
std::string stateAutosave(bool make)
{
    std::string dir;
    const bool found = make ? userFolder(UserFolder::state, "kvz-cdi", dir)
                            : userFolderPath(UserFolder::state, "kvz-cdi", dir);
    return found ? dir + kAutosaveName : std::string();
}

// The autosave in the temporary folder, while nothing or a file of the
// user's own is there: another user's file, a link, a folder or a FIFO at
// that shared name must neither block the autosave nor be written through.
std::string tempAutosave()
{
    std::string dir;
    if (!tempDirectory(dir))
        return {};
    const std::string path = dir + kAutosaveName;
    return whatIsAt(path.c_str()) == PathKind::other ? std::string() : path;
}

// Decides autosavePath: the temporary folder's place when it may be used and
// fits, else the state folder's, else none.
void placeAutosave(bool make)
{
    std::string path = tempAutosave();
    if (path.empty() || path.size() >= kPathBuffer)
        path = stateAutosave(make);
    if (path.size() >= kPathBuffer)
        path.clear();
    std::memcpy(autosavePath, path.c_str(), path.size() + 1);
}

}  // namespace

bool writeMapLines(std::FILE* file, const MapTable& ignition, const MapTable& valve, const ConfigBlock& config)
{
    if (!writeTable(file, "IG", ignition) || !writeTable(file, "PV", valve))
        return false;
    std::uint8_t values[kOptionLines];
    optionValues(config, values);
    for (int i = 0; i < kOptionLines; ++i)
        if (std::fprintf(file, "%s\t%03d\n", kOptionKeys[i], values[i]) < 0)
            return false;
    return !std::ferror(file);
}

void optionValues(const ConfigBlock& c, std::uint8_t (&values)[kOptionLines])
{
    const std::uint8_t inFileOrder[kOptionLines] = {c.qsEnablePoint, c.qsDelayCount, c.qsCutCount,
                                                    c.qsInvalidCount, c.revLimit,   c.pulseType,
                                                    c.pickupDeg,     c.qsStopSwitch, c.qsReverse};
    std::copy(std::begin(inFileOrder), std::end(inFileOrder), values);
}

int parseMapFile(const std::string& text, MapFileRecord& record, std::string* why)
{
    std::vector<std::string_view> lines;
    if (const std::size_t empty = readLines(text, lines))
        return refuseLine(why, empty, "an empty line before the end");
    if (lines.size() < kMapLines + kRequiredOptionLines) {
        if (why)
            *why = "cut short: " + std::to_string(lines.size()) + " lines, "
                   + std::to_string(kMapLines + kRequiredOptionLines) + " needed";
        return 0;
    }
    // With no empty line among them, line k + 1 of the file is lines[k].
    for (std::size_t k = 0; k < kMapLines; ++k) {
        double& value = k < MapTable::kRun ? record.ignition[k] : record.valve[k - MapTable::kRun];
        if (const char* wrong = readMapLine(lines[k], value))
            return refuseLine(why, k + 1, wrong);
    }
    record.optionCount = static_cast<int>(lines.size() - kMapLines);
    for (int i = 0; i < record.optionCount; ++i)
        if (const char* wrong = readOptionLine(lines[kMapLines + i], kOptionKeys[i], record.options[i]))
            return refuseLine(why, kMapLines + i + 1, wrong);
    return 1;
}

void storeMapPoints(const MapFileRecord& record, MapTable& ignition, MapTable& valve)
{
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        ignition.setValue(k / MapTable::kPoints, k % MapTable::kPoints, record.ignition[k]);
        valve.setValue(k / MapTable::kPoints, k % MapTable::kPoints, record.valve[k]);
    }
}

void applyMapFile(const MapFileRecord& record)
{
    storeMapPoints(record, ignitionTable, valveTable);
    applyOptions(record, cdiDevice.config, cdiDevice.latencyOffset);
}

void mapFileContents(const MapFileRecord& record, UnitContents& contents)
{
    std::copy(std::begin(record.ignition), std::end(record.ignition), contents.ignition.points);
    std::copy(std::begin(record.valve), std::end(record.valve), contents.valve.points);
    contents.config = CdiDevice::initialConfig();
    applyOptions(record, contents.config, contents.latencyOffset);
}

int readMapFile(const char* path, MapFileRecord& record)
{
    std::string text;
    return readUserFile(path, kMaxMapFileSize, text) && parseMapFile(text, record);
}

int loadMapFile(const char* path)
{
    if (!path || !*path)
        return 0;
    return loadFrom(path, false, nullptr);
}

std::string mapFileName(const char* path)
{
    if (!path || !*path)
        return {};
    std::string name(path);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cdi") != 0)
        name += ".cdi";
    // A path cut short would name some other file.
    return name.size() < kPathBuffer ? name : std::string();
}

int saveMapFile(const char* path)
{
    const std::string name = mapFileName(path);
    return !name.empty() && saveMapFileAt(name.c_str(), ignitionTable, valveTable, cdiDevice.config);
}

bool saveMapFileAt(const char* path, const MapTable& ignition, const MapTable& valve, const ConfigBlock& config)
{
    return saveUserFile(path, Contents::text,
                        [&](std::FILE* file) { return writeMapLines(file, ignition, valve, config); });
}

int loadAutosave(std::string* refused)
{
    placeAutosave(false);
    // An autosave that had to live in the state folder is found there even
    // once the temporary folder's place is free again.
    const std::string from = whatIsAt(autosavePath) == PathKind::missing ? stateAutosave(false) : autosavePath;
    return !from.empty() && loadFrom(from.c_str(), true, refused);
}

namespace {
bool autosaveLeftAlone = false;
}

void leaveAutosaveAlone()
{
    autosaveLeftAlone = true;
}

int saveAutosave()
{
    if (autosaveLeftAlone)
        return 0;
    // Never through a link: one planted at the place after it was decided
    // is replaced, not followed; in a sticky folder the system refuses to
    // replace another user's, and the save fails instead.
    placeAutosave(true);
    return autosavePath[0] && writeMapFile(autosavePath);
}
