// The unit's lock on Windows: a named mutex in the Global namespace, seen by
// every session, that Everyone may wait on and release, so that a program
// of another user meets the same lock instead of being refused it.
#include "unit_lock_system.h"

#include <windows.h>
#include <sddl.h>

#include <chrono>
#include <thread>

namespace {
const wchar_t kMutexName[] = L"Global\\kvz-cdi-04D8-003C";
// SYNCHRONIZE | MUTEX_MODIFY_STATE for Everyone (WD).
const wchar_t kEveryoneMayUse[] = L"D:(A;;0x00100001;;;WD)";

std::string systemText(DWORD code)
{
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

HANDLE openMutex(DWORD& error)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kEveryoneMayUse, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        error = GetLastError();
        return nullptr;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    HANDLE mutex = CreateMutexW(&attributes, FALSE, kMutexName);
    error = GetLastError();
    LocalFree(descriptor);
    return mutex;
}
}  // namespace

std::intptr_t lockUnitNode(const std::string&, int waitMs, bool& busy, std::string& error)
{
    busy = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    DWORD code = 0;
    HANDLE mutex = openMutex(code);
    // Refused a mutex another user made without the rights above: theirs is
    // held by another program as far as this one can tell.
    while (!mutex && code == ERROR_ACCESS_DENIED && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        mutex = openMutex(code);
    }
    if (!mutex) {
        busy = code == ERROR_ACCESS_DENIED;
        if (!busy)
            error = systemText(code);
        return -1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const DWORD got = WaitForSingleObject(mutex, static_cast<DWORD>(left.count() > 0 ? left.count() : 0));
    // An abandoned mutex: its holder ended without letting go; it is ours now.
    if (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED)
        return reinterpret_cast<std::intptr_t>(mutex);
    busy = got == WAIT_TIMEOUT;
    if (!busy)
        error = systemText(GetLastError());
    CloseHandle(mutex);
    return -1;
}

void unlockUnitNode(std::intptr_t handle)
{
    HANDLE mutex = reinterpret_cast<HANDLE>(handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
