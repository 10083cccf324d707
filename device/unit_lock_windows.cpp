// The unit's lock on Windows: a named mutex in the Global namespace, seen by
// every session, that Everyone may wait on and release, so that a program
// of another user meets the same lock instead of being refused it. Every
// program asks only for those two rights, and so waits on the mutex itself,
// served in turn the moment the holder lets go.
#include "unit_lock_system.h"

#include <windows.h>
#include <sddl.h>

#include <chrono>

namespace {
const wchar_t kMutexName[] = L"Global\\kvz-cdi-04D8-003C";
constexpr DWORD kMutexRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
// SYNCHRONIZE | MUTEX_MODIFY_STATE for Everyone (WD).
const wchar_t kEveryoneMayUse[] = L"D:(A;;0x00100001;;;WD)";

std::string systemText(DWORD code)
{
    // The name is taken by an event, a semaphore or the like.
    if (code == ERROR_INVALID_HANDLE)
        return "Global\\kvz-cdi-04D8-003C names something that is not a mutex";
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n ? std::string(text, n) : "system error " + std::to_string(code);
    LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return out;
}

// Set by wakeUnitLockWait; a wait wakes on it to ask its stop. Made once,
// at the first use, and kept for the life of the process.
HANDLE wakeEvent()
{
    static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Made with the rights above for Everyone, or opened when it exists; an
// existing one whose rights do not give us both is refused.
HANDLE openMutex(DWORD& error)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryoneMayUse, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        error = GetLastError();
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE mutex = CreateMutexExW(&attributes, kMutexName, 0, kMutexRights);
    error = GetLastError();
    LocalFree(descriptor);
    return mutex;
}
}  // namespace

void wakeUnitLockWait()
{
    if (const HANDLE event = wakeEvent())
        SetEvent(event);
}

std::intptr_t lockUnitNode(const std::string&, int waitMs, LockWaitStop stop, LockResult& why, std::string& error)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    DWORD code = 0;
    HANDLE mutex = openMutex(code);
    if (!mutex) {
        why = LockResult::failed;
        error = systemText(code);
        return -1;
    }
    const HANDLE waitOn[2] = {mutex, wakeEvent()};
    const DWORD count = waitOn[1] ? 2 : 1;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const DWORD got = WaitForMultipleObjects(count, waitOn, FALSE, static_cast<DWORD>(left > 0 ? left : 0));
        // An abandoned mutex: its holder ended without letting go; it is ours now.
        if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED_0)
            return reinterpret_cast<std::intptr_t>(mutex);
        if (got == WAIT_OBJECT_0 + 1) {
            if (stop && stop()) {
                why = LockResult::interrupted;
                break;
            }
            continue;
        }
        why = got == WAIT_TIMEOUT ? LockResult::busy : LockResult::failed;
        if (why == LockResult::failed)
            error = systemText(GetLastError());
        break;
    }
    CloseHandle(mutex);
    return -1;
}

void unlockUnitNode(std::intptr_t handle)
{
    HANDLE mutex = reinterpret_cast<HANDLE>(handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
