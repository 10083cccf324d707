// kvz-bench: what the program's own code costs, against the simulated unit.
// Prints a table of medians: a whole Device Read and Device Write as the
// commands run them beside the same requests sent by a bare loop of hidapi
// calls (their restore points timed apart), one status poll tick, repaints
// per idle tick (also with the engine running), and one UP step. Run it under
// an X server (tests/run-under-xvfb.sh build/bench/kvz-bench).
#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Tabs.H>

#include <hidapi.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cdi_device.h"
#include "device_status.h"
#include "hid_link.h"
#include "main_window.h"
#include "map_editing.h"
#include "map_table.h"
#include "map_transfer.h"
#include "my_chart.h"
#include "sim_unit.h"
#include "restore_points.h"
#include "status_poll.h"
#include "unit_lock.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTransferRuns = 7;
constexpr int kTickRuns = 201;
constexpr int kBlocks = 32;

double microseconds(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The median time of `runs` calls of `work`, in microseconds.
double timeMedian(int runs, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        work();
        times.push_back(microseconds(Clock::now() - start));
    }
    return median(times);
}

// The same 32 requests a transfer sends, with nothing around them: write,
// then read the reply with the transfer's timeout.
void bareLoop(std::uint8_t command, const sim::Memory& image)
{
    hid_device* handle = hid_open(CDI_VENDOR_ID, CDI_PRODUCT_ID, nullptr);
    std::uint8_t request[kRequestSize] = {};
    std::uint8_t reply[kReplySize];
    for (int block = 0; block < kBlocks; ++block) {
        request[1] = command;
        request[2] = static_cast<std::uint8_t>(block);
        if (command == CMD_WRITE_BLOCK)
            std::memcpy(request + 5, &image[static_cast<std::size_t>(block) * 32], 32);
        std::printf("%02X\n", request[2]);  // as much trace as a bare tool would print
        hid_write(handle, request, sizeof request);
        hid_read_timeout(handle, reply, sizeof reply, REPLY_TIMEOUT_MS);
    }
    hid_close(handle);
}

// The unit opened as the commands open it, under the program's lock.
hid_device* openLocked(UnitLock& lock)
{
    takeUnitLock(lock, 0);
    return openUnit();
}

// One tick of the window's poll, its lock included.
void pollTick()
{
    UnitLock lock;
    takeUnitLock(lock, 0);
    showUnitStatus(queryUnitStatus());
}

// The exchanges of Device Read and Device Write, through the transfer code
// the commands run; their restore points are timed apart.
void programRead()
{
    UnitLock lock;
    cdiDevice.deviceHandle = openLocked(lock);
    readDeviceMaps(cdiDevice, ignitionTable, valveTable);
    closeUnit(cdiDevice.deviceHandle);
    cdiDevice.deviceHandle = nullptr;
}

// The read before, the write, the read-back.
void programWrite()
{
    UnitLock lock;
    cdiDevice.deviceHandle = openLocked(lock);
    UnitImage before, sent;
    int requestsSent = 0;
    readUnit(cdiDevice, before, nullptr);
    const ConfigBlock config = withUnitsOwnBytes(cdiDevice.config, imageConfig(before));
    writeUnit(cdiDevice, tableBlocks(ignitionTable, valveTable, config, timingReference(cdiDevice)), sent,
              requestsSent);
    readDeviceMaps(cdiDevice, ignitionTable, valveTable);
    closeUnit(cdiDevice.deviceHandle);
    cdiDevice.deviceHandle = nullptr;
}

// One restore point, as a command keeps it.
double restorePointUs()
{
    UnitImage image;
    std::memcpy(image.bytes, sim::memory().data(), sizeof image.bytes);
    return timeMedian(kTransferRuns, [&] {
        std::string path;
        keepRestorePoint(image, "read", std::time(nullptr), path);
    });
}

// A plausible unit: both ignition maps 20 degrees, valve maps rising.
void fillUnit()
{
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        ignitionTable.points[k] = 20.0;
        valveTable.points[k] = k % MapTable::kPoints;
    }
    applyEnginePreset(2);
    cdiDevice.config.revLimit = 120;
    UnitLock lock;
    cdiDevice.deviceHandle = openLocked(lock);
    writeDeviceMaps(ignitionTable, valveTable);
    closeUnit(cdiDevice.deviceHandle);
    cdiDevice.deviceHandle = nullptr;
}

struct TransferFigures {
    double program;        // per exchange, microseconds
    double bare;           // per exchange
    double restorePoints;  // all of the command's, milliseconds
};

// A read keeps one restore point; a write reads, keeps one, writes, reads
// back and keeps another.
TransferFigures timeTransfer(bool write, int delayMs, double restorePointUs)
{
    sim::faults().replyDelayMs = delayMs;
    const int exchanges = write ? 3 * kBlocks : kBlocks;
    const double restorePoints = (write ? 2 : 1) * restorePointUs;
    const sim::Memory image = sim::memory();
    const double program = timeMedian(kTransferRuns, write ? programWrite : programRead);
    const double bare = timeMedian(kTransferRuns, [&] {
        if (write) {
            bareLoop(CMD_READ_BLOCK, image);
            bareLoop(CMD_WRITE_BLOCK, image);
        }
        bareLoop(CMD_READ_BLOCK, image);
    });
    return {program / exchanges, bare / exchanges, restorePoints / 1000.0};
}

// Repaints the window is asked for after each of `ticks` poll ticks.
int repaintsPerTicks(int ticks)
{
    int repaints = 0;
    for (int i = 0; i < ticks; ++i) {
        pollTick();
        if (Fl::damage())
            ++repaints;
        Fl::flush();
    }
    return repaints;
}

}  // namespace

int main()
{
    // The table goes where standard output went; the trace goes nowhere, for
    // the program and the bare loop alike.
    std::FILE* table = fdopen(dup(STDOUT_FILENO), "w");
    if (!table || !std::freopen("/dev/null", "w", stdout))
        return 1;

    // Restore points go to a folder of the benchmark's own.
    char folder[] = "/tmp/kvz-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    setenv("XDG_DATA_HOME", folder, 1);
    sim::reset();
    ignitionTable.upperClamp = 35.0;
    valveTable.upperClamp = 160.0;
    fillUnit();

    const double restorePoint = restorePointUs();
    std::fprintf(table, "%-40s %12s %12s %7s %16s\n", "transfer (median of 7, per exchange)", "program us",
                 "bare loop us", "ratio", "restore pts ms");
    for (int delay : {1, 0}) {
        for (bool write : {false, true}) {
            const TransferFigures f = timeTransfer(write, delay, restorePoint);
            char name[64];
            std::snprintf(name, sizeof name, "%s, reply delay %d ms", write ? "Device Write" : "Device Read", delay);
            std::fprintf(table, "%-40s %12.1f %12.1f %7.3f %16.2f\n", name, f.program, f.bare,
                         f.program / f.bare, f.restorePoints);
        }
    }
    sim::faults().replyDelayMs = 0;

    Fl_Double_Window* window = buildMainWindow();
    MyChart* ign = widgets.ignitionChart;
    MyChart* pvs = widgets.valveChart;
    ign->table = &ignitionTable;
    ign->valueRange = 35;
    ign->yStep = 5;
    pvs->table = &valveTable;
    pvs->valueRange = 160;
    pvs->yStep = 25;
    window->show();
    window->wait_for_expose();
    Fl::flush();

    std::fprintf(table, "\n%-44s %12s\n", "window (median of 201)", "us");
    std::fprintf(table, "%-44s %12.1f\n", "poll tick, unit attached",
                 timeMedian(kTickRuns, pollTick));
    repaintsPerTicks(1);  // the first tick after a change repaints
    std::fprintf(table, "%-44s %12d\n", "repaints in 20 idle ticks, status unchanged", repaintsPerTicks(20));
    // The engine's point on the charts is drawn when the speed moves it,
    // never again while it stays.
    widgets.tabs->value(widgets.mapTab);
    sim::status().rpm = 6000;
    repaintsPerTicks(1);
    std::fprintf(table, "%-44s %12d\n", "the same at 6000 rpm, the charts shown", repaintsPerTicks(20));
    sim::status().rpm = 0;
    widgets.tabs->value(widgets.deviceTab);
    sim::faults().absent = true;
    std::fprintf(table, "%-44s %12.1f\n", "poll tick, no unit",
                 timeMedian(kTickRuns, pollTick));
    sim::faults().absent = false;

    widgets.tabs->value(widgets.mapTab);
    widgets.ignMap0->value(1);
    ign->selectedMap = 0;
    window->redraw();
    Fl::flush();
    std::fprintf(table, "%-44s %12.1f\n", "UP step: edit, spread, both charts drawn", timeMedian(kTickRuns, [] {
                     onValueUp(nullptr, nullptr);
                     Fl::flush();
                 }));
    std::fclose(table);
    std::filesystem::remove_all(folder);
    return 0;
}
