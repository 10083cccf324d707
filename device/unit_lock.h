// One unit, one talker. Every handle open on the unit receives every report,
// in every program, so two programs talking to it at once would read each
// other's replies. The lock is the unit itself: flock on its device node on
// Linux, which whoever may use the unit can take and nobody else, whatever
// their environment; a named mutex that every session sees on Windows. A
// handle on the unit is opened only while its program holds the lock (see
// openUnit), and a reply still owed keeps the lock held.
#pragma once

#include <string>

// How long a command waits for another program to finish with the unit.
constexpr int kUnitLockWaitMs = 5000;

// A program waiting for the lock tries this often, so a program that takes
// it again and again leaves it free a while longer than this in between.
constexpr int kLockRetryMs = 20;

enum class LockResult {
    taken,
    noUnit,       // none on the bus
    busy,         // another program kept it
    failed,       // the node could not be opened or locked: `error` says why
    interrupted,  // the wait was ended by its stop
};

// What ends a wait for another program before its deadline, when it returns
// true: asked between tries, which come every 20 ms on POSIX; on Windows,
// where the wait sleeps on the lock itself, it is asked whenever
// wakeUnitLockWait is called. Null: only the deadline ends the wait.
using LockWaitStop = bool (*)();

// From any thread: a wait for the lock under way asks its stop now (the
// console's Ctrl+C handler on Windows). Does nothing on POSIX.
void wakeUnitLockWait();

// One holder of the program's lock while held; lets go when it goes.
struct UnitLock {
    bool held = false;
    std::string path;   // the unit's, as enumerated
    std::string error;  // why it failed

    UnitLock() = default;
    UnitLock(const UnitLock&) = delete;
    UnitLock& operator=(const UnitLock&) = delete;
    ~UnitLock();
};

// A program holds at most one lock on the unit, which its holders share:
// taking it while the program holds it succeeds at once, and the late-reply
// rule of the exchange decides any wait. Otherwise finds the first unit and
// locks it, waiting up to `waitMs` for another program to let go (0: one
// try), or until `stop` says to give up.
LockResult takeUnitLock(UnitLock& lock, int waitMs, LockWaitStop stop = nullptr);

// This holder lets go. The program's lock goes with its last holder, unless
// a reply is still owed: then the program keeps it until settleUnitLock, so
// that no other program sends anything while that reply may still come.
void releaseUnitLock(UnitLock& lock);

// True while the program keeps the lock only for a reply still owed.
bool unitLockLingers();

// Lets a lingering lock go once no reply is owed any more; with `wait`,
// waits for that first. True when it let go now.
bool settleUnitLock(bool wait);

// The path of the unit whose lock the program holds; empty when none.
const std::string& lockedUnitPath();
