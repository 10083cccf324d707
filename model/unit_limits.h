// What the unit will really run. It cannot fire earlier than its latency
// allows, so at each speed there is a ceiling above which it runs the
// ceiling whatever the map says, and with one pickup pulse a rotation small
// advances at the lowest speeds overflow its timer and go to it as 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map_table.h"
#include "timing_codec.h"

// Points below 500 rpm (the Table tab's first row) are no running engine's:
// point 0 always goes to the unit as 0, points 1..4 follow the 500 rpm row.
constexpr int kFirstRunningPoint = 5;

// The advance the unit holds for `advance` at point `index`: encoded as a
// write encodes it and decoded as a read decodes it, printing nothing.
double unitAdvance(double advance, std::uint16_t index, const TimingReference& reference);

// The earliest the unit fires at `index`: what it holds for the table's top.
double unitCeiling(std::uint16_t index, const TimingReference& reference);

// A running point whose value the unit holds more than half a degree away.
// Below that lie the codec's own tenths and, up to a pickup of 129, its
// timer steps.
bool runsDifferently(double advance, std::uint16_t index, const TimingReference& reference);

// Consecutive points of one ignition map that run differently, with the
// one whose difference is largest (the first of a tie).
struct DifferentRun {
    int map;
    int first, last;  // point indexes
    int largest;
    double value;  // the map's, at `largest`
    double held;   // the unit's, at `largest`
};

// Map 0's runs first, each map from low speed up.
std::vector<DifferentRun> differentRuns(const MapTable& ignition, const TimingReference& reference);

// How many points the runs hold.
int pointsIn(const std::vector<DifferentRun>& runs);

// "These points will run differently on the unit than the maps show:", then
// a line a run ("IGN MAP0 12000-14000 rpm, largest at 14000 rpm: 30.0 runs
// as 24.0") for the first eight, then "and N more points"; lines joined by
// "\n" without one at the end.
std::string differentRunsText(const std::vector<DifferentRun>& runs);
