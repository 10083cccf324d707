// Block-by-block read and verified write of both tables and the
// configuration block over the open handle of the device record.
#pragma once

#include <cstdint>

#include "cdi_device.h"
#include "map_table.h"

// 1 when all 32 blocks were read, else 0 (after reporting the failure).
int readDeviceMaps(CdiDevice& device, MapTable& ignition, MapTable& valve);

// 1 when all 32 blocks were written and echoed, else 0. Uses `cdiDevice`.
int writeDeviceMaps(MapTable& ignition, MapTable& valve);

// The unit echoes a write request from byte 4 on.
bool verifyEcho();

// Prints the first 64 bytes of a report in rows of hex and characters.
void traceDump(const std::uint8_t* buffer);
