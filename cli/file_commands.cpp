// The commands on files: diff (which may read the unit too), export and
// import.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "cdi_device.h"
#include "commands.h"
#include "map_csv.h"
#include "map_file.h"
#include "map_table.h"
#include "map_transfer.h"
#include "restore_points.h"
#include "timing_codec.h"
#include "unit_image.h"
#include "user_files.h"

namespace {

// One side of a comparison as the tool would hold it: a map file's points
// without the load's clamps and its options as a load applies them, or an
// image decoded as a read decodes it, kept raw as well.
struct Side {
    UnitContents contents;
    bool isImage = false;
    UnitImage image;
};

// The map names as the CSV's columns call them.
const char* const kIgnitionMaps[MapTable::kMaps] = {"ign_map0", "ign_map1"};
const char* const kValveMaps[MapTable::kMaps] = {"pv_map0", "pv_map1"};

// Configuration bytes the tool neither shows nor names: compared only
// between two images, since a map file does not hold them. Bytes 10 and 11
// (the engine constant) are the pulse type's in a map file.
bool unitsOwnByte(int byte)
{
    return byte == 0 || byte == 1 || byte == 9 || byte == 10 || byte == 11 || byte >= 14;
}

bool isImageName(const std::string& name)
{
    std::string ending = name.size() >= 4 ? name.substr(name.size() - 4) : std::string();
    for (char& c : ending)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending == ".bin";
}

// Standard input is a map file when it reads as one, else an image.
int loadStandardInput(const Console& console, Side& side)
{
    std::string text;
    MapFileRecord record;
    if (readInput(console, "-", kMaxMapFileSize, text) && parseMapFile(text, record)) {
        mapFileContents(record, side.contents);
        return kDone;
    }
    if (text.size() != sizeof side.image.bytes)
        return fail(console, kFileError, cannotRead("-", "a map file or a 1024-byte memory image"));
    std::memcpy(side.image.bytes, text.data(), text.size());
    side.isImage = true;
    decodeUnitImage(side.image, cdiDevice.timerConstant, side.contents);
    return kDone;
}

int load(const Console& console, const std::string& name, Side& side)
{
    if (isStandardStream(name))
        return loadStandardInput(console, side);
    if (name == "unit") {
        const int status = withUnit(console, kUnitBlocks, [&] {
            if (readUnit(cdiDevice, side.image, nullptr))
                return static_cast<int>(kDone);
            return fail(console, kTransferFailed, "reading the unit failed: " + takeNotes());
        });
        if (status != kDone)
            return status;
    } else if (isImageName(name)) {
        if (!readImageFile(name.c_str(), side.image))
            return fail(console, kFileError, cannotRead(name, "a 1024-byte memory image"));
    } else {
        MapFileRecord record;
        if (!readMapFile(name.c_str(), record))
            return fail(console, kFileError, cannotRead(name, "a map file"));
        mapFileContents(record, side.contents);
        return kDone;
    }
    side.isImage = true;
    decodeUnitImage(side.image, cdiDevice.timerConstant, side.contents);
    return kDone;
}

TimingReference referenceOf(const UnitContents& contents)
{
    return {contents.config.pickupDeg, contents.latencyOffset, cdiDevice.timerConstant};
}

// Prints every difference; their number.
int compare(const Console& console, const Side& a, const Side& b, bool exact)
{
    const UnitContents& x = a.contents;
    const UnitContents& y = b.contents;
    int differences = 0;
    const auto say = [&](const char* name, double from, double to) {
        std::fprintf(console.out, "%s: %g %g (%+g)\n", name, from, to, to - from);
        ++differences;
    };
    const auto sayPoint = [&](const char* map, std::uint32_t index, double from, double to) {
        const std::string name = std::string(map) + " " + std::to_string(index * 100) + " rpm";
        say(name.c_str(), from, to);
    };

    // The codec keeps tenths of a degree (0.2 with one pickup pulse a
    // rotation); within that, two values are the same timing.
    const double tolerance = x.config.pulseType == 1 || y.config.pulseType == 1 ? 0.2 : 0.1;
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        const auto index = static_cast<std::uint16_t>(k % MapTable::kPoints);
        const double from = x.ignition.points[k];
        const double to = y.ignition.points[k];
        const bool same = exact ? encodeAdvance(from, index, referenceOf(x)).word
                                      == encodeAdvance(to, index, referenceOf(y)).word
                                : std::fabs(to - from) <= tolerance + 1e-9;
        if (!same)
            sayPoint(kIgnitionMaps[k / MapTable::kPoints], index, from, to);
    }
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        if (lowByte(x.valve.points[k]) != lowByte(y.valve.points[k]))
            sayPoint(kValveMaps[k / MapTable::kPoints], k % MapTable::kPoints, x.valve.points[k],
                     y.valve.points[k]);

    std::uint8_t fromOptions[kOptionLines], toOptions[kOptionLines];
    optionValues(x.config, fromOptions);
    optionValues(y.config, toOptions);
    for (int i = 0; i < kOptionLines; ++i)
        if (fromOptions[i] != toOptions[i])
            say(kOptionKeys[i], fromOptions[i], toOptions[i]);

    if (a.isImage && b.isImage) {
        const ConfigBlock from = imageConfig(a.image);
        const ConfigBlock to = imageConfig(b.image);
        for (int byte = 0; byte < static_cast<int>(sizeof from); ++byte)
            if (unitsOwnByte(byte) && from.bytes()[byte] != to.bytes()[byte]) {
                std::fprintf(console.out, "config byte %d: 0x%02X 0x%02X\n", byte, from.bytes()[byte],
                             to.bytes()[byte]);
                ++differences;
            }
    }
    return differences;
}

}  // namespace

int runDiff(const Arguments& arguments, const Console& console)
{
    if (isStandardStream(arguments.operands[0]) && isStandardStream(arguments.operands[1]))
        return usageError(console, "standard input can carry only one of the two sides");
    Side a, b;
    if (const int status = load(console, arguments.operands[0], a))
        return status;
    if (const int status = load(console, arguments.operands[1], b))
        return status;
    return compare(console, a, b, arguments.has("--exact")) == 0 ? kDone : kDiffers;
}

int runExport(const Arguments& arguments, const Console& console)
{
    const std::string& from = arguments.operands[0];
    const std::string& to = arguments.operands[1];
    MapFileRecord record;
    if (!readMapInput(console, from, record))
        return fail(console, kFileError, cannotRead(from, "a map file"));
    UnitContents contents;
    mapFileContents(record, contents);
    if (!writeOutput(console, to, Contents::bytes, [&](std::FILE* file) {
            return writeMapCsv(file, contents.ignition, contents.valve, contents.config);
        }))
        return fail(console, kFileError, cannotWrite(to));
    return kDone;
}

int runImport(const Arguments& arguments, const Console& console)
{
    const std::string& from = arguments.operands[0];
    const std::string& to = arguments.operands[1];
    std::string text;
    MapFileRecord record;
    if (!readInput(console, from, kMaxMapFileSize, text) || !parseMapCsv(text, record))
        return fail(console, kFileError, cannotRead(from, "a map CSV file"));
    // Through the clamps, as File Open loads a map file.
    applyMapFile(record);
    if (!writeOutput(console, to, Contents::text, [](std::FILE* file) {
            return writeMapLines(file, ignitionTable, valveTable, cdiDevice.config);
        }))
        return fail(console, kFileError, cannotWrite(to));
    return kDone;
}
