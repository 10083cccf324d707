// kvz-cdi.exe is a GUI program: started from a Command Prompt it gets no
// standard streams, so help, the version and usage errors would print
// nowhere. It borrows the Command Prompt's console, which the prompt does
// not wait for, so the text may come after the next prompt. A stream the
// caller redirected (kvz-cdi --help > help.txt, or through a pipe) is kept.
#include "console.h"

#include <windows.h>

#include <io.h>

#include <cstdio>

namespace {
// True when the C runtime's stream already has a file, pipe or console.
bool leadsSomewhere(FILE* stream)
{
    intptr_t handle = _get_osfhandle(_fileno(stream));
    return handle != -1 && handle != -2;
}
}

void useStartingConsole()
{
    bool out = leadsSomewhere(stdout);
    bool err = leadsSomewhere(stderr);
    if ((out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!out)
        std::freopen("CONOUT$", "w", stdout);
    if (!err)
        std::freopen("CONOUT$", "w", stderr);
}
