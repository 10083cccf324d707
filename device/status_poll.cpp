// STUB
#include "hid_link.h"
StatusUpdate queryUnitStatus() { return {}; }
