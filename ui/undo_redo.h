// Undo and redo of the window's edits, from the keyboard only: Ctrl+Z
// undoes, Ctrl+Shift+Z and Ctrl+Y redo. They change what the tool holds
// and shows, never the unit, a file or the title.
#pragma once

class Fl_Widget;
struct CellBlock;

// Forgets every change, takes what is shown now as the state to go back
// to, and puts the keys in front of every widget. Start-up calls it once
// the autosave is in.
void startEditHistory();

// Where the window reports a change; each does nothing when the state is
// as it was. A value step of the selected map at the cursor:
void recordMapStep();
// A callback of one option control:
void recordOptionChange(const Fl_Widget* control);
// File Open, Device Read, and the read-back of a Device Write:
void recordCommandChange();
// A change made on the Table tab with these cells selected; never merged,
// but a nudge grows the nudges on the same cells just before it:
void recordTableChange(const CellBlock& cells, bool nudge = false);

// Seconds on a steady clock, which decides what is one change; tests
// replace it.
extern double (*editClock)();
