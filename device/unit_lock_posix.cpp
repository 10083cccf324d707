// The unit's lock on Linux: flock on its own device node, opened read-only
// for the purpose. A wait is tries without blocking every 20 ms until the
// deadline: it needs no signal to end it, so no signal mask a program was
// started with can make it wait for ever, and a command can be stopped
// between two tries.
#include "unit_lock_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace {
constexpr std::chrono::milliseconds kRetry(kLockRetryMs);
}  // namespace

void wakeUnitLockWait() {}

std::intptr_t lockUnitNode(const std::string& path, int waitMs, LockWaitStop stop, LockResult& why,
                           std::string& error)
{
    // Non-blocking, so that a path that is no device node cannot hold the
    // open up; nothing is ever read from this handle.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd == -1) {
        why = LockResult::failed;
        error = std::strerror(errno);
        return -1;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return fd;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            why = LockResult::failed;
            error = std::strerror(errno);
            break;
        }
        const Clock::time_point now = Clock::now();
        why = now >= deadline ? LockResult::busy : LockResult::interrupted;
        if (why == LockResult::busy || (stop && stop()))
            break;
        std::this_thread::sleep_for(std::min<Clock::duration>(kRetry, deadline - now));
    }
    close(fd);
    return -1;
}

void unlockUnitNode(std::intptr_t handle)
{
    close(static_cast<int>(handle));  // closing the node releases its lock
}
