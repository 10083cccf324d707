// STUB
#include "hid_link.h"
hid_device* openUnit() { return nullptr; }
void closeUnit(hid_device*) {}
