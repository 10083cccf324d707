// Ride logs: one row format for both programs, the window's recording of
// whole, flushed rows, and a reader that takes a file whole or not at all.
#include "ride_log.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "map_edits.h"
#include "platform_paths.h"
#include "text_fields.h"
#include "user_files.h"
#include "version.h"

namespace {

const char kColumns[] = "time,rpm,valve_angle,map_switch,qs_switch";
// Under the user's data folder.
constexpr char kFolder[] = "kvz-cdi/logs";
constexpr std::int64_t kLongestGapMs = 1000;
constexpr std::size_t kFields = 5;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int daysInMonth(int y, int m)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

// Exactly YYYY-MM-DDTHH:MM:SS.mmmZ, as rideLogTimeNow writes it.
bool readTime(std::string_view text, std::int64_t& ms)
{
    static const char kShape[] = "0000-00-00T00:00:00.000Z";
    if (text.size() != sizeof kShape - 1)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (kShape[i] == '0' ? text[i] < '0' || text[i] > '9' : text[i] != kShape[i])
            return false;
    const auto number = [&](std::size_t at, std::size_t digits) {
        int n = 0;
        for (std::size_t i = at; i < at + digits; ++i)
            n = n * 10 + (text[i] - '0');
        return n;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 || minute > 59
        || second > 59)
        return false;
    ms = ((daysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60000 + second * 1000 + number(20, 3);
    return true;
}

// The value of a field, or why not.
const char* readValue(std::string_view field, std::int64_t most, unsigned& value)
{
    std::int64_t n = 0;
    if (!readNumber(field, n))
        return "not a number";
    if (n < 0 || n > most)
        return "out of range";
    value = static_cast<unsigned>(n);
    return nullptr;
}

// One row after the header: its time and its values, none when all four
// are empty. Null, or why not.
const char* readRow(std::string_view line, std::int64_t& timeMs, std::optional<LiveValues>& values)
{
    std::string_view fields[kFields];
    std::size_t count = 0;
    for (;;) {
        const std::string_view::size_type comma = line.find(',');
        if (count < kFields)
            fields[count] = line.substr(0, comma);
        ++count;
        if (comma == std::string_view::npos)
            break;
        line.remove_prefix(comma + 1);
    }
    if (count != kFields)
        return "not a row of 5 fields";
    if (!readTime(fields[0], timeMs))
        return "not a time";
    const std::size_t empty = static_cast<std::size_t>(std::count_if(
        fields + 1, fields + kFields, [](std::string_view field) { return field.empty(); }));
    if (empty == kFields - 1) {
        values.reset();
        return nullptr;
    }
    if (empty != 0)
        return "a value is missing";
    unsigned v[4];
    const std::int64_t most[4] = {65535, 255, 1, 1};
    for (int i = 0; i < 4; ++i)
        if (const char* why = readValue(fields[i + 1], most[i], v[i]))
            return why;
    values = LiveValues{v[0], v[1], static_cast<int>(v[2]), static_cast<int>(v[3])};
    return nullptr;
}

// "# kvz-cdi-cli VERSION, unit ..." or "# kvz-cdi VERSION, unit ...".
bool isHeader(std::string_view line)
{
    for (const std::string_view program : {"# kvz-cdi-cli ", "# kvz-cdi "})
        if (line.substr(0, program.size()) == program && line.find(", unit ") != std::string_view::npos)
            return true;
    return false;
}

std::string withThousands(std::size_t n)
{
    std::string digits = std::to_string(n);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, ",");
    return digits;
}

}  // namespace

LiveValues liveValues(std::uint16_t rpm, std::uint8_t valveAngle, std::uint8_t mapSwitch,
                      std::uint8_t shifterSwitch)
{
    return {rpm, valveAngle, mapSwitch != 0 ? 1 : 0, shifterSwitch == 0 ? 1 : 0};
}

std::string rideLogTimeNow()
{
    using namespace std::chrono;
    const milliseconds sinceEpoch = duration_cast<milliseconds>(system_clock::now().time_since_epoch());
    const std::tm utc = utcTime(static_cast<std::time_t>(sinceEpoch.count() / 1000));
    char time[64];
    const std::size_t length = std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(time + length, sizeof time - length, ".%03dZ", static_cast<int>(sinceEpoch.count() % 1000));
    return time;
}

std::string rideLogHeader(const char* program, const std::optional<std::string>& unit)
{
    return std::string("# ") + program + " " KVZ_VERSION ", unit " + unit.value_or("not found") + "\n" + kColumns
           + "\n";
}

std::string rideLogRow(const std::string& time, const std::optional<LiveValues>& values)
{
    char row[128];
    if (values)
        std::snprintf(row, sizeof row, "%s,%u,%u,%d,%d\n", time.c_str(), values->rpm, values->valveAngle,
                      values->mapSwitch, values->qsSwitch);
    else
        std::snprintf(row, sizeof row, "%s,,,,\n", time.c_str());
    return row;
}

bool startRideRecording(RideRecording& recording, std::time_t when, const std::string& header)
{
    std::string dir;
    if (!userFolder(UserFolder::data, kFolder, dir)) {
        recording.path = dir;
        return false;
    }
    const std::tm utc = utcTime(when);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    recording = RideRecording();
    for (int n = 1; n < 1000 && !recording.file; ++n) {
        recording.path = dir + stamp + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".csv";
        bool taken = false;
        recording.file = createNewFile(recording.path.c_str(), taken);
        if (!recording.file && !taken)
            break;
    }
    if (!recording.file || std::fputs(header.c_str(), recording.file) < 0 || std::fflush(recording.file) != 0) {
        if (recording.file) {
            std::fclose(recording.file);
            removeFile(recording.path.c_str());
        }
        recording = RideRecording();
        recording.path = dir;
        return false;
    }
    recording.whole = header.size();
    return true;
}

bool recordRideRow(RideRecording& recording, const std::string& row)
{
    if (std::fputs(row.c_str(), recording.file) >= 0 && std::fflush(recording.file) == 0) {
        recording.whole += row.size();
        ++recording.rows;
        return true;
    }
    // Closed first, so that no part of the row still buffered comes after the cut.
    std::fclose(recording.file);
    recording.file = nullptr;
    std::error_code ignored;
    std::filesystem::resize_file(std::filesystem::u8path(recording.path), recording.whole, ignored);
    return false;
}

bool endRideRecording(RideRecording& recording)
{
    const bool closed = std::fclose(recording.file) == 0;
    recording.file = nullptr;
    return closed;
}

bool rideLogFolderPath(std::string& dir)
{
    return userFolderPath(UserFolder::data, kFolder, dir);
}

int parseRideLog(std::string_view text, RideLog& log, std::string& why)
{
    std::vector<std::string_view> lines = textLines(text);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    const auto refuse = [&](std::size_t index, const char* reason) { return refuseLine(&why, index + 1, reason); };
    if (lines.empty() || !isHeader(lines[0]))
        return refuse(0, "not a ride log");
    if (lines.size() < 2 || lines[1] != kColumns)
        return refuse(1, "not a ride log");

    RideLog read;
    bool lastIsSample = false;  // whose gap the next row ends
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::int64_t timeMs = 0;
        std::optional<LiveValues> values;
        if (const char* reason = readRow(lines[i], timeMs, values))
            return refuse(i, reason);
        if (i > 2 && timeMs < read.lastMs)
            return refuse(i, "time goes back");
        if (i == 2)
            read.firstMs = timeMs;
        if (lastIsSample)
            read.samples.back().countedMs = std::min(timeMs - read.lastMs, kLongestGapMs);
        read.lastMs = timeMs;
        lastIsSample = values.has_value();
        if (values)
            read.samples.push_back({timeMs, *values, 0});
    }
    if (read.samples.empty()) {
        why = "no samples";
        return 0;
    }
    log = std::move(read);
    return 1;
}

int readRideLog(const char* path, RideLog& log, std::string& why)
{
    std::string text;
    if (!readUserFile(path, kRideLogMaxBytes, text)) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
        why = !error && size > kRideLogMaxBytes ? "larger than 64 MiB" : "cannot be read";
        return 0;
    }
    return parseRideLog(text, log, why);
}

int sampleRow(const RideSample& sample)
{
    return sample.values.rpm < kLeastRowRpm ? -1 : engineRow(static_cast<int>(sample.values.rpm));
}

RowTimes timePerRow(const RideLog& log)
{
    RowTimes times(kGridRows, {0, 0});
    for (const RideSample& sample : log.samples) {
        const int row = sampleRow(sample);
        if (row >= 0)
            times[static_cast<std::size_t>(row)][static_cast<std::size_t>(sample.values.mapSwitch)] += sample.countedMs;
    }
    return times;
}

std::int64_t busiestCell(const RowTimes& times)
{
    std::int64_t most = 0;
    for (const auto& row : times)
        most = std::max({most, row[0], row[1]});
    return most;
}

std::string rideLogSummary(const std::string& name, const RideLog& log)
{
    const long long s = (log.lastMs - log.firstMs) / 1000;
    char length[80];
    if (s >= 3600)
        std::snprintf(length, sizeof length, "%lld h %02lld min %02lld s", s / 3600, s / 60 % 60, s % 60);
    else if (s >= 60)
        std::snprintf(length, sizeof length, "%lld min %02lld s", s / 60, s % 60);
    else
        std::snprintf(length, sizeof length, "%lld s", s);
    const std::size_t n = log.samples.size();
    return name + ": " + length + ", " + withThousands(n) + (n == 1 ? " sample" : " samples");
}

const RideSample& sampleAt(const RideLog& log, double seconds)
{
    const std::int64_t at = log.samples.front().timeMs + std::llround(seconds * 1000.0);
    const auto after = std::upper_bound(log.samples.begin(), log.samples.end(), at,
                                        [](std::int64_t t, const RideSample& s) { return t < s.timeMs; });
    return after == log.samples.begin() ? log.samples.front() : *(after - 1);
}

std::string sampleText(const RideLog& log, const RideSample& sample)
{
    const long long tenths = (sample.timeMs - log.samples.front().timeMs) / 100;
    char since[48];
    if (tenths >= 36000)
        std::snprintf(since, sizeof since, "+%lld:%02lld:%02lld.%lld", tenths / 36000, tenths / 600 % 60,
                      tenths / 10 % 60, tenths % 10);
    else
        std::snprintf(since, sizeof since, "+%lld:%02lld.%lld", tenths / 600, tenths / 10 % 60, tenths % 10);
    const std::tm utc = utcTime(static_cast<std::time_t>(sample.timeMs / 1000));
    char clock[32];
    std::strftime(clock, sizeof clock, "%H:%M:%S", &utc);
    const LiveValues& v = sample.values;
    char text[160];
    std::snprintf(text, sizeof text, "%s (%s UTC): %u rpm, valve angle %u, %s, %s", since, clock, v.rpm,
                  v.valveAngle, v.mapSwitch ? "MAP1" : "MAP0", v.qsSwitch ? "QSSW ON" : "QSSW OFF");
    return text;
}
