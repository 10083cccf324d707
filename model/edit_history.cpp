// The undo history: whole-state copies, merged while one gesture lasts.
#include "edit_history.h"

#include <cstring>

EditState captureState(const MapTable& ignition, const MapTable& valve, const CdiDevice& device)
{
    EditState state;
    std::memcpy(state.ignition, ignition.points, sizeof state.ignition);
    std::memcpy(state.valve, valve.points, sizeof state.valve);
    state.config = device.config;
    state.latencyOffset = device.latencyOffset;
    return state;
}

void restoreState(const EditState& state, MapTable& ignition, MapTable& valve, CdiDevice& device)
{
    std::memcpy(ignition.points, state.ignition, sizeof state.ignition);
    std::memcpy(valve.points, state.valve, sizeof state.valve);
    device.config = state.config;
    device.latencyOffset = state.latencyOffset;
}

// Field by field: the struct's padding holds nothing.
bool sameState(const EditState& a, const EditState& b)
{
    return std::memcmp(a.ignition, b.ignition, sizeof a.ignition) == 0 &&
           std::memcmp(a.valve, b.valve, sizeof a.valve) == 0 &&
           std::memcmp(a.config.bytes(), b.config.bytes(), sizeof a.config) == 0 &&
           a.latencyOffset == b.latencyOffset;
}

void startHistory(EditHistory& history, const EditState& now)
{
    history.entries.clear();
    history.entries.push_back({ChangeOrigin{}, now});
    history.shown = 0;
    history.mergeOpen = false;
}

namespace {
bool sameCells(const CellBlock& a, const CellBlock& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

// Whether a change `gap` seconds after the last one, from `b`, grows it.
bool growsLast(const ChangeOrigin& a, const ChangeOrigin& b, double gap)
{
    if (a.kind != b.kind || a.kind == ChangeOrigin::Command || a.kind == ChangeOrigin::TableEdit)
        return false;
    if (a.kind == ChangeOrigin::Nudge)
        return sameCells(a.cells, b.cells) && gap < kNudgeGapSeconds;
    return a.map == b.map && a.cursor == b.cursor && a.control == b.control && gap <= kMergeGapSeconds;
}
}  // namespace

bool recordChange(EditHistory& history, const EditState& now, const ChangeOrigin& origin, double seconds)
{
    if (history.entries.empty() || sameState(now, history.entries[history.shown].state))
        return false;
    history.entries.resize(history.shown + 1);

    HistoryEntry& last = history.entries.back();
    if (history.mergeOpen && growsLast(last.origin, origin, seconds - history.lastChangeSeconds)) {
        last.state = now;
        history.lastChangeSeconds = seconds;
        if (sameState(now, history.entries[history.shown - 1].state)) {
            history.entries.pop_back();
            --history.shown;
            history.mergeOpen = false;
        }
        return true;
    }

    history.entries.push_back({origin, now});
    if (history.entries.size() > kHistoryChanges + 1)
        history.entries.pop_front();
    history.shown = history.entries.size() - 1;
    history.mergeOpen = true;
    history.lastChangeSeconds = seconds;
    return true;
}

// After an undo or redo the next change is a new one, whatever its origin.
bool undoChange(EditHistory& history, EditState& state, ChangeOrigin& origin)
{
    if (history.shown == 0)
        return false;
    origin = history.entries[history.shown].origin;
    --history.shown;
    state = history.entries[history.shown].state;
    history.mergeOpen = false;
    return true;
}

bool redoChange(EditHistory& history, EditState& state, ChangeOrigin& origin)
{
    if (history.shown + 1 >= history.entries.size())
        return false;
    ++history.shown;
    origin = history.entries[history.shown].origin;
    state = history.entries[history.shown].state;
    history.mergeOpen = false;
    return true;
}
