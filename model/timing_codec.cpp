// Ignition advance <-> timer word. The unit counts a delay from the pickup
// pulse to the spark with a PIC Timer2: prescale x period x postscale ticks,
// less the latency the unit adds itself.
#include "timing_codec.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {
// Cut toward zero into 32 bits. Values beyond the range saturate instead of
// being undefined; no value the program holds comes near them.
std::int32_t truncate32(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

void traceWrite(int index, int delay, int prescale, int period, int postscale, unsigned word)
{
    std::printf("RPM:%3d DEG:%3d PRE:%3d PR2:%3d POST:%3d WRITE:%4X\n",
                index, delay, prescale, period, postscale, word);
}

void traceRead(int index, int advance, int prescale, int period, int postscale, unsigned word)
{
    std::printf("RPM:%3d DEG:%3d PRE:%3d PR2:%3d POST:%3d READ:%4X\n",
                index, advance, prescale, period, postscale, word);
}

constexpr int kPrescales[4] = {1, 4, 16, 64};
}

TimerWord encodeTiming(double advance, std::uint16_t index)
{
    if (advance == 0.0 || index == 0) {
        traceWrite(index, 0, 0, 0, 0, 0);
        return 0;
    }
    const double pickup = cdiDevice.config.pickupDeg;
    const int a = truncate32(advance * 10.0);
    const double delay = pickup - a / 10.0;
    double t = cdiDevice.timerConstant * delay * 10.0 / static_cast<double>(index);
    if (t > cdiDevice.latencyOffset)
        t = t - cdiDevice.latencyOffset;
    else
        t = 0.0;

    const double q = t * 0.00390625;
    const std::uint16_t d = static_cast<std::uint16_t>(truncate32(q));
    int code;
    if (d < 16)
        code = 0;
    else if (d < 64)
        code = 1;
    else if (d < 256)
        code = 2;
    else if (d < 1024)
        code = 3;
    else {
        std::printf("*** over flow ***\n");
        traceWrite(index, truncate32(delay), 0, 0, 0, 0);
        return 0;
    }
    const int prescale = kPrescales[code];
    const std::uint16_t postscale = static_cast<std::uint16_t>(truncate32(q / prescale + 1.0));
    const std::uint16_t period = static_cast<std::uint16_t>(truncate32((t / prescale) / postscale));
    const TimerWord word = static_cast<TimerWord>((postscale * 8 - 4 + code) * 256 + period);
    traceWrite(index, truncate32(delay), prescale, period, postscale, word);
    return word;
}

double CdiDevice::decodeTiming(TimerWord word, std::uint16_t index) const
{
    if (word == 0) {
        traceRead(index, 0, 0, 0, 0, 0);
        return 0.0;
    }
    // Bits 15 and 10 (always 0 and 1) are not looked at.
    const int prescale = kPrescales[(word >> 8) & 0x3];
    const int postscale = ((word >> 11) & 0xF) + 1;
    const int period = word & 0xFF;
    const std::int32_t ticks = period * postscale * prescale + latencyOffset;
    const std::uint32_t n = static_cast<std::uint32_t>(index) * static_cast<std::uint32_t>(ticks) / 10u;
    const double advance = truncate32((config.pickupDeg - static_cast<double>(n) / timerConstant) * 10.0) / 10.0;
    traceRead(index, truncate32(advance), prescale, period, postscale, word);
    return advance;
}
