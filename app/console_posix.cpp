// On POSIX systems the standard streams are the terminal's, or what the
// caller redirected them to: nothing to do.
#include "console.h"

void useStartingConsole() {}
