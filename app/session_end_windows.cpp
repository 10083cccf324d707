// On Windows, logout reaches the program as the toolkit handles it, and a
// save past a size limit fails like any other write: nothing to watch here.
#include "session_end.h"

void watchSessionEnd() {}
