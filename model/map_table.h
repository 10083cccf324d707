// The two map tables: 2 maps x 160 rpm points each, with store clamps.
#pragma once

#include <cstdint>

// Point i of a map stands for i x 100 rpm. Run position k = map x 160 + index
// walks both maps in the order the unit and the .cdi file use.
struct MapTable {
    static constexpr std::uint32_t kMaps = 2;
    static constexpr std::uint32_t kPoints = 160;
    static constexpr std::uint32_t kRun = kMaps * kPoints;

    double points[kRun] = {};
    double lowerClamp = 0.0;
    double upperClamp = 0.0;

    // -1.0 for a map above 1 or an index above 159.
    double value(std::uint32_t map, std::uint32_t index) const;
    // Ignored out of range; the upper bound is applied first, then the lower.
    void setValue(std::uint32_t map, std::uint32_t index, double v);
};

extern MapTable ignitionTable;  // degrees of advance, 0..35
extern MapTable valveTable;     // power-valve values, 0..160

// The upper clamps of the two tables; both lower clamps are 0.
constexpr double kIgnitionUpperClamp = 35.0;
constexpr double kValveUpperClamp = 160.0;

// Sets both tables' clamps; start-up does so before anything stores into
// them.
void setTableClamps();
