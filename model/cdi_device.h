// The one device record: HID report buffers, the open handle, the unit's
// 64-byte configuration block and the constants the timing codec uses.
#pragma once

#include <cstdint>

struct hid_device_;
typedef struct hid_device_ hid_device;

// Byte for byte the image of the unit's memory blocks 30 (bytes 0..31) and
// 31 (bytes 32..63). Unnamed bytes are the unit's own; the tool carries them.
struct ConfigBlock {
    std::uint8_t opaque0[2];
    std::uint8_t qsEnablePoint;      // 2: hundreds of rpm
    std::uint8_t qsDelayCount;       // 3: pickup pulses until the cut
    std::uint8_t qsCutCount;         // 4: pickup pulses cut
    std::uint8_t qsInvalidCount;     // 5: pickup pulses inactive afterwards
    std::uint8_t qsStopSwitch;       // 6: 0 or 1
    std::uint8_t qsReverse;          // 7: 0 or 1
    std::uint8_t revLimit;           // 8: hundreds of rpm
    std::uint8_t opaque9;
    std::uint8_t engineConstant[2];  // 10..11: little-endian
    std::uint8_t pulseType;          // 12: pickup pulses per rotation, 1 or 2
    std::uint8_t pickupDeg;          // 13: pickup coil position, crank degrees
    std::uint8_t opaque14[50];

    std::uint8_t* bytes() { return reinterpret_cast<std::uint8_t*>(this); }
    const std::uint8_t* bytes() const { return reinterpret_cast<const std::uint8_t*>(this); }
    std::uint16_t engineConstantValue() const;
    void setEngineConstant(std::uint16_t value);
};
static_assert(sizeof(ConfigBlock) == 64, "ConfigBlock is the image of two 32-byte blocks");

// An encoded ignition delay: the unit's timer control byte over its period byte.
typedef std::uint16_t TimerWord;

// The low 8 bits of a value's integer part (cut toward zero), which is what
// a one-byte field of the unit keeps. Defined for every double: values past
// the range of int wrap as a wide integer would, NaN and infinity give 0.
std::uint8_t lowByte(double value);

// What goes with each pulse type.
struct EnginePreset {
    std::uint8_t pulseType;
    std::uint8_t pickupDeg;
    std::int32_t latencyOffset;
    std::uint16_t engineConstant;
};

constexpr EnginePreset kOnePulsePreset = {1, 68, 610, 37500};
constexpr EnginePreset kTwoPulsePreset = {2, 36, 570, 18750};

// Type 1 gives the one-pulse preset; every other value the two-pulse one.
constexpr const EnginePreset& enginePreset(std::uint8_t type)
{
    return type == 1 ? kOnePulsePreset : kTwoPulsePreset;
}

// Where the map transfer writes its progress; null means no logging.
typedef void (*LogSink)(const char* text);

// Told of each block a transfer has exchanged, by its number; null means
// nobody is told.
typedef void (*BlockHook)(int block);

struct CdiDevice {
    std::uint8_t outReport[65] = {};
    hid_device* deviceHandle = nullptr;
    std::uint8_t inReport[64] = {};
    ConfigBlock config = initialConfig();  // all 0 but pickupDeg 36
    LogSink log = nullptr;
    BlockHook progress = nullptr;
    std::int32_t latencyOffset = kTwoPulsePreset.latencyOffset;  // timer ticks
    double timerConstant = 666.666667;    // ticks per crank degree at 1000 rpm

    // Writes the text to the log sink, if one is set.
    void print(const char* text) const;
    // Tells the progress hook, if one is set.
    void blockDone(int block) const;

    // The advance a word read from the unit stands for at point `index`,
    // with this record's pickup position and latency offset. Defined in
    // timing_codec.cpp, beside encodeTiming.
    double decodeTiming(TimerWord word, std::uint16_t index) const;

    static ConfigBlock initialConfig();
};

extern CdiDevice cdiDevice;

// Sets pulseType, pickupDeg, engineConstant and latencyOffset from
// enginePreset(type), nothing else: of `cdiDevice`, or of the block and
// offset given.
void applyEnginePreset(std::uint8_t type);
void applyEnginePreset(std::uint8_t type, ConfigBlock& config, std::int32_t& latencyOffset);
