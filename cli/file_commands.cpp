// The commands on files: diff (which may read the unit too), export and
// import.
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cdi_device.h"
#include "commands.h"
#include "map_csv.h"
#include "map_file.h"
#include "map_table.h"
#include "map_transfer.h"
#include "restore_points.h"
#include "timing_codec.h"
#include "unit_commands.h"
#include "unit_image.h"
#include "user_files.h"

namespace {

// One side of a comparison. An image (a .bin, or the unit) is taken raw: its
// bytes as they stand, its ignition words decoded as a read decodes them. A
// map file is taken both as its lines hold it and as a load would store it.
struct Side {
    bool isImage = false;
    UnitImage image;
    MapFileRecord record{};
    // An image's points as decoded and its configuration as it stands; a map
    // file's points as its lines hold them and its options as a load applies
    // them (a line missing as the load's default).
    UnitContents contents;
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

// An image side once its bytes are in: its words decoded as a read decodes
// them, its configuration as it stands.
void takeImage(Side& side)
{
    side.isImage = true;
    decodeUnitImage(side.image, cdiDevice.timerConstant, side.contents);
    side.contents.config = imageConfig(side.image);
}

// A file side: standard input, or a pipe, is a map file when it reads as
// one, else an image: read once, it has no name to tell by.
int loadFile(const Console& console, const std::string& name, Side& side)
{
    std::string input, why;
    const bool stream = isStreamInput(console, name);
    if (stream && !readInput(console, name, kMaxMapFileSize, input, why))
        return fail(console, kFileError, cannotRead(name, "a map file or a 1024-byte memory image", why));
    if (stream && !parseMapFile(input, side.record, &why)) {
        // Not 1024 bytes long, it was meant as a map file.
        if (input.size() != sizeof side.image.bytes)
            return fail(console, kFileError, cannotRead(name, "a map file or a 1024-byte memory image", why));
        std::memcpy(side.image.bytes, input.data(), input.size());
    } else if (!stream && isImageName(name)) {
        if (!readImageInput(console, name, side.image, why))
            return fail(console, kFileError, cannotRead(name, "a 1024-byte memory image", why));
    } else {
        if (!stream && !readMapInput(console, name, side.record, why))
            return fail(console, kFileError, cannotRead(name, "a map file", why));
        mapFileContents(side.record, side.contents);
        return kDone;
    }
    takeImage(side);
    return kDone;
}

// The unit side, read as every whole-unit read reads it.
int loadUnit(const Console& console, Side& side)
{
    const int status = withUnit(console, kWholeReadExchanges, [&] {
        if (readWholeUnit(cdiDevice, side.image))
            return static_cast<int>(kDone);
        return fail(console, kTransferFailed, "reading the unit failed: " + takeNotes());
    });
    if (status == kDone)
        takeImage(side);
    return status;
}

// A value as its side holds it and as a load would store it; an image's
// two are one.
struct Forms {
    double held;
    double stored;
};

// Two values are the same when any form of one is the same as any of the
// other's.
template <class Same>
bool sameValue(const Forms& a, const Forms& b, Same same)
{
    return same(a.held, b.held) || same(a.held, b.stored) || same(a.stored, b.held) || same(a.stored, b.stored);
}

Forms pointForms(const Side& side, const MapTable& points, std::uint32_t k, double upperClamp)
{
    const double held = points.points[k];
    return {held, side.isImage ? held : std::clamp(held, 0.0, upperClamp)};
}

// The timer words an ignition point stands for: an image's own, a map
// file's as its values would be written, with the pickup and latency its
// options give.
Forms wordForms(const Side& side, std::uint32_t k)
{
    if (side.isImage)
        return {static_cast<double>(ignitionWord(side.image, k)), static_cast<double>(ignitionWord(side.image, k))};
    const auto index = static_cast<std::uint16_t>(k % MapTable::kPoints);
    const TimingReference reference = {side.contents.config.pickupDeg, side.contents.latencyOffset,
                                       cdiDevice.timerConstant};
    const Forms value = pointForms(side, side.contents.ignition, k, kIgnitionUpperClamp);
    return {static_cast<double>(encodeAdvance(value.held, index, reference).word),
            static_cast<double>(encodeAdvance(value.stored, index, reference).word)};
}

// Option i in file order: a map file's line as it stands (or the load's
// default), and as a load stores it; an image's byte.
Forms optionForms(const Side& side, int i)
{
    std::uint8_t stored[kOptionLines];
    optionValues(side.contents.config, stored);
    const bool inFile = !side.isImage && i < side.record.optionCount;
    return {static_cast<double>(inFile ? side.record.options[i] : stored[i]), static_cast<double>(stored[i])};
}

// The differences of two sides, as plain records for the printers.
struct PointDifference {
    std::string map;  // "ign_map0", "ign_map1", "pv_map0" or "pv_map1"
    int rpm;
    double a, b;  // as the sides hold them
};
struct OptionDifference {
    std::string key;  // the map file's key
    std::int64_t a, b;
};
struct ByteDifference {
    int byte;  // of the configuration block, one with no option key
    int a, b;
};
struct Differences {
    std::vector<PointDifference> points;  // ignition maps first, then valve maps
    std::vector<OptionDifference> options;
    std::vector<ByteDifference> bytes;  // only between two images
};

Differences compareSides(const Side& a, const Side& b, bool exact)
{
    const UnitContents& x = a.contents;
    const UnitContents& y = b.contents;
    Differences found;

    // The codec keeps tenths of a degree (0.2 with one pickup pulse a
    // rotation); within that, two values are the same timing.
    const double tolerance = x.config.pulseType == 1 || y.config.pulseType == 1 ? 0.2 : 0.1;
    const auto within = [&](double p, double q) { return std::fabs(p - q) <= tolerance + 1e-9; };
    const auto equal = [](double p, double q) { return p == q; };
    const auto sameByte = [](double p, double q) { return lowByte(p) == lowByte(q); };
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        const std::uint32_t index = k % MapTable::kPoints;
        // The unit always receives 0 rpm as the word 0.
        const bool same =
            exact ? sameValue(wordForms(a, k), wordForms(b, k), equal)
                  : index == 0
                        || sameValue(pointForms(a, x.ignition, k, kIgnitionUpperClamp),
                                     pointForms(b, y.ignition, k, kIgnitionUpperClamp), within);
        if (!same)
            found.points.push_back({kIgnitionMaps[k / MapTable::kPoints], static_cast<int>(index * 100),
                                    x.ignition.points[k], y.ignition.points[k]});
    }
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        if (!sameValue(pointForms(a, x.valve, k, kValveUpperClamp), pointForms(b, y.valve, k, kValveUpperClamp),
                       sameByte))
            found.points.push_back({kValveMaps[k / MapTable::kPoints], static_cast<int>(k % MapTable::kPoints * 100),
                                    x.valve.points[k], y.valve.points[k]});

    for (int i = 0; i < kOptionLines; ++i) {
        const Forms from = optionForms(a, i);
        const Forms to = optionForms(b, i);
        if (!sameValue(from, to, equal))
            found.options.push_back(
                {kOptionKeys[i], static_cast<std::int64_t>(from.held), static_cast<std::int64_t>(to.held)});
    }

    if (a.isImage && b.isImage)
        for (int byte = 0; byte < static_cast<int>(sizeof x.config); ++byte)
            if (unitsOwnByte(byte) && x.config.bytes()[byte] != y.config.bytes()[byte])
                found.bytes.push_back({byte, x.config.bytes()[byte], y.config.bytes()[byte]});
    return found;
}

void printDifferences(std::FILE* out, const Differences& found)
{
    for (const PointDifference& p : found.points)
        std::fprintf(out, "%s %d rpm: %g %g (%+g)\n", p.map.c_str(), p.rpm, p.a, p.b, p.b - p.a);
    for (const OptionDifference& o : found.options)
        std::fprintf(out, "%s: %" PRId64 " %" PRId64 " (%+" PRId64 ")\n", o.key.c_str(), o.a, o.b, o.b - o.a);
    for (const ByteDifference& b : found.bytes)
        std::fprintf(out, "config byte %d: 0x%02X 0x%02X\n", b.byte, static_cast<unsigned>(b.a),
                     static_cast<unsigned>(b.b));
}

// The same records as one JSON object, numbers as numbers.
void printDifferencesJson(const Console& console, const Differences& found)
{
    nlohmann::ordered_json points = nlohmann::ordered_json::array();
    nlohmann::ordered_json options = nlohmann::ordered_json::array();
    nlohmann::ordered_json bytes = nlohmann::ordered_json::array();
    for (const PointDifference& p : found.points)
        points.push_back({{"map", p.map}, {"rpm", p.rpm}, {"a", p.a}, {"b", p.b}});
    for (const OptionDifference& o : found.options)
        options.push_back({{"key", o.key}, {"a", o.a}, {"b", o.b}});
    for (const ByteDifference& b : found.bytes)
        bytes.push_back({{"byte", b.byte}, {"a", b.a}, {"b", b.b}});
    printJson(console, {{"equal", points.empty() && options.empty() && bytes.empty()},
                        {"points", points},
                        {"options", options},
                        {"bytes", bytes}});
}

void printFound(const Console& console, const Differences& found, bool json)
{
    if (json)
        printDifferencesJson(console, found);
    else
        printDifferences(console.out, found);
}

}  // namespace

int printImageDifferences(const Console& console, const UnitImage& a, const UnitImage& b, bool json)
{
    Side x, y;
    x.image = a;
    y.image = b;
    takeImage(x);
    takeImage(y);
    printFound(console, compareSides(x, y, true), json);
    return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0 ? kDone : kDiffers;
}

int runDiff(const Arguments& arguments, const Console& console)
{
    if (namesStandardInput(console, arguments.operands[0]) && namesStandardInput(console, arguments.operands[1]))
        return usageError(console, "standard input can carry only one of the two sides");
    // Both files are read before the unit is touched.
    Side sides[2];
    for (int i = 0; i < 2; ++i)
        if (arguments.operands[i] != "unit")
            if (const int status = loadFile(console, arguments.operands[i], sides[i]))
                return status;
    for (int i = 0; i < 2; ++i)
        if (arguments.operands[i] == "unit")
            if (const int status = loadUnit(console, sides[i]))
                return status;
    const Differences found = compareSides(sides[0], sides[1], arguments.has("--exact"));
    printFound(console, found, arguments.has("--json"));
    return found.points.empty() && found.options.empty() && found.bytes.empty() ? kDone : kDiffers;
}

int runExport(const Arguments& arguments, const Console& console)
{
    const std::string& from = arguments.operands[0];
    const std::string& to = arguments.operands[1];
    MapFileRecord record;
    std::string why;
    if (!readMapInput(console, from, record, why))
        return fail(console, kFileError, cannotRead(from, "a map file", why));
    if (const int status = checkOutputs(console, {to}, {from}))
        return status;
    UnitContents contents;
    mapFileContents(record, contents);
    return writeOutputs(console, {{to, Contents::bytes, [&](std::FILE* file) {
                                       return writeMapCsv(file, contents.ignition, contents.valve, contents.config);
                                   }}});
}

int runImport(const Arguments& arguments, const Console& console)
{
    const std::string& from = arguments.operands[0];
    const std::string& to = arguments.operands[1];
    std::string text, why;
    MapFileRecord record;
    if (!readInput(console, from, kMaxMapFileSize, text, why) || !parseMapCsv(text, record, &why))
        return fail(console, kFileError, cannotRead(from, "a map CSV file", why));
    if (const int status = checkOutputs(console, {to}, {from}))
        return status;
    // Through the clamps, as File Open loads a map file.
    applyMapFile(record);
    return writeOutputs(console, {{to, Contents::text, [](std::FILE* file) {
                                       return writeMapLines(file, ignitionTable, valveTable, cdiDevice.config);
                                   }}});
}
