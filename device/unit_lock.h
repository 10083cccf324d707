// One unit, one talker. Every handle open on the unit receives every report,
// so two programs talking to it at once would read each other's replies.
// The window and the command-line program take this advisory lock around
// each exchange or whole transfer: kvz-cdi.lock in the runtime folder
// ($XDG_RUNTIME_DIR, else the state folder; see runtimeFolder).
#pragma once

#include <cstdint>

// The lock while held; released when it goes.
struct UnitLock {
    std::intptr_t handle = -1;  // the lock file, -1 while not held

    UnitLock() = default;
    UnitLock(const UnitLock&) = delete;
    UnitLock& operator=(const UnitLock&) = delete;
    ~UnitLock();
};

// How long a command waits for another program to finish with the unit.
constexpr int kUnitLockWaitMs = 5000;

// Takes the lock, trying again until `waitMs` has passed (0: one try).
// False only while another holder has it, in this process too. When no
// lock file can be made there is nobody to agree with: nothing is held and
// the caller goes on.
bool takeUnitLock(UnitLock& lock, int waitMs);

// Releases it now; nothing when it is not held.
void releaseUnitLock(UnitLock& lock);
