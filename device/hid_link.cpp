// Finding the unit on the bus.
#include "hid_link.h"

#include <hidapi.h>

hid_device* openUnit()
{
    // No serial number: the first unit with our ids is the one used.
    return hid_open(CDI_VENDOR_ID, CDI_PRODUCT_ID, nullptr);
}

void closeUnit(hid_device* handle)
{
    hid_close(handle);
}
