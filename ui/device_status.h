// The half-second status poll that keeps the Device tab's read-out current.
#pragma once

struct UnitStatus;

// After letting go of a lock kept for a late reply, the window leaves the
// unit alone this long, so that a program waiting for it gets its turn even
// when every status reply comes late.
constexpr int kTurnForOthersMs = 500;

// A toolkit timeout callback; re-arms itself every run.
void pollStatus(void*);

// One status run into the eight read-out fields, then the hook.
void showUnitStatus(const UnitStatus& status);

// Called after each status run is shown; the window binds it to what
// follows the engine's speed. Null means nothing to call.
extern void (*onStatusShown)();
