// The unit lock: one try, or tries until a deadline.
#include "unit_lock.h"

#include <chrono>
#include <string>
#include <thread>

#include "platform_paths.h"

namespace {
// A holder keeps the lock for one transfer at most; a short pause between
// tries costs nothing next to that.
constexpr std::chrono::milliseconds kRetryPause(20);

bool tryLock(UnitLock& lock, bool& busy)
{
    busy = false;
    std::string dir;
    if (!runtimeFolder(dir))
        return true;
    lock.handle = lockFile((dir + "kvz-cdi.lock").c_str(), busy);
    return lock.handle != -1 || !busy;
}
}  // namespace

UnitLock::~UnitLock()
{
    releaseUnitLock(*this);
}

bool takeUnitLock(UnitLock& lock, int waitMs)
{
    releaseUnitLock(lock);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    bool busy;
    while (!tryLock(lock, busy)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kRetryPause);
    }
    return true;
}

void releaseUnitLock(UnitLock& lock)
{
    if (lock.handle != -1)
        unlockFile(lock.handle);
    lock.handle = -1;
}
