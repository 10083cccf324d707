// Ride logs as the window reads them: what a file must be to be taken, and
// the time each row and map switch position gets from it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "map_edits.h"
#include "ride_log.h"

namespace {
const std::string kHeader = "# kvz-cdi 1.2.0, unit KVZ Electronics KVZ-CDI\ntime,rpm,valve_angle,map_switch,qs_switch\n";

// A row at 09:30:00 plus `ms`.
std::string at(int ms, const char* values)
{
    char time[64];
    std::snprintf(time, sizeof time, "2024-05-01T09:30:%02d.%03dZ,%s\n", ms / 1000, ms % 1000, values);
    return time;
}

struct Refusal {
    std::string text;
    const char* why;
};
class RefusedLog : public testing::TestWithParam<Refusal> {};

TEST_P(RefusedLog, ChangesNothingAndSaysWhy)
{
    RideLog log;
    log.firstMs = 7;
    std::string why;
    EXPECT_EQ(parseRideLog(GetParam().text, log, why), 0);
    EXPECT_EQ(why, GetParam().why);
    EXPECT_TRUE(log.samples.empty() && log.firstMs == 7);
}

INSTANTIATE_TEST_SUITE_P(
    Each, RefusedLog,
    testing::Values(Refusal{"time,rpm,valve_angle,map_switch,qs_switch\n", "line 1: not a ride log"},
                    Refusal{"# kvz-cdi-cli 1.2.0, unit not found\nrpm,ign_map0\n", "line 2: not a ride log"},
                    Refusal{kHeader + at(0, "6000,80,0,1") + at(500, "fast,80,0,1"), "line 4: not a number"},
                    Refusal{kHeader + at(0, "6000,256,0,1"), "line 3: out of range"},
                    Refusal{kHeader + at(0, "6000,80,2,1"), "line 3: out of range"},
                    Refusal{kHeader + at(0, "6000,,0,1"), "line 3: a value is missing"},
                    Refusal{kHeader + at(0, "6000,80,0,1,1"), "line 3: not a row of 5 fields"},
                    Refusal{kHeader + "2024-05-01 09:30:00,6000,80,0,1\n", "line 3: not a time"},
                    Refusal{kHeader + "2024-02-30T09:30:00.000Z,6000,80,0,1\n", "line 3: not a time"},
                    Refusal{kHeader + at(900, "6000,80,0,1") + at(800, "6000,80,0,1"), "line 4: time goes back"},
                    Refusal{kHeader + at(0, ",,,"), "no samples"}));

// A sample counts the gap to the next row, at most a second, and an
// unanswered row ends it; below 250 rpm it counts for no row; the last
// sample counts nothing.
TEST(RideLog, EachSampleCountsItsGapAtItsRowAndSwitch)
{
    const std::string text = kHeader + at(0, "6000,80,0,1") + at(500, "6000,80,0,1") + at(3500, "100,80,0,1")
                             + at(4000, ",,,") + at(10000, "9000,80,1,0") + at(10250, "9000,90,1,0");
    std::string crLf;
    for (const char c : text)
        crLf += c == '\n' ? "\r\n" : std::string(1, c);
    RideLog log;
    std::string why;
    for (const std::string& each : {text, crLf}) {
        ASSERT_EQ(parseRideLog(each.substr(0, each.size() - 1), log, why), 1) << why;
        const RowTimes times = timePerRow(log);
        RowTimes expected(kGridRows, {0, 0});
        expected[11][0] = 1500;
        expected[17][1] = 250;
        EXPECT_EQ(times, expected);
        EXPECT_EQ(busiestCell(times), 1500);
    }
    EXPECT_EQ(rideLogSummary("ride.csv", log), "ride.csv: 10 s, 5 samples");
    EXPECT_EQ(sampleAt(log, 3.9).values.rpm, 100u);
    EXPECT_EQ(sampleAt(log, -1.0).timeMs, log.samples.front().timeMs);
    EXPECT_EQ(sampleText(log, sampleAt(log, 99.0)), "+0:10.2 (09:30:10 UTC): 9000 rpm, valve angle 90, MAP1, QSSW OFF");
}
}  // namespace
