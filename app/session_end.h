// The ends of a run that do not come through the window: logout and Ctrl+C
// (SIGTERM, SIGHUP, SIGINT) and a lost display. Each saves the autosave as a
// close does, but asks nothing, since nobody is left to answer.
#pragma once

// Start-up calls it once, after the window is shown.
void watchSessionEnd();
