// The device record and the engine presets.
#include "cdi_device.h"

#include <cmath>

CdiDevice cdiDevice;

std::uint16_t ConfigBlock::engineConstantValue() const
{
    return static_cast<std::uint16_t>(engineConstant[0] | engineConstant[1] << 8);
}

void ConfigBlock::setEngineConstant(std::uint16_t value)
{
    engineConstant[0] = static_cast<std::uint8_t>(value & 0xFF);
    engineConstant[1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint8_t lowByte(double value)
{
    // fmod is exact, so this is the cut into a wide enough integer without
    // the undefined conversion of values beyond int's range.
    double rest = std::fmod(std::trunc(value), 256.0);
    if (std::isnan(rest))
        return 0;
    if (rest < 0)
        rest += 256.0;
    return static_cast<std::uint8_t>(rest);
}

ConfigBlock CdiDevice::initialConfig()
{
    ConfigBlock config = {};
    config.pickupDeg = kTwoPulsePreset.pickupDeg;
    return config;
}

void CdiDevice::print(const char* text) const
{
    if (log)
        log(text);
}

void CdiDevice::blockDone(int block) const
{
    if (progress)
        progress(block);
}

void applyEnginePreset(std::uint8_t type)
{
    applyEnginePreset(type, cdiDevice.config, cdiDevice.latencyOffset);
}

void applyEnginePreset(std::uint8_t type, ConfigBlock& config, std::int32_t& latencyOffset)
{
    const EnginePreset& preset = enginePreset(type);
    config.pulseType = preset.pulseType;
    config.pickupDeg = preset.pickupDeg;
    config.setEngineConstant(preset.engineConstant);
    latencyOffset = preset.latencyOffset;
}
