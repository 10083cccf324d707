// Start-up and shutdown of the program.
#pragma once

#include <string>

class Fl_Double_Window;
class Fl_Widget;

// Everything before the event loop runs, in order; returns the shown window.
// argv is what the window's show takes. A file, when named, is opened over
// the autosave as File Open would open it, and undo starts from it; one it
// refuses is said once the window is up.
Fl_Double_Window* startApplication(int argc, char** argv, const std::string& file = {});

// The autosave as a close writes it, the pickup field's text committed
// first. False when it could not be written.
bool saveAutosaveForClose();

// Before the process ends: keeps the unit's lock until a reply still owed
// to this program can no longer come (at most 1.5 s), then lets it go.
void leaveUnit();

// The window's callback (close button or Escape): saves the autosave file
// and ends the process with status 0. When the save fails it asks whether
// to close anyway; No keeps the window open.
void onWindowClose(Fl_Widget*, void*);
