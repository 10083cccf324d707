// The lock itself, one source file per system (unit_lock_posix.cpp,
// unit_lock_windows.cpp); unit_lock.cpp decides when to take it.
#pragma once

#include <cstdint>
#include <string>

// Locks the unit at `path`, waiting up to `waitMs` for another holder. A
// handle for unlockUnitNode, or -1 with `busy` set when another holder kept
// it, or with `error` set when it could not be taken at all.
std::intptr_t lockUnitNode(const std::string& path, int waitMs, bool& busy, std::string& error);
void unlockUnitNode(std::intptr_t handle);
