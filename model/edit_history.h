// The undo history of what the user changed in the window: a copy of the
// whole edited state (both tables, the configuration block and the latency
// offset, about 5 KB) after every change, and the rules that decide what is
// one change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "cdi_device.h"
#include "map_table.h"

// Everything an undo puts back. The clamps and the device link are not
// part of it: no edit changes them.
struct EditState {
    double ignition[MapTable::kRun];
    double valve[MapTable::kRun];
    ConfigBlock config;
    std::int32_t latencyOffset;
};

EditState captureState(const MapTable& ignition, const MapTable& valve, const CdiDevice& device);
// Puts the state back bit for bit, bypassing the tables' clamps.
void restoreState(const EditState& state, MapTable& ignition, MapTable& valve, CdiDevice& device);
// Bit for bit, so 0.0 and -0.0 differ and a value equals itself even as NaN.
bool sameState(const EditState& a, const EditState& b);

// A block of the Table tab's cells, rows and columns, ends included.
struct CellBlock {
    int top = -1, left = -1, bottom = -1, right = -1;
};

// What made a change. Two changes in a row from the same map step or the
// same option control, with no gap longer than kMergeGapSeconds between
// them, are one: a held button's repeats or a slider drag undo as a whole.
// Nudges of the Table tab's selection are one while they act on the same
// cells less than kNudgeGapSeconds apart.
struct ChangeOrigin {
    enum Kind { Command, MapStep, OptionControl, TableEdit, Nudge };
    Kind kind = Command;  // a command's or a table edit's change is always its own
    int map = -1;         // MapStep: the map being edited, 0..3 as the map buttons
    int cursor = -1;      // MapStep: the point it was edited at
    const void* control = nullptr;  // OptionControl: which control
    CellBlock cells{};              // TableEdit, Nudge: the cells selected when it was made
};

constexpr double kMergeGapSeconds = 0.8;
constexpr double kNudgeGapSeconds = 0.5;
constexpr std::size_t kHistoryChanges = 500;  // the oldest goes beyond this

struct HistoryEntry {
    ChangeOrigin origin;  // of the change that led here; unused for the first
    EditState state;
};

struct EditHistory {
    std::deque<HistoryEntry> entries;  // the oldest state kept, then one per change
    std::size_t shown = 0;             // index of the entry the window shows
    bool mergeOpen = false;            // the last change may still grow
    double lastChangeSeconds = 0.0;
};

// Forgets every change; `now` becomes the state to go back to.
void startHistory(EditHistory& history, const EditState& now);

// Takes the state after a step or callback. Nothing when it equals what
// was shown before, or when the history was never started. Otherwise the
// redo steps are dropped and it either grows the last change (same origin
// within the gap; a change grown back to where it began is dropped) or
// becomes a new one. True when the history changed.
bool recordChange(EditHistory& history, const EditState& now, const ChangeOrigin& origin, double seconds);

// Steps back over the last change, or forward over the next one undone.
// `state` gets what is to be shown, `origin` where that change came from.
// False, with nothing changed, when there is none.
bool undoChange(EditHistory& history, EditState& state, ChangeOrigin& origin);
bool redoChange(EditHistory& history, EditState& state, ChangeOrigin& origin);
