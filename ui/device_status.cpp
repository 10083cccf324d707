// STUB
#include "device_status.h"
void pollStatus(void*) {}
