// The lock itself, one source file per system (unit_lock_posix.cpp,
// unit_lock_windows.cpp); unit_lock.cpp decides when to take it.
#pragma once

#include <cstdint>
#include <string>

#include "unit_lock.h"

// Locks the unit at `path`, waiting up to `waitMs` for another holder, or
// until `stop` (if any) says to give up. A handle for unlockUnitNode, or -1
// and in `why` busy (another holder kept it), interrupted (the stop), or
// failed with `error` set (it could not be taken at all).
std::intptr_t lockUnitNode(const std::string& path, int waitMs, LockWaitStop stop, LockResult& why,
                           std::string& error);
void unlockUnitNode(std::intptr_t handle);
