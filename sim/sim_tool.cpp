// kvz-sim-unit: sets up a simulated unit on disk for the preload library
// (a control file and a memory image holding plausible maps), prints a
// memory image as blocks, to see what the program wrote to the unit, and
// works out what the program must leave behind: the image a Device Write of
// a map file gives, and the map file the program holds after a Device Read.
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cdi_device.h"
#include "map_file.h"
#include "map_table.h"
#include "timing_codec.h"
#include "unit_image.h"
#include "sim_unit.h"

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: kvz-sim-unit demo DIR        write DIR/unit.conf and DIR/memory.bin\n"
    "       kvz-sim-unit dump IMAGE      print a memory image as blocks\n"
    "       kvz-sim-unit encode FILE.cdi IMAGE [BEFORE]\n"
    "           write the memory image that a Device Write leaves when the\n"
    "           program started with FILE.cdi as its autosave and the unit\n"
    "           held the image BEFORE (default: all zero)\n"
    "       kvz-sim-unit decode IMAGE FILE.cdi\n"
    "           write the map file the program holds after a Device Read of\n"
    "           IMAGE\n";

const char kDemoConf[] =
    "# A simulated KVZ ignition unit, made by kvz-sim-unit demo. The program\n"
    "# reads this file again whenever it changes: edit it while the program\n"
    "# runs, and replace it in one step (write a copy, then rename it).\n"
    "# Every key is described in sim/README.md.\n"
    "present=1\n"
    "open_fails=0\n"
    "manufacturer=KVZ Electronics\n"
    "product=KVZ-CDI\n"
    "rpm=sweep\n"
    "map_switch=0\n"
    "valve_angle=map\n"
    "shifter_switch=1\n"
    "reply_delay_ms=0\n"
    "memory=memory.bin\n"
    "# Faults, counted in block requests since this file was loaded:\n"
    "# write_fails_at=5\n"
    "# read_fails_at=5\n"
    "# no_reply_at=5\n"
    "# wrong_echo_at_block=30\n"
    "# stores_wrong_at_block=30\n"
    "# status_write_fails=1\n"
    "# status_read_fails=1\n"
    "# status_no_reply=1\n"
    "# status_reply_delay_ms=300\n"
    "# node=missing\n";

// A curve through (index, value) knots, straight between them and flat
// beyond the last.
double curve(const std::vector<std::pair<int, double>>& knots, int index)
{
    if (index <= knots.front().first)
        return knots.front().second;
    for (std::size_t i = 1; i < knots.size(); ++i) {
        auto [x1, y1] = knots[i];
        if (index <= x1) {
            auto [x0, y0] = knots[i - 1];
            return y0 + (y1 - y0) * (index - x0) / (x1 - x0);
        }
    }
    return knots.back().second;
}

// Advance in degrees by rpm point, for the two ignition maps: mild at idle,
// full advance in the mid range, retarded towards the top. Each stays below
// what the type-2 timer can still express at that rpm, so a read-back shows
// the same curve.
const std::vector<std::pair<int, double>> kIgnition[2] = {
    {{1, 10.0}, {15, 10.0}, {40, 28.0}, {70, 28.0}, {100, 20.0}, {159, 18.0}},
    {{1, 8.0}, {15, 8.0}, {40, 30.0}, {65, 30.0}, {100, 22.0}, {159, 20.0}},
};
// Power-valve opening: shut low down, opening through the mid range.
const std::vector<std::pair<int, double>> kValve[2] = {
    {{0, 0.0}, {60, 0.0}, {90, 160.0}},
    {{0, 0.0}, {55, 0.0}, {85, 160.0}},
};

sim::Memory demoMemory()
{
    sim::Memory m{};
    applyEnginePreset(2);  // the codec encodes with pickup 36, latency 570
    const TimingReference reference = timingReference(cdiDevice);
    for (int k = 0; k < 320; ++k) {
        int index = k % 160;
        double advance = std::trunc(curve(kIgnition[k / 160], index) * 10.0) / 10.0;
        TimerWord w = encodeAdvance(advance, static_cast<std::uint16_t>(index), reference).word;
        m[2 * k] = static_cast<std::uint8_t>(w & 0xFF);
        m[2 * k + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    for (int k = 0; k < 320; ++k)
        m[20 * sim::kBlockSize + k] = static_cast<std::uint8_t>(curve(kValve[k / 160], k % 160));

    ConfigBlock config = {};
    config.qsEnablePoint = 60;   // 6000 rpm
    config.qsDelayCount = 1;
    config.qsCutCount = 12;
    config.qsInvalidCount = 100;
    config.qsStopSwitch = 0;
    config.qsReverse = 0;
    config.revLimit = 120;       // 12000 rpm
    config.setEngineConstant(18750);
    config.pulseType = 2;
    config.pickupDeg = 36;
    // Bytes of the unit's own that the tool carries without reading; set so
    // that a round trip through the program shows they survive.
    config.opaque0[0] = 0xA5;
    config.opaque0[1] = 0x5A;
    config.opaque14[49] = 0x3C;
    std::memcpy(&m[30 * sim::kBlockSize], config.bytes(), sizeof config);
    return m;
}

bool writeAtomically(const fs::path& path, const void* data, std::size_t size)
{
    fs::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out.flush())
            return false;
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    return !error;
}

int demo(const fs::path& dir)
{
    std::error_code error;
    fs::create_directories(dir, error);
    sim::Memory m = demoMemory();
    if (!writeAtomically(dir / "memory.bin", m.data(), m.size())
        || !writeAtomically(dir / "unit.conf", kDemoConf, std::strlen(kDemoConf))) {
        std::fprintf(stderr, "kvz-sim-unit: cannot write into %s\n", dir.string().c_str());
        return 1;
    }
    std::printf("%s\n%s\n", (dir / "unit.conf").string().c_str(), (dir / "memory.bin").string().c_str());
    return 0;
}

const char* blockName(int b)
{
    if (b < 10)
        return "IGN MAP0";
    if (b < 20)
        return "IGN MAP1";
    if (b < 25)
        return "PVS MAP0";
    if (b < 30)
        return "PVS MAP1";
    return "CONFIG";
}

bool readImage(const fs::path& path, UnitImage& image)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes;
    if (in)
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes.size() != sizeof image.bytes) {
        std::fprintf(stderr, "kvz-sim-unit: %s is not a memory image of %zu bytes\n", path.string().c_str(),
                     sizeof image.bytes);
        return false;
    }
    std::memcpy(image.bytes, bytes.data(), sizeof image.bytes);
    return true;
}

int dump(const fs::path& path)
{
    UnitImage image;
    if (!readImage(path, image))
        return 1;
    for (int b = 0; b < kUnitBlocks; ++b) {
        std::printf("%2d %-8s ", b, blockName(b));
        for (int i = 0; i < kBlockSize; ++i)
            std::printf(" %02X", image.block(b)[i]);
        std::printf("\n");
    }
    return 0;
}

// The program's state right after start-up with this file as its autosave:
// the clamps set first, so the load stores through them.
bool startWith(const fs::path& file)
{
    ignitionTable.lowerClamp = 0.0;
    ignitionTable.upperClamp = 35.0;
    valveTable.lowerClamp = 0.0;
    valveTable.upperClamp = 160.0;
    if (!loadMapFile(file.string().c_str())) {
        std::fprintf(stderr, "kvz-sim-unit: cannot load %s\n", file.string().c_str());
        return false;
    }
    return true;
}

// A write sends the tables as the program holds them and its named
// configuration fields over the unit's own configuration bytes.
int encode(const fs::path& file, const fs::path& image, const char* before)
{
    UnitImage unit;
    if (!startWith(file) || (before && !readImage(before, unit)))
        return 1;
    const TimingReference reference = timingReference(cdiDevice);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        const auto index = static_cast<std::uint16_t>(k % MapTable::kPoints);
        const TimerWord w = encodeAdvance(ignitionTable.points[k], index, reference).word;
        unit.bytes[2 * k] = static_cast<std::uint8_t>(w & 0xFF);
        unit.bytes[2 * k + 1] = static_cast<std::uint8_t>(w >> 8);
        unit.bytes[kFirstValveBlock * kBlockSize + k] = lowByte(valveTable.points[k]);
    }
    const ConfigBlock config = withUnitsOwnBytes(cdiDevice.config, imageConfig(unit));
    std::memcpy(unit.block(kFirstConfigBlock), config.bytes(), sizeof config);
    if (!writeAtomically(image, unit.bytes, sizeof unit.bytes)) {
        std::fprintf(stderr, "kvz-sim-unit: cannot write %s\n", image.string().c_str());
        return 1;
    }
    return 0;
}

// A read decodes as decodeUnitImage does: the unit's pickup (the preset's
// when it is 0) and its pulse type's latency offset, points unclamped, a
// rev limit of 0 read as 70.
int decode(const fs::path& image, const fs::path& file)
{
    UnitImage unit;
    if (!readImage(image, unit))
        return 1;
    UnitContents contents;
    decodeUnitImage(unit, cdiDevice.timerConstant, contents);
    std::FILE* out = std::fopen(file.string().c_str(), "w");
    const bool written = out && writeMapLines(out, contents.ignition, contents.valve, contents.config);
    if (!out || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "kvz-sim-unit: cannot write %s\n", file.string().c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "demo") == 0)
        return demo(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "dump") == 0)
        return dump(argv[2]);
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "encode") == 0)
        return encode(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    if (argc == 4 && std::strcmp(argv[1], "decode") == 0)
        return decode(argv[2], argv[3]);
    std::fputs(kUsage, stderr);
    return 2;
}
