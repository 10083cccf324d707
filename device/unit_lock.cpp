// The program's one lock on the unit and its holders.
#include "unit_lock.h"

#include <hidapi.h>

#include <cstdint>

#include "hid_link.h"
#include "unit_lock_system.h"

namespace {
struct ProgramLock {
    std::intptr_t handle = -1;  // -1 while not held
    int holders = 0;
    std::string path;
};
ProgramLock program;

std::string firstUnitPath()
{
    hid_device_info* units = hid_enumerate(CDI_VENDOR_ID, CDI_PRODUCT_ID);
    std::string path = units && units->path ? units->path : "";
    hid_free_enumeration(units);
    return path;
}
}  // namespace

UnitLock::~UnitLock()
{
    releaseUnitLock(*this);
}

LockResult takeUnitLock(UnitLock& lock, int waitMs, LockWaitStop stop)
{
    releaseUnitLock(lock);
    lock.error.clear();
    if (program.handle == -1) {
        lock.path = firstUnitPath();
        if (lock.path.empty())
            return LockResult::noUnit;
        LockResult why = LockResult::failed;
        program.handle = lockUnitNode(lock.path, waitMs, stop, why, lock.error);
        if (program.handle == -1)
            return why;
        program.path = lock.path;
    }
    lock.path = program.path;
    lock.held = true;
    ++program.holders;
    return LockResult::taken;
}

void releaseUnitLock(UnitLock& lock)
{
    if (!lock.held)
        return;
    lock.held = false;
    --program.holders;
    settleUnitLock(false);
}

bool unitLockLingers()
{
    return program.handle != -1 && program.holders == 0;
}

bool settleUnitLock(bool wait)
{
    if (!unitLockLingers())
        return false;
    if (wait)
        waitOutLateReply();
    if (replyOwed())
        return false;
    unlockUnitNode(program.handle);
    program.handle = -1;
    program.path.clear();
    return true;
}

const std::string& lockedUnitPath()
{
    return program.path;
}
