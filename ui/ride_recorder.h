// Record on the Device tab: every status reply the poll shows, written as a
// row of a ride log in the user's logs folder while the button is on.
#pragma once

class Fl_Widget;
struct UnitStatus;

// The button's callback: on starts a new log and names it in the log
// panel; off ends it.
void onRecord(Fl_Widget*, void*);

// The poll's one call for each reply it shows: a row while recording.
void recordStatus(const UnitStatus& status);

// Ends the log being written, if any, and says so in the log panel.
void endRecording();
