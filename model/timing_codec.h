// Conversion between ignition advance in crank degrees and the unit's timer
// words. encodeTiming and CdiDevice::decodeTiming print one trace line per
// call to the trace stream; the plain forms below print nothing.
#pragma once

#include <cstdio>

#include "cdi_device.h"

// Where the byte-level trace goes: the codec's lines here and the report
// dumps of the transfers. Standard output unless set; null prints no trace.
// The command-line program keeps standard output for its results.
extern std::FILE* traceStream;

// The angles and ticks a word is worked out from: the pickup position (the
// angle the delay starts at), the ticks the unit adds itself, and the ticks
// per crank degree at 1000 rpm.
struct TimingReference {
    std::uint8_t pickupDeg;
    std::int32_t latencyOffset;
    double timerConstant;
};

// The record's own pickup position, latency offset and timer constant.
TimingReference timingReference(const CdiDevice& device);

// One encoding and the figures its trace line shows.
struct Encoding {
    TimerWord word;
    int delay;  // pickup to spark, whole degrees
    int prescale;
    int period;
    int postscale;
    bool overflow;
};
Encoding encodeAdvance(double advance, std::uint16_t index, const TimingReference& reference);

// One decoding and the figures its trace line shows.
struct Decoding {
    double advance;
    int prescale;
    int period;
    int postscale;
};
Decoding decodeWord(TimerWord word, std::uint16_t index, const TimingReference& reference);

// The same, each printing its trace line.
TimerWord traceEncode(double advance, std::uint16_t index, const TimingReference& reference);
double traceDecode(TimerWord word, std::uint16_t index, const TimingReference& reference);

// traceEncode with the reference of `cdiDevice`. Decoding with a record's
// own reference is CdiDevice::decodeTiming.
TimerWord encodeTiming(double advance, std::uint16_t index);
