// The autosave kept up to date while the user works, so that a crash, a
// kill or a power cut loses at most the last two seconds: every change the
// edit history records has the autosave written soon after, by a toolkit
// timer on the event loop's thread (never from a signal handler).
#pragma once

// Start-up, once the edit history has started: what is held now counts as
// written. With `writable` false the autosave is left to the close for the
// whole run.
void startAutosaveTimer(bool writable);

// After each change: the autosave is written within two seconds, at most
// once every two seconds, as a close writes it, and only when the maps or
// options differ from what was last written. A failed write asks nothing;
// the next change tries again. Text still being typed into the pickup field
// is not taken.
void autosaveSoon();
