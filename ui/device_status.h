// The half-second status poll that keeps the Device tab's read-out current.
#pragma once

// A toolkit timeout callback; re-arms itself every run.
void pollStatus(void*);
