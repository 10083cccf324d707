// Ctrl+C held off by a console control handler, which the console calls on
// a thread of its own: while held it notes the event and says it was
// handled; otherwise the next handler (the default one ends the program).
#include "signals.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "unit_lock.h"

namespace {
std::atomic<bool> holding{false};
std::atomic<bool> came{false};

BOOL WINAPI onConsoleControl(DWORD event)
{
    if ((event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) || !holding)
        return FALSE;
    came = true;
    wakeUnitLockWait();
    return TRUE;
}
}  // namespace

void setUpSignals()
{
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void holdSignals()
{
    holding = true;
}

void endHoldingSignals()
{
    holding = false;
}

bool signalCame()
{
    return came;
}

int heldSignal()
{
    return came ? SIGINT : 0;
}

bool takeHeldInterrupt()
{
    return came.exchange(false);
}

void actOnHeldSignal(std::FILE* err, const char* what)
{
    if (!came)
        return;
    std::fprintf(err, "kvz-cdi-cli: %s\n", what);
    std::fflush(err);
    std::exit(130);
}
