// The unit's memory image and the rules a read decodes it by.
#include "unit_image.h"

#include <cstring>

TimerWord ignitionWord(const UnitImage& image, std::uint32_t k)
{
    const std::uint8_t* word = image.bytes + kFirstIgnitionBlock * kBlockSize + 2 * k;
    return static_cast<TimerWord>(word[0] | word[1] << 8);
}

ConfigBlock imageConfig(const UnitImage& image)
{
    ConfigBlock config;
    std::memcpy(config.bytes(), image.block(kFirstConfigBlock), sizeof config);
    return config;
}

TimingReference readReference(const ConfigBlock& unit, double timerConstant)
{
    const EnginePreset& preset = enginePreset(unit.pulseType);
    const std::uint8_t pickup = unit.pickupDeg != 0 ? unit.pickupDeg : preset.pickupDeg;
    return {pickup, preset.latencyOffset, timerConstant};
}

void decodeUnitImage(const UnitImage& image, double timerConstant, UnitContents& contents)
{
    const ConfigBlock unit = imageConfig(image);
    const TimingReference reference = readReference(unit, timerConstant);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        const auto index = static_cast<std::uint16_t>(k % MapTable::kPoints);
        contents.ignition.points[k] = decodeWord(ignitionWord(image, k), index, reference).advance;
        contents.valve.points[k] = image.bytes[kFirstValveBlock * kBlockSize + k];
    }
    contents.config = unit;
    if (contents.config.revLimit == 0)
        contents.config.revLimit = kDefaultRevLimit;
    contents.config.pickupDeg = reference.pickupDeg;
    contents.latencyOffset = reference.latencyOffset;
}

ConfigBlock withUnitsOwnBytes(const ConfigBlock& tool, const ConfigBlock& unit)
{
    ConfigBlock sent = unit;
    std::memcpy(sent.bytes() + 2, tool.bytes() + 2, 7);    // quick shifter, switches, rev limit
    std::memcpy(sent.bytes() + 10, tool.bytes() + 10, 4);  // engine constant, pulse type, pickup
    return sent;
}
