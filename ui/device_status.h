// The half-second status poll that keeps the Device tab's read-out current.
#pragma once

struct UnitStatus;

// A toolkit timeout callback; re-arms itself every run.
void pollStatus(void*);

// One status run into the eight read-out fields.
void showUnitStatus(const UnitStatus& status);
