// The .cdi text file: 640 map lines, then the option lines. A load reads the
// whole file before it touches anything, and a save replaces the old file
// only with a complete new one, so neither can leave half a map behind.
#include "map_file.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cdi_device.h"
#include "platform_paths.h"

void (*onConfigChanged)() = nullptr;
char autosavePath[1024] = {};

namespace {

// The option keys in the order the lines stand in the file; the order is not
// the byte order of the configuration block.
const char* const kOptionKeys[9] = {"QS-RPM",    "QS_ONT",    "QS-CUT", "QS-DIS", "rev_limit",
                                    "PulseType", "PickupDeg", "QS-STP", "QS-REV"};
// Lines a file must have; the last four may be missing.
constexpr int kRequiredOptions = 5;

// A saved file is about 12 KB; anything this large is not a map file.
constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

// Reads fields the way formatted input does: whitespace, tabs and both line
// ends between fields are skipped, numbers are decimal and are read as far
// as they go. A key is only stepped over, so no key is too long.
struct FieldReader {
    const char* at;
    const char* end;  // the text is null-terminated here, which stops strtoll and strtod

    void skipSpace()
    {
        while (at < end && std::isspace(static_cast<unsigned char>(*at)))
            ++at;
    }

    // False when the text ends before the key.
    bool key()
    {
        skipSpace();
        if (at == end)
            return false;
        while (at < end && !std::isspace(static_cast<unsigned char>(*at)))
            ++at;
        return true;
    }

    // A value beyond 32 bits is refused rather than wrapped into some byte.
    bool integer(std::int32_t& out)
    {
        skipSpace();
        char* stop = nullptr;
        errno = 0;
        long long v = std::strtoll(at, &stop, 10);
        if (stop == at || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
            return false;
        at = stop;
        out = static_cast<std::int32_t>(v);
        return true;
    }

    // nan and inf are refused: NaN passes both clamps, since it compares
    // false both ways, and would reach the unit.
    bool real(double& out)
    {
        skipSpace();
        char* stop = nullptr;
        double v = std::strtod(at, &stop);
        if (stop == at || !std::isfinite(v))
            return false;
        at = stop;
        out = v;
        return true;
    }

    // A map line: a key, the point index and the value. The key and the index
    // are not looked at; the line's place in the file decides where it goes.
    bool mapLine(double& value)
    {
        std::int32_t index = 0;
        return key() && integer(index) && real(value);
    }
};

bool readWholeFile(std::FILE* file, std::string& text)
{
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (text.size() + got > kMaxFileSize)
            return false;
        text.append(chunk, got);
    }
    return !std::ferror(file);
}

int loadFrom(const char* path, bool ownedOnly)
{
    std::FILE* file = openMapForReading(path, ownedOnly);
    if (!file)
        return 0;
    std::string text;
    MapFileRecord record;
    int result = readWholeFile(file, text) && parseMapFile(text, record);
    std::fclose(file);
    if (result)
        applyMapFile(record);
    if (onConfigChanged)
        onConfigChanged();
    return result;
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

}  // namespace

bool writeMapLines(std::FILE* file, const MapTable& ignition, const MapTable& valve, const ConfigBlock& config)
{
    if (!writeTable(file, "IG", ignition) || !writeTable(file, "PV", valve))
        return false;
    const ConfigBlock& c = config;
    const std::uint8_t values[9] = {c.qsEnablePoint, c.qsDelayCount, c.qsCutCount, c.qsInvalidCount, c.revLimit,
                                    c.pulseType,     c.pickupDeg,    c.qsStopSwitch, c.qsReverse};
    for (int i = 0; i < 9; ++i)
        if (std::fprintf(file, "%s\t%03d\n", kOptionKeys[i], values[i]) < 0)
            return false;
    return !std::ferror(file);
}

int parseMapFile(const std::string& text, MapFileRecord& record)
{
    FieldReader in{text.c_str(), text.c_str() + text.size()};
    for (double& v : record.ignition)
        if (!in.mapLine(v))
            return 0;
    for (double& v : record.valve)
        if (!in.mapLine(v))
            return 0;
    record.optionCount = 0;
    for (int i = 0; i < 9; ++i) {
        if (!in.key())
            return i >= kRequiredOptions ? 1 : 0;
        if (!in.integer(record.options[i]))
            return 0;
        record.optionCount = i + 1;
    }
    return 1;
}

void applyMapFile(const MapFileRecord& record)
{
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        ignitionTable.setValue(k / MapTable::kPoints, k % MapTable::kPoints, record.ignition[k]);
        valveTable.setValue(k / MapTable::kPoints, k % MapTable::kPoints, record.valve[k]);
    }
    const std::int32_t* o = record.options;
    ConfigBlock& c = cdiDevice.config;
    c.qsEnablePoint = lowByte(o[0]);
    c.qsDelayCount = lowByte(o[1]);
    c.qsCutCount = lowByte(o[2]);
    c.qsInvalidCount = lowByte(o[3]);
    c.revLimit = lowByte(o[4]);
    // The preset's pickup gives way to the file's own, or to the two-pulse
    // one without it, whatever the pulse type.
    applyEnginePreset(record.optionCount > 5 ? lowByte(o[5]) : kTwoPulsePreset.pulseType);
    c.pickupDeg = record.optionCount > 6 ? lowByte(o[6]) : kTwoPulsePreset.pickupDeg;
    c.qsStopSwitch = record.optionCount > 7 && o[7] != 0 ? 1 : 0;
    c.qsReverse = record.optionCount > 8 && o[8] != 0 ? 1 : 0;
}

int loadMapFile(const char* path)
{
    if (!path || !*path)
        return 0;
    return loadFrom(path, false);
}

int saveMapFile(const char* path)
{
    if (!path || !*path)
        return 0;
    std::size_t length = std::strlen(path);
    bool addExtension = length > 4 && std::strcmp(path + length - 4, ".cdi") != 0;
    char target[1024] = {};
    // A path cut short would name some other file.
    if (length + (addExtension ? 4 : 0) >= sizeof target)
        return 0;
    std::memcpy(target, path, length);
    if (addExtension)
        std::memcpy(target + length, ".cdi", 4);

    if (isReadOnlyFile(target))
        return 0;
    std::string tempPath;
    std::FILE* file = createFileBeside(target, tempPath, Contents::text);
    if (!file)
        return 0;
    bool written = writeMapLines(file, ignitionTable, valveTable, cdiDevice.config);
    bool finished = finishFile(file);
    if (written && finished && replaceFile(tempPath.c_str(), target))
        return 1;
    removeFile(tempPath.c_str());
    return 0;
}

void buildAutosavePath()
{
    static const char kName[] = "autosaved.cdi";
    autosavePath[0] = '\0';
    std::string dir;
    if (!tempDirectory(dir) || dir.size() + sizeof kName > sizeof autosavePath)
        return;
    std::memcpy(autosavePath, dir.data(), dir.size());
    std::memcpy(autosavePath + dir.size(), kName, sizeof kName);
}

int loadAutosave()
{
    return autosavePath[0] ? loadFrom(autosavePath, true) : 0;
}

void saveAutosave()
{
    if (autosavePath[0])
        saveMapFile(autosavePath);
}
