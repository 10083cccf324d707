// The unit's ceiling and the points that run differently from the maps.
#include "unit_limits.h"

#include <cmath>
#include <cstdio>

namespace {
constexpr double kNoticeableDegrees = 0.5;
constexpr std::size_t kListedRuns = 8;

std::string runLine(const DifferentRun& run)
{
    char line[128];
    const char* map = run.map == 0 ? "IGN MAP0" : "IGN MAP1";
    if (run.first == run.last)
        std::snprintf(line, sizeof line, "%s %d rpm: %.1f runs as %.1f", map, run.first * 100, run.value, run.held);
    else
        std::snprintf(line, sizeof line, "%s %d-%d rpm, largest at %d rpm: %.1f runs as %.1f", map, run.first * 100,
                      run.last * 100, run.largest * 100, run.value, run.held);
    return line;
}
}  // namespace

double unitAdvance(double advance, std::uint16_t index, const TimingReference& reference)
{
    return decodeWord(encodeAdvance(advance, index, reference).word, index, reference).advance;
}

double unitCeiling(std::uint16_t index, const TimingReference& reference)
{
    return unitAdvance(kIgnitionUpperClamp, index, reference);
}

bool runsDifferently(double advance, std::uint16_t index, const TimingReference& reference)
{
    return index >= kFirstRunningPoint && index < MapTable::kPoints
           && std::fabs(unitAdvance(advance, index, reference) - advance) > kNoticeableDegrees;
}

std::vector<DifferentRun> differentRuns(const MapTable& ignition, const TimingReference& reference)
{
    std::vector<DifferentRun> runs;
    for (std::uint32_t map = 0; map < MapTable::kMaps; ++map) {
        bool inRun = false;
        for (std::uint32_t i = kFirstRunningPoint; i < MapTable::kPoints; ++i) {
            const auto index = static_cast<std::uint16_t>(i);
            const double value = ignition.value(map, i);
            if (!runsDifferently(value, index, reference)) {
                inRun = false;
                continue;
            }
            const double held = unitAdvance(value, index, reference);
            if (!inRun)
                runs.push_back({static_cast<int>(map), index, index, index, value, held});
            DifferentRun& run = runs.back();
            run.last = index;
            if (std::fabs(held - value) > std::fabs(run.held - run.value)) {
                run.largest = index;
                run.value = value;
                run.held = held;
            }
            inRun = true;
        }
    }
    return runs;
}

int pointsIn(const std::vector<DifferentRun>& runs)
{
    int points = 0;
    for (const DifferentRun& run : runs)
        points += run.last - run.first + 1;
    return points;
}

std::string differentRunsText(const std::vector<DifferentRun>& runs)
{
    std::string text = "These points will run differently on the unit than the maps show:";
    for (std::size_t r = 0; r < runs.size() && r < kListedRuns; ++r)
        text += "\n" + runLine(runs[r]);
    if (runs.size() > kListedRuns) {
        const int more = pointsIn(std::vector<DifferentRun>(runs.begin() + kListedRuns, runs.end()));
        text += "\nand " + std::to_string(more) + (more == 1 ? " more point" : " more points");
    }
    return text;
}
