// The unit's whole memory as its block commands see it, 32 blocks of 32
// bytes, and what the tool makes of it: the maps as degrees and valve
// values, the configuration block, and the latency offset to work with.
#pragma once

#include <cstdint>

#include "cdi_device.h"
#include "map_table.h"
#include "timing_codec.h"

constexpr int kUnitBlocks = 32;
constexpr int kBlockSize = 32;

// The block map: ignition words of both maps, one valve byte a point, and
// the configuration block's two halves.
constexpr int kFirstIgnitionBlock = 0;
constexpr int kLastIgnitionBlock = 19;
constexpr int kFirstValveBlock = 20;
constexpr int kLastValveBlock = 29;
constexpr int kFirstConfigBlock = 30;
constexpr int kLastConfigBlock = 31;

// A rev limit of 0 is no usable limit; a read puts 7000 rpm in its place.
constexpr std::uint8_t kDefaultRevLimit = 70;

// Block 0 first, each block's 32 bytes as the unit returns them.
struct UnitImage {
    std::uint8_t bytes[kUnitBlocks * kBlockSize] = {};

    std::uint8_t* block(int number) { return bytes + number * kBlockSize; }
    const std::uint8_t* block(int number) const { return bytes + number * kBlockSize; }
};

// The timer word of ignition point k (0..319), stored low byte first.
TimerWord ignitionWord(const UnitImage& image, std::uint32_t k);

// The configuration block the image holds, as the unit holds it.
ConfigBlock imageConfig(const UnitImage& image);

// What a read decodes the unit's ignition words with: the unit's pickup
// position, or when that is 0 the one the tool then puts in its place; and
// the latency offset of the unit's own pulse type. Encoding with what the
// tool keeps of the read gives the unit back its timing.
TimingReference readReference(const ConfigBlock& unit, double timerConstant);

// Everything the tool holds of a unit, as a read leaves it: points
// unclamped, the configuration with the read's fix-ups, and the latency
// offset of the unit's pulse type.
struct UnitContents {
    MapTable ignition;
    MapTable valve;
    ConfigBlock config;
    std::int32_t latencyOffset;
};

// Decodes a whole image, printing nothing, with both of a read's fix-ups:
// the rev limit, and a pickup of 0 replaced as readReference says.
void decodeUnitImage(const UnitImage& image, double timerConstant, UnitContents& contents);

// The configuration the tool writes: its own named fields (bytes 2-8 and
// 10-13) over the unit's bytes, which the tool never interprets.
ConfigBlock withUnitsOwnBytes(const ConfigBlock& tool, const ConfigBlock& unit);
