// Shared test helpers on the map data.
#include "support.h"

#include "cdi_device.h"
#include "map_table.h"

void resetMapData(LogSink log)
{
    ignitionTable = MapTable();
    ignitionTable.upperClamp = 35.0;
    valveTable = MapTable();
    valveTable.upperClamp = 160.0;
    cdiDevice = CdiDevice();
    cdiDevice.log = log;
}
