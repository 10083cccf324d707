// Logout, Ctrl+C and a lost display on POSIX systems. The three signals are
// kept blocked and looked for from a short timeout, so the save runs on the
// toolkit's thread at the next turn of its loop, and a signal never breaks
// off a wait for the unit's reply. A transfer never returns to the loop
// between blocks, so one under way finishes first.
#include "session_end.h"

#include <FL/Fl.H>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#if defined(__linux__)
#include <X11/Xlib.h>
#endif

#include "map_file.h"
#include "startup.h"

namespace {

constexpr double kSignalCheckSeconds = 0.2;
const int kSessionEndSignals[] = {SIGTERM, SIGHUP, SIGINT};

void reportFailedSave()
{
    std::fprintf(stderr, "kvz-cdi: the maps could not be saved to the autosave file %s\n", autosavePath);
}

// Also runs inside a box's own loop: no exchange with the unit is pending
// while a box is open, so the save and the exit need not wait for it.
void onSignalCheck(void*)
{
    sigset_t pending;
    sigpending(&pending);
    for (int sig : kSessionEndSignals)
        if (sigismember(&pending, sig)) {
            if (!saveAutosaveForClose())
                reportFailedSave();
            leaveUnit();
            std::exit(0);
        }
    Fl::repeat_timeout(kSignalCheckSeconds, onSignalCheck);
}

#if defined(__linux__)
// Xlib calls this when the display is gone, and ends the process itself if
// it returns. The connection is dead, so nothing here may call X: the
// pickup field's text is not committed, and nothing beeps or asks.
int onDisplayLost(Display*)
{
    if (!saveAutosave())
        reportFailedSave();
    leaveUnit();
    std::fflush(stdout);
    _exit(1);
}
#endif

}  // namespace

void watchSessionEnd()
{
    // Past a file-size limit a write then fails with EFBIG, as on a full
    // disk, and the save says so, instead of the program ending halfway.
    signal(SIGXFSZ, SIG_IGN);

    sigset_t blocked;
    sigemptyset(&blocked);
    for (int sig : kSessionEndSignals)
        sigaddset(&blocked, sig);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);
    Fl::add_timeout(kSignalCheckSeconds, onSignalCheck);
#if defined(__linux__)
    XSetIOErrorHandler(onDisplayLost);
#endif
}
