// What kvz-cdi-cli does with the signals that would end it. A transfer is
// never cut short: from taking the unit's lock to letting it go, SIGINT,
// SIGTERM, SIGHUP and SIGQUIT (Ctrl+C on Windows) are held off, and one that
// comes then is acted on once the command's work is done; one that comes
// while the lock is still awaited ends the wait, before anything is sent.
// One source file per system (signals_posix.cpp, signals_windows.cpp).
#pragma once

#include <cstdio>

// At start. SIGXFSZ is ignored, so that a file-size limit fails a write as
// a full disk does, with the file's own error and clean-up.
void setUpSignals();

// From taking the unit's lock to letting it go; a signal that comes
// meanwhile is kept, not acted on. Further ones change nothing.
void holdSignals();
void endHoldingSignals();

// While held: whether one has come yet. The stop of a wait for the lock.
bool signalCame();

// Whether one came while held (the lowest-numbered; 0 for none, SIGINT for
// Ctrl+C on Windows).
int heldSignal();

// True, and forgotten, when it was SIGINT: status --watch ends on it.
bool takeHeldInterrupt();

// After holding ended: when a signal came while held, says so on `err`
// ("kvz-cdi-cli: " and `what`) and ends the program as that signal ends it
// (on POSIX it is raised again with its default action, so SIGQUIT still
// dumps core where the user asked for that; on Windows the status is 130).
// Returns when none came.
void actOnHeldSignal(std::FILE* err, const char* what = "interrupted: the transfer was finished first");
