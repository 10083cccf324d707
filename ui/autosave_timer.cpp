// The timer behind the autosave that follows the work. One write at a time
// is due at most; a change while one is due is taken by it, as the write
// captures the state when it runs.
#include "autosave_timer.h"

#include <FL/Fl.H>

#include <algorithm>
#include <chrono>

#include "cdi_device.h"
#include "edit_history.h"
#include "map_file.h"
#include "map_table.h"

namespace {
// A held button's steps or a slider's drag settle first, then are written once.
constexpr double kSettleSeconds = 0.5;
constexpr double kSpacingSeconds = 2.0;

bool writable = false;
EditState written;  // the maps and options as last written, or as start-up left them
double lastTrySeconds = -kSpacingSeconds;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void onAutosaveDue(void*)
{
    const EditState now = captureState(ignitionTable, valveTable, cdiDevice);
    if (sameState(now, written))
        return;
    lastTrySeconds = steadySeconds();
    if (saveAutosave())
        written = now;
}
}  // namespace

void startAutosaveTimer(bool autosaveWritable)
{
    writable = autosaveWritable;
    written = captureState(ignitionTable, valveTable, cdiDevice);
    Fl::remove_timeout(onAutosaveDue);
}

void autosaveSoon()
{
    if (!writable || Fl::has_timeout(onAutosaveDue))
        return;
    const double sinceLastTry = steadySeconds() - lastTrySeconds;
    Fl::add_timeout(std::max(kSettleSeconds, kSpacingSeconds - sinceLastTry), onAutosaveDue);
}
