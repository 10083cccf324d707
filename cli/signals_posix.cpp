// Signals held off with the signal mask: one that comes stays pending, and
// is taken off before the mask goes back, so that only actOnHeldSignal acts
// on it. A signal the program was started ignoring (nohup) never pends.
#include "signals.h"

#include <signal.h>

namespace {
const int kHeldOff[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};  // lowest-numbered first

sigset_t maskBefore;
sigset_t came;

sigset_t heldOffSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kHeldOff)
        sigaddset(&set, sig);
    return set;
}
}  // namespace

void setUpSignals()
{
    signal(SIGXFSZ, SIG_IGN);
    sigemptyset(&came);
}

void holdSignals()
{
    const sigset_t set = heldOffSet();
    sigprocmask(SIG_BLOCK, &set, &maskBefore);
}

void endHoldingSignals()
{
    sigset_t pending;
    sigpending(&pending);
    for (int sig : kHeldOff) {
        if (!sigismember(&pending, sig))
            continue;
        sigaddset(&came, sig);
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, sig);
        int taken = 0;
        sigwait(&one, &taken);
    }
    sigprocmask(SIG_SETMASK, &maskBefore, nullptr);
}

bool signalCame()
{
    sigset_t pending;
    sigpending(&pending);
    for (int sig : kHeldOff)
        if (sigismember(&pending, sig) == 1)
            return true;
    return false;
}

int heldSignal()
{
    for (int sig : kHeldOff)
        if (sigismember(&came, sig))
            return sig;
    return 0;
}

bool takeHeldInterrupt()
{
    const bool interrupted = sigismember(&came, SIGINT) == 1;
    sigdelset(&came, SIGINT);
    return interrupted;
}

void actOnHeldSignal(std::FILE* err, const char* what)
{
    const int sig = heldSignal();
    if (sig == 0)
        return;
    std::fprintf(err, "kvz-cdi-cli: %s\n", what);
    std::fflush(err);
    signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    sigprocmask(SIG_UNBLOCK, &one, nullptr);
    raise(sig);
}
