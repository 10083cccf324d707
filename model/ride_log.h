// Ride logs: the unit's live values over a ride, as kvz-cdi-cli status --csv
// and the window's Record write them, and what the window reads from one:
//   # kvz-cdi-cli 1.2.0, unit KVZ Electronics KVZ-CDI   the program ("kvz-cdi"
//                                                        for the window) and
//                                                        the unit, or "unit not found"
//   time,rpm,valve_angle,map_switch,qs_switch
//   2024-05-01T09:30:00.250Z,6000,80,0,1    ISO 8601 UTC in milliseconds;
//                                           map_switch 1 for map 1,
//                                           qs_switch 1 while the switch is on
//   2024-05-01T09:30:00.750Z,,,,            a sample the unit did not answer
// LF written; LF or CR LF read; no quoting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The live values as a row holds them.
struct LiveValues {
    unsigned rpm;
    unsigned valveAngle;
    int mapSwitch;  // 1 for map 1
    int qsSwitch;   // 1 while the switch is on
};

// From the status reply's fields, the switches as the unit gives them
// (map switch 0 is map 0; quick-shifter switch 0 is on).
LiveValues liveValues(std::uint16_t rpm, std::uint8_t valveAngle, std::uint8_t mapSwitch,
                      std::uint8_t shifterSwitch);

// The time now as a row gives it, e.g. "2024-05-01T09:30:00.250Z".
std::string rideLogTimeNow();

// The two header lines; `unit` is "MAKER PRODUCT", none when no unit was found.
std::string rideLogHeader(const char* program, const std::optional<std::string>& unit);
// One row, its four values empty when the unit gave none.
std::string rideLogRow(const std::string& time, const std::optional<LiveValues>& values);

// ---- Recording ----

// A log being written: whole rows only, each flushed as it is written.
struct RideRecording {
    std::FILE* file = nullptr;  // null while none is open
    std::string path;
    long rows = 0;
    std::uintmax_t whole = 0;  // bytes up to the end of the last whole row
};

// A new log in $XDG_DATA_HOME/kvz-cdi/logs/ (%LOCALAPPDATA%\kvz-cdi\logs\ on
// Windows), the folder made private when missing, as YYYYMMDD-HHMMSS.csv
// (UTC, `when`; "-2", "-3" ... added while the name is taken), private to
// the user, starting with `header`. False when it cannot be: `path` then
// names the folder.
bool startRideRecording(RideRecording& recording, std::time_t when, const std::string& header);
// False when the row could not be written: the file is cut back to its last
// whole row and closed.
bool recordRideRow(RideRecording& recording, const std::string& row);
// Closes the file; false when that failed.
bool endRideRecording(RideRecording& recording);

// Where startRideRecording puts the logs, without making or looking at anything.
bool rideLogFolderPath(std::string& dir);

// ---- Reading ----

constexpr std::size_t kRideLogMaxBytes = std::size_t{64} << 20;

struct RideSample {
    std::int64_t timeMs;  // since the epoch
    LiveValues values;
    // The gap to the next row's time, at most a second; none for the last.
    std::int64_t countedMs;
};

struct RideLog {
    std::vector<RideSample> samples;  // in time order; at least one
    std::int64_t firstMs = 0;         // the first row's time and the last's,
    std::int64_t lastMs = 0;          // samples or not
};

// The whole text or nothing: 1 when it is a ride log of either program with
// at least one sample. A row whose four values are all empty is no sample
// but ends the gap of the one before. Else 0, the log untouched and `why`
// saying what is wrong, with the line where there is one ("line 12: not a
// number").
int parseRideLog(std::string_view text, RideLog& log, std::string& why);
// The file at `path`, at most kRideLogMaxBytes, as parseRideLog reads it.
int readRideLog(const char* path, RideLog& log, std::string& why);

// Samples below this speed stand for no row.
constexpr unsigned kLeastRowRpm = 250;

// Milliseconds counted per row of the Table tab (the row nearest a sample's
// speed) and map switch position.
using RowTimes = std::vector<std::array<std::int64_t, 2>>;
RowTimes timePerRow(const RideLog& log);
// The row a sample counts for, -1 for none.
int sampleRow(const RideSample& sample);
// The most time in one cell; 0 for none.
std::int64_t busiestCell(const RowTimes& times);

// "ride.csv: 14 min 03 s, 8,431 samples".
std::string rideLogSummary(const std::string& name, const RideLog& log);

// The last sample at or before `seconds` after the first sample.
const RideSample& sampleAt(const RideLog& log, double seconds);
// The sample's time from the first and of day, and its values:
// "+1:05.0 (09:31:05 UTC): 9000 rpm, valve angle 80, MAP1, QSSW OFF".
std::string sampleText(const RideLog& log, const RideSample& sample);
