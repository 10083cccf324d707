// Conversion between ignition advance in crank degrees and the unit's timer
// words. Every call prints one trace line on standard output.
#pragma once

#include "cdi_device.h"

// Encodes with the pickup position, latency offset and timer constant of
// `cdiDevice`. Decoding is CdiDevice::decodeTiming.
TimerWord encodeTiming(double advance, std::uint16_t index);
