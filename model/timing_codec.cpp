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

// The advance in whole tenths of a degree, cut toward zero. A value that is
// a whole number of tenths but for binary rounding counts as that number:
// 0.1 added eight times is 0.7999..., which the user saw as 0.8.
std::int32_t tenths(double advance)
{
    const double scaled = advance * 10.0;
    const double nearest = std::round(scaled);
    if (std::fabs(scaled - nearest) <= 1e-6)
        return truncate32(nearest);
    return truncate32(scaled);
}

constexpr int kPrescales[4] = {1, 4, 16, 64};
}  // namespace

std::FILE* traceStream = stdout;

TimingReference timingReference(const CdiDevice& device)
{
    return {device.config.pickupDeg, device.latencyOffset, device.timerConstant};
}

Encoding encodeAdvance(double advance, std::uint16_t index, const TimingReference& reference)
{
    if (advance == 0.0 || index == 0)
        return {0, 0, 0, 0, 0, false};
    const double delay = reference.pickupDeg - tenths(advance) / 10.0;
    double t = reference.timerConstant * delay * 10.0 / static_cast<double>(index);
    if (t > reference.latencyOffset)
        t = t - reference.latencyOffset;
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
    else
        return {0, truncate32(delay), 0, 0, 0, true};
    const int prescale = kPrescales[code];
    const std::uint16_t postscale = static_cast<std::uint16_t>(truncate32(q / prescale + 1.0));
    const std::uint16_t period = static_cast<std::uint16_t>(truncate32((t / prescale) / postscale));
    const TimerWord word = static_cast<TimerWord>((postscale * 8 - 4 + code) * 256 + period);
    return {word, truncate32(delay), prescale, period, postscale, false};
}

Decoding decodeWord(TimerWord word, std::uint16_t index, const TimingReference& reference)
{
    if (word == 0)
        return {0.0, 0, 0, 0};
    // Bits 15 and 10 (always 0 and 1) are not looked at.
    const int prescale = kPrescales[(word >> 8) & 0x3];
    const int postscale = ((word >> 11) & 0xF) + 1;
    const int period = word & 0xFF;
    const std::int32_t ticks = period * postscale * prescale + reference.latencyOffset;
    const std::uint32_t n = static_cast<std::uint32_t>(index) * static_cast<std::uint32_t>(ticks) / 10u;
    const double advance =
        truncate32((reference.pickupDeg - static_cast<double>(n) / reference.timerConstant) * 10.0) / 10.0;
    return {advance, prescale, period, postscale};
}

TimerWord traceEncode(double advance, std::uint16_t index, const TimingReference& reference)
{
    const Encoding e = encodeAdvance(advance, index, reference);
    if (!traceStream)
        return e.word;
    if (e.overflow)
        std::fprintf(traceStream, "*** over flow ***\n");
    std::fprintf(traceStream, "RPM:%3d DEG:%3d PRE:%3d PR2:%3d POST:%3d WRITE:%4X\n", index, e.delay, e.prescale,
                 e.period, e.postscale, static_cast<unsigned>(e.word));
    return e.word;
}

double traceDecode(TimerWord word, std::uint16_t index, const TimingReference& reference)
{
    const Decoding d = decodeWord(word, index, reference);
    if (traceStream)
        std::fprintf(traceStream, "RPM:%3d DEG:%3d PRE:%3d PR2:%3d POST:%3d READ:%4X\n", index,
                     truncate32(d.advance), d.prescale, d.period, d.postscale, static_cast<unsigned>(word));
    return d.advance;
}

TimerWord encodeTiming(double advance, std::uint16_t index)
{
    return traceEncode(advance, index, timingReference(cdiDevice));
}

double CdiDevice::decodeTiming(TimerWord word, std::uint16_t index) const
{
    return traceDecode(word, index, timingReference(*this));
}
