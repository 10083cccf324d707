// The unit's lock on Linux: flock on its own device node, opened read-only
// for the purpose. Waiting happens in flock itself, so a waiter is served
// the moment the holder lets go; a timer aimed at this thread ends the wait.
#include "unit_lock_system.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
// Only there to interrupt flock.
void onWaitTimer(int) {}

using Clock = std::chrono::steady_clock;

// flock(LOCK_EX) until it is taken or the deadline passes. The timer fires
// at the deadline and then every 50 ms, so a tick that lands just before
// flock starts waiting is followed by one that ends it.
bool waitForLock(int fd, int waitMs)
{
    struct sigaction quiet = {}, before = {};
    quiet.sa_handler = onWaitTimer;
    sigemptyset(&quiet.sa_mask);
    sigaction(SIGALRM, &quiet, &before);  // no SA_RESTART: flock returns EINTR

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGALRM;
    event._sigev_un._tid = gettid();  // glibc gives this field no other name
    timer_t timer;
    const bool made = timer_create(CLOCK_MONOTONIC, &event, &timer) == 0;
    bool armed = made;
    if (made) {
        itimerspec when = {};
        when.it_value.tv_sec = waitMs / 1000;
        when.it_value.tv_nsec = static_cast<long>(waitMs % 1000) * 1000000L;
        when.it_interval.tv_nsec = 50 * 1000000L;
        armed = timer_settime(timer, 0, &when, nullptr) == 0;
    }
    bool taken = false;
    // Without a timer there is nothing to end a wait: one more try only.
    while (!taken) {
        taken = flock(fd, armed ? LOCK_EX : LOCK_EX | LOCK_NB) == 0;
        if (!taken && (errno != EINTR || Clock::now() >= deadline))
            break;
    }
    const int error = errno;
    if (made)
        timer_delete(timer);
    sigaction(SIGALRM, &before, nullptr);
    errno = error;
    return taken;
}
}  // namespace

std::intptr_t lockUnitNode(const std::string& path, int waitMs, bool& busy, std::string& error)
{
    busy = false;
    // Non-blocking, so that a path that is no device node cannot hold the
    // open up; nothing is ever read from this handle.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd == -1) {
        error = std::strerror(errno);
        return -1;
    }
    bool taken = flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (!taken && errno == EWOULDBLOCK && waitMs > 0)
        taken = waitForLock(fd, waitMs);
    if (taken)
        return fd;
    busy = errno == EWOULDBLOCK || errno == EINTR;
    if (!busy)
        error = std::strerror(errno);
    close(fd);
    return -1;
}

void unlockUnitNode(std::intptr_t handle)
{
    close(static_cast<int>(handle));  // closing the node releases its lock
}
