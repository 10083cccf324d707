// What the fuzz targets of the map readers (the .cdi loader and the CSV
// import) check of any input: a reader either refuses it without touching
// the tables and the configuration, or gives finite values that a load
// stores inside the clamps, with valid option bytes and the unit's own
// configuration bytes untouched.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cdi_device.h"
#include "map_file.h"
#include "map_table.h"

namespace fuzz {

struct Globals {
    MapTable ignition;
    MapTable valve;
    ConfigBlock config;
    std::int32_t latency;
};

inline Globals capture()
{
    return {ignitionTable, valveTable, cdiDevice.config, cdiDevice.latencyOffset};
}

inline bool same(const Globals& a, const Globals& b)
{
    return std::memcmp(&a.ignition, &b.ignition, sizeof a.ignition) == 0
           && std::memcmp(&a.valve, &b.valve, sizeof a.valve) == 0
           && std::memcmp(&a.config, &b.config, sizeof a.config) == 0 && a.latency == b.latency;
}

inline void check(bool holds)
{
    if (!holds)
        std::abort();
}

inline int checkReader(const std::uint8_t* data, std::size_t size,
                       int (*parse)(const std::string&, MapFileRecord&, std::string*))
{
    // The clamps start-up sets before the autosave load.
    setTableClamps();

    std::string text(reinterpret_cast<const char*>(data), size);
    Globals before = capture();
    MapFileRecord record;
    std::string why;
    int result = parse(text, record, &why);
    check(result == 1 || (result == 0 && !why.empty()));  // a refusal says why
    check(same(before, capture()));  // reading never stores
    if (!result)
        return 0;

    for (double v : record.ignition)
        check(std::isfinite(v));
    for (double v : record.valve)
        check(std::isfinite(v));
    check(record.optionCount >= kRequiredOptionLines && record.optionCount <= kOptionLines);

    applyMapFile(record);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        check(ignitionTable.points[k] >= 0.0 && ignitionTable.points[k] <= kIgnitionUpperClamp);
        check(valveTable.points[k] >= 0.0 && valveTable.points[k] <= kValveUpperClamp);
    }
    const ConfigBlock& c = cdiDevice.config;
    check(c.pulseType == 1 || c.pulseType == 2);
    check(c.qsStopSwitch <= 1 && c.qsReverse <= 1);
    check(c.engineConstantValue() == (c.pulseType == 1 ? 37500 : 18750));
    check(cdiDevice.latencyOffset == (c.pulseType == 1 ? 610 : 570));
    check(std::memcmp(c.bytes(), before.config.bytes(), 2) == 0 && c.bytes()[9] == before.config.bytes()[9]
          && std::memcmp(c.bytes() + 14, before.config.bytes() + 14, 50) == 0);
    return 0;
}

}  // namespace fuzz
