// Map table access with the clamps every edit and file load goes through.
#include "map_table.h"

MapTable ignitionTable;
MapTable valveTable;

double MapTable::value(std::uint32_t map, std::uint32_t index) const
{
    if (map >= kMaps || index >= kPoints)
        return -1.0;
    return points[map * kPoints + index];
}

void MapTable::setValue(std::uint32_t map, std::uint32_t index, double v)
{
    if (map >= kMaps || index >= kPoints)
        return;
    if (v > upperClamp)
        v = upperClamp;
    if (v < lowerClamp)
        v = lowerClamp;
    points[map * kPoints + index] = v;
}

void setTableClamps()
{
    ignitionTable.lowerClamp = 0.0;
    ignitionTable.upperClamp = kIgnitionUpperClamp;
    valveTable.lowerClamp = 0.0;
    valveTable.upperClamp = kValveUpperClamp;
}
