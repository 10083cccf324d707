// What kvz-cdi-cli does with the signals that would end it. A transfer is
// never cut short: from taking the unit's lock to letting it go, SIGINT,
// SIGTERM and SIGHUP (Ctrl+C on Windows) are held off, and one that comes
// then is acted on once the command's work is done. One source file per
// system (signals_posix.cpp, signals_windows.cpp).
#pragma once

#include <cstdio>

// At start. SIGXFSZ is ignored, so that a file-size limit fails a write as
// a full disk does, with the file's own error and clean-up.
void setUpSignals();

// From taking the unit's lock to letting it go; a signal that comes
// meanwhile is kept, not acted on. Further ones change nothing.
void holdSignals();
void endHoldingSignals();

// Whether one came while held (the lowest-numbered; 0 for none, SIGINT for
// Ctrl+C on Windows).
int heldSignal();

// True, and forgotten, when it was SIGINT: status --watch ends on it.
bool takeHeldInterrupt();

// After the command's work and its results: when a signal came while held,
// says so on `err` and ends the program as that signal ends it (on POSIX
// it is raised again with its default action; on Windows the status is
// 130). Returns when none came.
void actOnHeldSignal(std::FILE* err);
