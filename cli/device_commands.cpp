// The commands that talk to the unit: detect, read, dump, write, restore,
// status; and backups, which lists what they kept.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>

#include "cdi_device.h"
#include "commands.h"
#include "map_file.h"
#include "map_table.h"
#include "platform_paths.h"
#include "restore_points.h"
#include "ride_log.h"
#include "signals.h"
#include "status_poll.h"
#include "text_fields.h"
#include "unit_commands.h"
#include "unit_image.h"
#include "unit_limits.h"
#include "unit_lock.h"
#include "user_files.h"

namespace {

namespace fs = std::filesystem;

// Set by Ctrl+C while status watches; the loop ends at its next look.
volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int)
{
    interrupted = 1;
}

// Runs `work` with the program's lock on the unit, signals held off until
// it goes; the lock's result.
LockResult holdingUnit(int waitMs, UnitLock& lock, const std::function<void()>& work)
{
    holdSignals();
    const LockResult taken = takeUnitLock(lock, waitMs, signalCame);
    if (taken == LockResult::taken)
        work();
    releaseUnitLock(lock);
    // No other program may send anything while a reply may still come.
    settleUnitLock(true);
    endHoldingSignals();
    return taken;
}

// The whole unit as the window's Device Read reads it, kept as a restore
// point, into the outputs asked for. Standard output may carry one of them;
// the restore point's line then goes to standard error. The outputs are
// looked at before the unit is touched, and written once it is let go: a
// FIFO waits for its reader, and meanwhile another program may use the
// unit and Ctrl+C must work.
int readInto(const Console& console, const std::optional<std::string>& mapFile,
             const std::optional<std::string>& imageFile)
{
    const bool toStandardOutput = isStandardStream(mapFile.value_or("")) || isStandardStream(imageFile.value_or(""));
    if (isStandardStream(mapFile.value_or("")) && isStandardStream(imageFile.value_or("")))
        return usageError(console, "standard output can carry only one of the files");
    std::vector<std::string> names;
    for (const std::optional<std::string>& name : {mapFile, imageFile})
        if (name)
            names.push_back(*name);
    if (const int status = checkOutputs(console, names))
        return status;
    std::FILE* const messages = toStandardOutput ? console.err : console.out;
    ReadReport report;
    const int status = withUnit(console, kWholeReadExchanges, [&] {
        if (!readKeepingRestorePoint(cdiDevice, ignitionTable, valveTable, report))
            return fail(console, kTransferFailed, "reading the unit failed: " + takeNotes());
        return static_cast<int>(kDone);
    });
    if (status != kDone)
        return status;
    fixZeroPickup(cdiDevice.config);
    printNotes(console);
    std::vector<Output> outputs;
    if (mapFile)
        outputs.push_back({*mapFile, Contents::text, [&](std::FILE* file) {
                               return writeMapLines(file, ignitionTable, valveTable, cdiDevice.config);
                           }});
    if (imageFile)
        outputs.push_back({*imageFile, Contents::bytes, [&](std::FILE* file) {
                               return std::fwrite(report.image.bytes, sizeof report.image.bytes, 1, file) == 1;
                           }});
    if (const int written = writeOutputs(console, outputs))
        return written;
    if (!report.kept)
        return fail(console, kFileError, "cannot write a restore point to " + report.restorePoint);
    std::fprintf(messages, "restore point: %s\n", shown(report.restorePoint).c_str());
    return kDone;
}

// What the write sequence's report says, as the result or the one failure
// line; once anything may have been written, the line names the restore
// point of what the unit held.
int writeOutcome(const Console& console, const WriteReport& report)
{
    const std::string held = "; what the unit held before is in " + report.beforeWrite;
    switch (report.stop) {
    case WriteStop::none:
        std::fprintf(console.out, "restore point: %s\n", shown(report.beforeWrite).c_str());
        if (!report.afterWriteKept)
            return fail(console, kFileError,
                        "written, but what the unit now holds cannot be kept as a restore point in "
                            + report.afterWrite);
        return kDone;
    case WriteStop::readBefore:
        return fail(console, kTransferFailed, "nothing was written: reading the unit first failed: " + takeNotes());
    case WriteStop::restorePoint:
        return fail(console, kFileError, takeNotes());
    case WriteStop::write:
        if (!report.partWritten)
            return fail(console, kTransferFailed, "nothing was written: " + takeNotes());
        return fail(console, kTransferFailed,
                    "the write stopped part-way: " + takeNotes() + "; the unit now holds part new and part old data"
                        + held);
    case WriteStop::readBack:
        return fail(console, kTransferFailed, "written, but reading it back failed: " + takeNotes() + held);
    case WriteStop::differs:
        return fail(console, kTransferFailed,
                    "the unit does not hold what was written: block " + std::to_string(report.differingBlock)
                        + " reads back different" + held);
    }
    return kTransferFailed;
}

// Asks, then runs a write sequence (its three transfers) with the unit
// held, and says how it ended.
int confirmAndWrite(const Console& console, const Arguments& arguments, const std::string& file,
                    const std::function<void(WriteReport&)>& sequence)
{
    if (const int status = confirmWrite(console, arguments, file))
        return status;
    return withUnit(console, kWholeReadExchanges + 2 * kUnitBlocks, [&] {
        WriteReport report;
        sequence(report);
        return writeOutcome(console, report);
    });
}

// A write's preview: reads the unit, keeping a restore point, and prints
// what writing `sent` (made from what the unit holds) would change, as diff
// prints two images, then `notes`; sends no write. kDone when the unit
// already holds every byte, kDiffers when not.
int previewWrite(const Console& console, const Arguments& arguments,
                 const std::function<UnitImage(const UnitImage& unit)>& sent, const std::string& notes)
{
    ReadReport report;
    const int status = withUnit(console, kWholeReadExchanges, [&] {
        if (!readImageKeepingRestorePoint(cdiDevice, report))
            return fail(console, kTransferFailed, "reading the unit failed: " + takeNotes());
        return static_cast<int>(kDone);
    });
    if (status != kDone)
        return status;
    printNotes(console);
    if (!report.kept)
        return fail(console, kFileError, "cannot write a restore point to " + report.restorePoint);
    std::fprintf(console.err, "restore point: %s\n", shown(report.restorePoint).c_str());
    const bool json = arguments.has("--json");
    const int differs = printImageDifferences(console, report.image, sent(report.image), json);
    if (!notes.empty())
        std::fprintf(json ? console.err : console.out, "%s\n", notes.c_str());
    return differs;
}

// A write's first checks: --json only with --dry-run, and someone to answer
// the question unless it is a dry run, which asks nothing.
int checkWriteArguments(const Console& console, const Arguments& arguments)
{
    const bool dryRun = arguments.has("--dry-run");
    if (arguments.has("--json") && !dryRun)
        return usageError(console, "--json goes only with --dry-run");
    return dryRun ? static_cast<int>(kDone) : checkAnswerable(console, arguments);
}

// The live values as the lines, rows and objects show them: map_switch 1
// for map 1, qs_switch 1 while the switch is on.
LiveValues liveValues(const UnitStatus& status)
{
    return ::liveValues(status.rpm, status.valveAngle, status.mapSwitch, status.shifterSwitch);
}

// A sample as a CSV row or a JSON line: the time, then the four values,
// empty or null when the unit gave none.
std::string sampleLine(const std::string& time, const std::optional<LiveValues>& values, bool json)
{
    if (json) {
        nlohmann::ordered_json object = {{"time", time},
                                         {"rpm", nullptr},
                                         {"valve_angle", nullptr},
                                         {"map_switch", nullptr},
                                         {"qs_switch", nullptr}};
        if (values) {
            object["rpm"] = values->rpm;
            object["valve_angle"] = values->valveAngle;
            object["map_switch"] = values->mapSwitch;
            object["qs_switch"] = values->qsSwitch;
        }
        return object.dump() + "\n";
    }
    return rideLogRow(time, values);
}

// A sample of the watch: none when the unit gave none (not found, no reply,
// or another program talking to it).
std::optional<LiveValues> sample()
{
    UnitStatus status;
    UnitLock lock;
    holdingUnit(0, lock, [&] { status = queryUnitStatus(REPLY_TIMEOUT_MS); });
    if (status.outcome != Outcome::reply)
        return std::nullopt;
    return liveValues(status);
}

// Where the rows of --csv FILE go: written in place into a device or a
// FIFO, else into a file that replaces any old one once its header is
// written, whose path then goes to `target`. Null when it cannot be.
std::FILE* openRows(const std::string& path, const std::string& header, std::string& target)
{
    const auto writeHeader = [&](std::FILE* f) { return std::fputs(header.c_str(), f) >= 0; };
    OutputKind kind;
    std::FILE* file = openOutputInPlace(path.c_str(), Contents::bytes, kind);
    if (kind == OutputKind::file)
        return resolveLinks(path.c_str(), target) && replaceWith(target.c_str(), Contents::bytes, writeHeader)
                   ? openForAppending(target.c_str())
                   : nullptr;
    if (file && !writeHeader(file)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

// The size of the file at `path`, or `otherwise` when it cannot be had.
std::uintmax_t sizeOf(const std::string& path, std::uintmax_t otherwise)
{
    std::error_code error;
    const std::uintmax_t size = fs::file_size(fs::u8path(path), error);
    return error ? otherwise : size;
}

// Rows (or JSON lines) every `interval` seconds until Ctrl+C, to standard
// output or, with --csv, to a file.
int watch(const Console& console, const Arguments& arguments, double interval)
{
    const bool json = arguments.has("--json");
    const std::optional<UnitIdentity> unit = findUnit();
    std::optional<std::string> unitName;
    if (unit)
        unitName = shown(unit->manufacturer.value_or("") + " " + unit->product.value_or(""));
    const std::string header = json ? std::string() : rideLogHeader("kvz-cdi-cli", unitName);
    const std::string path = arguments.has("--csv") ? arguments.options.at("--csv") : "-";
    std::FILE* rows = console.out;
    std::FILE* file = nullptr;
    std::string target;        // a regular file's, once resolved
    std::uintmax_t whole = 0;  // its size at the end of its last whole row
    if (const int status = checkOutputs(console, {path}))
        return status;
    errno = 0;
    if (!isStandardStream(path)) {
        if (!(file = openRows(path, header, target)))
            return fail(console, kFileError, cannotWrite(path, systemReason(errno)));
        rows = file;
        whole = target.empty() ? whole : sizeOf(target, whole);
    } else if (std::fputs(header.c_str(), rows) < 0) {
        return fail(console, kFileError, cannotWrite(path, systemReason(errno)));
    }

    interrupted = 0;
    void (*const handlerBefore)(int) = std::signal(SIGINT, onInterrupt);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const std::chrono::duration<double> period(interval);
    bool rowFailed = false;
    int rowError = 0;
    for (long n = 1; !interrupted; ++n) {
        const std::string time = rideLogTimeNow();  // when the sample was asked for
        const std::string line = sampleLine(time, sample(), json);
        errno = 0;
        if (std::fputs(line.c_str(), rows) < 0 || std::fflush(rows) != 0) {
            rowFailed = true;
            rowError = errno;
            break;
        }
        if (!target.empty())
            whole = sizeOf(target, whole);
        // Ctrl+C during the sample ends the watch as between samples; the
        // others end the program once it has closed its file.
        if (takeHeldInterrupt())
            interrupted = 1;
        if (heldSignal())
            break;
        // In short naps, so that Ctrl+C ends the wait at once; and never so
        // soon that a program waiting for the unit misses its turn.
        const Clock::time_point due = std::max(start + std::chrono::duration_cast<Clock::duration>(period * n),
                                               Clock::now() + std::chrono::milliseconds(3 * kLockRetryMs));
        for (Clock::time_point now = Clock::now(); !interrupted && now < due; now = Clock::now())
            std::this_thread::sleep_for(std::min<Clock::duration>(due - now, std::chrono::milliseconds(10)));
    }
    std::signal(SIGINT, handlerBefore);
    takeNotes();  // a sample without a reply is an empty row, not a failure
    errno = 0;
    if (file && std::fclose(file) != 0 && !rowFailed) {
        rowFailed = true;
        rowError = errno;
    }
    // Closed first, so that no part of a row still buffered comes after the
    // cut: the file ends with its last whole row.
    std::error_code ignored;
    if (rowFailed && !target.empty() && fs::is_regular_file(fs::u8path(target), ignored))
        fs::resize_file(fs::u8path(target), whole, ignored);
    if (rowFailed)
        return fail(console, kFileError, cannotWrite(path, systemReason(rowError)));
    return kDone;
}

// What a restore point's name says, YYYYMMDD-HHMMSS-KIND[-N].bin in UTC;
// null for what a name of another form does not say.
nlohmann::ordered_json restorePointJson(const std::string& path)
{
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    int year, month, day, hour, minute, second, used = 0;
    nlohmann::ordered_json time = nullptr;
    nlohmann::ordered_json kind = nullptr;
    if (std::sscanf(name.c_str(), "%4d%2d%2d-%2d%2d%2d-%n", &year, &month, &day, &hour, &minute, &second, &used) == 6
        && used == 16) {
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour, minute, second);
        time = text;
        for (const char* each : {"read", "before-write", "after-write"})
            if (name.compare(used, std::strlen(each), each) == 0)
                kind = each;
    }
    return {{"image", path}, {"map_file", path.substr(0, path.size() - 4) + ".cdi"}, {"time", time}, {"kind", kind}};
}

}  // namespace

int withUnitLock(const Console& console, int waitMs, const std::function<int()>& work)
{
    int status = kDone;
    UnitLock lock;
    switch (holdingUnit(waitMs, lock, [&] { status = work(); })) {
    case LockResult::taken:
        return status;
    case LockResult::noUnit:
        return fail(console, kNoUnit, "no unit found");
    case LockResult::busy:
        return fail(console, kTransferFailed, "the unit is in use by another program");
    case LockResult::interrupted:
        // Nothing was sent: the program ends by the signal now.
        actOnHeldSignal(console.err, "interrupted before the unit was opened");
        return kTransferFailed;
    case LockResult::failed:
        break;
    }
    return fail(console, kTransferFailed, "cannot open the unit at " + lock.path + ": " + lock.error);
}

int runDetect(const Arguments& arguments, const Console& console)
{
    const std::optional<UnitIdentity> unit = findUnit();
    if (!unit)
        return fail(console, kNoUnit, "no unit found");
    char release[16];
    std::snprintf(release, sizeof release, "%x.%02x", static_cast<unsigned>(unit->release >> 8),
                  static_cast<unsigned>(unit->release & 0xFF));
    if (arguments.has("--json")) {
        const auto text = [](const std::optional<std::string>& value) {
            return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
        };
        printJson(console, {{"vendor_id", unit->vendorId},
                            {"product_id", unit->productId},
                            {"manufacturer", text(unit->manufacturer)},
                            {"product", text(unit->product)},
                            {"release", release}});
        return kDone;
    }
    std::fprintf(console.out, "ids: %04x:%04x\nmaker: %s\nproduct: %s\nrelease: %s\n", unit->vendorId,
                 unit->productId, shown(unit->manufacturer.value_or("")).c_str(),
                 shown(unit->product.value_or("")).c_str(), release);
    return kDone;
}

int runRead(const Arguments& arguments, const Console& console)
{
    const auto image = arguments.options.find("--image");
    return readInto(console, arguments.operands[0],
                    image == arguments.options.end() ? std::nullopt : std::optional<std::string>(image->second));
}

int runDump(const Arguments& arguments, const Console& console)
{
    return readInto(console, std::nullopt, arguments.operands[0]);
}

int runWrite(const Arguments& arguments, const Console& console)
{
    const bool dryRun = arguments.has("--dry-run");
    if (const int status = checkWriteArguments(console, arguments))
        return status;
    const std::string& file = arguments.operands[0];
    MapFileRecord record;
    std::string why;
    if (!readMapInput(console, file, record, why))
        return fail(console, kFileError, cannotRead(file, "a map file", why));
    applyMapFile(record);
    if (refuseUnsafeWrite(cdiDevice.config))
        return fail(console, kRefused, takeNotes());
    const std::vector<DifferentRun> runs = differentRuns(ignitionTable, timingReference(cdiDevice));
    const std::string notes = runs.empty() ? std::string() : differentRunsText(runs);
    if (dryRun)
        return previewWrite(console, arguments, [](const UnitImage& unit) {
            return imageWritten(cdiDevice, ignitionTable, valveTable, unit);
        }, notes);
    if (!notes.empty())
        std::fprintf(console.err, "%s\n", notes.c_str());
    return confirmAndWrite(console, arguments, file, [](WriteReport& report) {
        writeKeepingRestorePoints(cdiDevice, ignitionTable, valveTable, report);
    });
}

int runRestore(const Arguments& arguments, const Console& console)
{
    const bool dryRun = arguments.has("--dry-run");
    if (const int status = checkWriteArguments(console, arguments))
        return status;
    const std::string& file = arguments.operands[0];
    UnitImage image;
    std::string why;
    if (!readImageInput(console, file, image, why))
        return fail(console, kFileError, cannotRead(file, "a 1024-byte memory image", why));
    if (!arguments.has("--force") && refuseUnsafeWrite(imageConfig(image)))
        return fail(console, kRefused, takeNotes() + " (--force writes it anyway)");
    if (dryRun)
        return previewWrite(console, arguments, [&](const UnitImage&) { return image; }, "");
    return confirmAndWrite(console, arguments, file, [&](WriteReport& report) {
        restoreKeepingRestorePoints(cdiDevice, image, ignitionTable, valveTable, report);
    });
}

int runStatus(const Arguments& arguments, const Console& console)
{
    // A day at most, so that the sampling times stay within the clock.
    double interval = 0.5;
    const auto given = arguments.options.find("--interval");
    if (given != arguments.options.end()
        && !(readNumber(given->second, interval) && interval >= 0.05 && interval <= 86400.0))
        return usageError(console, "--interval takes seconds, from 0.05 to 86400");
    if (arguments.has("--watch") || arguments.has("--csv"))
        return watch(console, arguments, interval);

    // As long as a block exchange waits, so that only a unit that does not
    // answer at all leaves a reply owed.
    return withUnitLock(console, kUnitLockWaitMs, [&] {
        const std::string time = rideLogTimeNow();
        const UnitStatus status = queryUnitStatus(REPLY_TIMEOUT_MS);
        if (!status.opened)
            return fail(console, kNoUnit, "no unit found");
        if (status.outcome != Outcome::reply) {
            const std::string why = takeNotes();
            return fail(console, kTransferFailed, "the unit gave no status reply" + (why.empty() ? "" : ": " + why));
        }
        const LiveValues values = liveValues(status);
        if (arguments.has("--json"))
            std::fputs(sampleLine(time, values, true).c_str(), console.out);
        else
            std::fprintf(console.out, "rpm: %u\nvalve_angle: %u\nmap_switch: %d\nqs_switch: %d\n", values.rpm,
                         values.valveAngle, values.mapSwitch, values.qsSwitch);
        return static_cast<int>(kDone);
    });
}

int runBackups(const Arguments& arguments, const Console& console)
{
    nlohmann::ordered_json points = nlohmann::ordered_json::array();
    for (const std::string& path : listRestorePoints()) {
        if (arguments.has("--json"))
            points.push_back(restorePointJson(path));
        else
            std::fprintf(console.out, "%s\n", shown(path).c_str());
    }
    if (arguments.has("--json"))
        printJson(console, points);
    return kDone;
}
