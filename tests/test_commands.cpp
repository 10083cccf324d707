// The four commands of the Map tab fired from their real buttons: the boxes,
// the question and the file chooser are answered by scripts that record what
// the user would have seen, and the unit is the simulated one.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Value_Slider.H>

#include <hidapi.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cdi_device.h"
#include "device_status.h"
#include "main_window.h"
#include "option_bindings.h"
#include "restore_points.h"
#include "map_file.h"
#include "map_table.h"
#include "my_chart.h"
#include "sim_unit.h"
#include "startup.h"
#include "status_poll.h"
#include "timing_codec.h"
#include "unit_image.h"
#include "support.h"
#include "toolkit_dialogs.h"
#include "unit_commands.h"
#include "unit_lock.h"

namespace {
namespace fs = std::filesystem;

const std::string kPrefix = "KVZ-CDI v1.2.0 - ";
const char kQuestion[] = "Do you realy want write data to CDI?";
const char kNoUnit[] = "error:USB CDI not found.";
const char kFileError[] = "error:Cannot open file or write data.";
const char kEngineWarning[] = "error:WARNNING:Engine Type not matched!\nCheck your config.";
const char kPickupWarning[] = "error:WARNNING:Pickup degree is zero!\nCheck your config.";

// What the window showed while a box or question was open.
struct Seen {
    std::string title;
    int onePulse;
    int twoPulse;
    std::string log;
};

// What a command asked the chooser for, and what the chooser answers.
struct ChooserCall {
    int type;
    std::string title;
    std::string filter;
    int options;
};
std::vector<ChooserCall> chooserCalls;
int chooserResult = 0;
std::string chooserPath;

// Hands the path back whatever the result, so a command that ignored a
// cancel or a failure would go on and use it.
int scriptedChooser(const FileChooserRequest& request, std::string& path)
{
    chooserCalls.push_back({request.type, request.title, request.filter, request.options});
    path = chooserPath;
    return chooserResult;
}

// A handle the commands must neither use nor close.
int notAHandle;
hid_device* const kForeignHandle = reinterpret_cast<hid_device*>(&notAHandle);

std::string mapFileText() { return joinLines(mapFileLines()); }

// Once per process: the real start-up, with temporary folders of our own so
// that no autosave file is found, and the poll stopped so that every request
// the unit sees comes from a command.
class CommandsEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        folders.emplace();
        static char name[] = "kvz-cdi";
        static char* argv[] = {name, nullptr};
        startApplication(1, argv);
        Fl::remove_timeout(pollStatus);
        widgets.tabs->value(widgets.mapTab);
    }
    void TearDown() override { folders.reset(); }
    std::optional<TemporaryXdgFolders> folders;
};
[[maybe_unused]] const testing::Environment* const environment = testing::AddGlobalTestEnvironment(new CommandsEnvironment);

class Commands : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(widgets.window, nullptr);
        resetUnitOnVirtualTime();

        resetMapData(appendLog);
        applyEnginePreset(2);  // as start-up holds it without an autosave
        refreshOptionWidgets();
        resetWindowText(kProgramTitle);
        clearChartDamage();

        boxes.onShow = [this] {
            seen.push_back({widgets.window->label(), widgets.onePulse->value(), widgets.twoPulse->value(),
                            widgets.log->value()});
        };
        chooseFile = scriptedChooser;
        chooserCalls.clear();
        chooserResult = 0;
        chooserPath.clear();
    }

    void TearDown() override
    {
        // Every path through a command ends with no handle of its own held.
        if (cdiDevice.deviceHandle != kForeignHandle) {
            EXPECT_EQ(cdiDevice.deviceHandle, nullptr);
            EXPECT_EQ(sim::openHandles(), 0);
            if (cdiDevice.deviceHandle)
                hid_close(cdiDevice.deviceHandle);
        }
        EXPECT_EQ(sim::strayCloses(), 0);
        cdiDevice.deviceHandle = nullptr;
    }

    // The transfers trace every report on standard output; keep it out of
    // the test log.
    static void press(Fl_Button* button)
    {
        captureStdout([&] { button->do_callback(); });
    }

    static std::string title() { return widgets.window->label(); }

    void forgetBoxes()
    {
        boxes.shown.clear();
        seen.clear();
    }

    // The one chooser a command asked for, for a map file.
    static void expectOneChooser(int type, const char* title, int options)
    {
        ASSERT_EQ(chooserCalls.size(), 1u);
        EXPECT_EQ(chooserCalls[0].type, type);
        EXPECT_EQ(chooserCalls[0].title, title);
        EXPECT_EQ(chooserCalls[0].filter, "CDI data\t*.cdi");
        EXPECT_EQ(chooserCalls[0].options, options);
    }

    static void fillTables(double ignition, double valve)
    {
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
            ignitionTable.points[k] = ignition;
            valveTable.points[k] = valve;
        }
    }

    // The unit's configuration block: pulse type, pickup and engine constant.
    static void setUnitConfig(std::uint8_t pulseType, std::uint8_t pickup, std::uint16_t engineConstant)
    {
        std::uint8_t* config = sim::block(30);
        config[8] = 120;
        config[10] = static_cast<std::uint8_t>(engineConstant & 0xFF);
        config[11] = static_cast<std::uint8_t>(engineConstant >> 8);
        config[12] = pulseType;
        config[13] = pickup;
    }

    static int countRequests(std::uint8_t command)
    {
        int count = 0;
        for (const sim::Request& r : sim::blockRequests())
            count += r[1] == command;
        return count;
    }

    BoxRecorder boxes;
    std::vector<Seen> seen;  // one for each of boxes.shown
    TempFolder scratch;
    const fs::path& dir = scratch.path();
};

// ---- Device Write ----

TEST_F(Commands, WriteAnsweredNoSendsNothingAndShowsNoMoreBoxes)
{
    appendLog("left over from before\n");
    boxes.answers = {0};
    press(widgets.deviceWrite);

    ASSERT_EQ(boxes.shown, std::vector<std::string>{std::string("ask:") + kQuestion});
    EXPECT_EQ(seen[0].log, "") << "the log is cleared before the question";
    EXPECT_STREQ(widgets.log->value(), "");
    EXPECT_EQ(sim::opens(), 1);
    EXPECT_EQ(sim::openHandles(), 0);
    EXPECT_TRUE(sim::requests().empty());
    EXPECT_EQ(cdiDevice.deviceHandle, nullptr);
}

// No unit on the bus, or one that cannot be opened.
class WithoutAUnit : public Commands, public testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        Commands::SetUp();
        sim::faults().absent = !GetParam();
        sim::faults().openFails = GetParam();
    }
};

INSTANTIATE_TEST_SUITE_P(AbsentOrNotOpened, WithoutAUnit, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "OpenFails" : "UnitAbsent";
                         });

TEST_P(WithoutAUnit, WriteClearsTheLogThenSaysSo)
{
    appendLog("Started successfully.\n");
    press(widgets.deviceWrite);

    ASSERT_EQ(boxes.shown, std::vector<std::string>{kNoUnit});
    EXPECT_EQ(seen[0].log, "");
    EXPECT_EQ(sim::opens(), 0);
    EXPECT_TRUE(sim::requests().empty());
}

// A node that cannot be opened cannot be locked: nothing is sent, and the
// log says why.
TEST_F(Commands, ReadAndWriteSayWhyTheNodeCannotBeOpened)
{
    sim::faults().nodeMissing = true;
    const std::string line = "Cannot open " + sim::nodePath() + ": No such file or directory\n";
    for (Fl_Button* button : {widgets.deviceRead, widgets.deviceWrite}) {
        boxes.shown.clear();
        widgets.log->value("");
        press(button);
        EXPECT_EQ(boxes.shown, std::vector<std::string>{kNoUnit});
        EXPECT_EQ(widgets.log->value(), line);
    }
    EXPECT_EQ(sim::opens(), 0);
    EXPECT_TRUE(sim::requests().empty());
}

TEST_F(Commands, WriteWhileAHandleIsHeldRefusesAndLeavesItAlone)
{
    appendLog("text\n");
    cdiDevice.deviceHandle = kForeignHandle;
    press(widgets.deviceWrite);

    EXPECT_EQ(boxes.shown, std::vector<std::string>{kNoUnit});
    EXPECT_STREQ(widgets.log->value(), "");
    EXPECT_EQ(cdiDevice.deviceHandle, kForeignHandle);
    EXPECT_EQ(sim::opens(), 0);
    EXPECT_TRUE(sim::requests().empty());
}

// The command-line program has the unit: before asking anything the window
// waits a few seconds for it, then says it cannot find the unit, sending
// nothing.
TEST_F(Commands, WriteWhileAnotherProgramHasTheUnitWaitsThenSaysSo)
{
    const OtherProgramsLock cli;
    const auto started = std::chrono::steady_clock::now();
    press(widgets.deviceWrite);

    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(5000));
    EXPECT_EQ(boxes.shown, std::vector<std::string>{kNoUnit});
    EXPECT_STREQ(widgets.log->value(), "The unit is in use by another program.\n");
    EXPECT_TRUE(sim::requests().empty());
}

TEST_F(Commands, WriteSuccessReplacesTablesByTheReadBackOnly)
{
    applyEnginePreset(2);
    cdiDevice.config.revLimit = 0;  // the read-back makes it 70
    cdiDevice.config.qsEnablePoint = 60;
    refreshOptionWidgets();
    fillTables(20.0, 50.0);
    ignitionTable.points[30] = 10.0;
    valveTable.points[5] = 37.9;
    setWindowTitle("/maps/before.cdi");
    const std::string before = title();
    clearChartDamage();
    boxes.answers = {1};

    press(widgets.deviceWrite);

    EXPECT_EQ(boxes.shown, (std::vector<std::string>{std::string("ask:") + kQuestion,
                                                 "message:Writing device map successfully."}));
    // Read twice (the second pass last block first), written, read back once.
    const std::vector<sim::Request> requests = sim::blockRequests();
    ASSERT_EQ(requests.size(), 128u);
    for (std::size_t n = 0; n < 32; ++n) {
        EXPECT_EQ(requests[n][1], 0x80) << n;
        EXPECT_EQ(requests[32 + n][1], 0x80) << n;
        EXPECT_EQ(requests[32 + n][2], static_cast<std::uint8_t>(31 - n)) << n;
        EXPECT_EQ(requests[64 + n][1], 0x82) << n;
        EXPECT_EQ(requests[64 + n][2], static_cast<std::uint8_t>(n)) << n;
        EXPECT_EQ(requests[96 + n][1], 0x80) << n;
    }
    // The unit holds what was sent; the program holds what came back.
    EXPECT_EQ(sim::block(30)[8], 0);
    EXPECT_EQ(sim::block(20)[5], 37);
    EXPECT_DOUBLE_EQ(ignitionTable.points[30], 10.1);
    EXPECT_EQ(valveTable.points[5], 37.0);
    EXPECT_EQ(valveTable.points[6], 50.0);
    EXPECT_EQ(cdiDevice.config.revLimit, 70);
    EXPECT_EQ(cdiDevice.config.qsEnablePoint, 60);

    // The window shows what came back, before the result box; the title
    // stays.
    EXPECT_EQ(title(), before);
    EXPECT_TRUE(chartsRedrawn());
    EXPECT_EQ(widgets.revLimit->value(), 70.0);
    EXPECT_EQ(seen.back().title, before);

    const std::string log = widgets.log->value();
    EXPECT_EQ(log.rfind("Reading CONFIG table\n", 0), 0u) << log;
    EXPECT_NE(log.find("Writing IG table\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Reading PV table..........OK.\n"), std::string::npos) << log;
    EXPECT_EQ(sim::opens(), 1);
    EXPECT_EQ(sim::openHandles(), 0);
}

struct EchoFailure {
    int block;
    const char* box;
};

class WriteEchoFails : public Commands, public testing::WithParamInterface<EchoFailure> {};

TEST_P(WriteEchoFails, VerifyBoxThenErrorAndNoReadBack)
{
    const EchoFailure failure = GetParam();
    sim::faults().wrongEchoAtBlock = failure.block;
    applyEnginePreset(2);
    fillTables(12.0, 80.0);
    const MapTable ignitionBefore = ignitionTable;
    const MapTable valveBefore = valveTable;
    setWindowTitle("kept");
    boxes.answers = {1};

    press(widgets.deviceWrite);

    EXPECT_EQ(boxes.shown, (std::vector<std::string>{std::string("ask:") + kQuestion, failure.box,
                                                 "message:Writing device map error."}));
    EXPECT_EQ(countRequests(0x82), failure.block + 1);
    EXPECT_EQ(countRequests(0x80), 64) << "the read before, and no read-back";
    EXPECT_EQ(std::memcmp(ignitionTable.points, ignitionBefore.points, sizeof ignitionBefore.points), 0);
    EXPECT_EQ(std::memcmp(valveTable.points, valveBefore.points, sizeof valveBefore.points), 0);
    EXPECT_EQ(title(), kPrefix + "kept");
    EXPECT_EQ(cdiDevice.deviceHandle, nullptr);
    EXPECT_EQ(sim::opens(), 1);
    EXPECT_EQ(sim::openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(EachPhase, WriteEchoFails,
                         testing::Values(EchoFailure{0, "error:Writing IG data verify failed."},
                                         EchoFailure{19, "error:Writing IG data verify failed."},
                                         EchoFailure{20, "error:Writing PV data verify failed."},
                                         EchoFailure{31, "error:Writing config data verify failed."}));

TEST_F(Commands, WriteWhoseLinkFailsReportsAndSkipsTheReadBack)
{
    sim::faults().readFailsAt = 64 + 25;  // after the read before, power-valve block 24
    fillTables(12.0, 80.0);
    boxes.answers = {1};
    press(widgets.deviceWrite);

    EXPECT_EQ(boxes.shown, (std::vector<std::string>{std::string("ask:") + kQuestion,
                                                 "error:Error occured on writing PV data.",
                                                 "message:Writing device map error."}));
    EXPECT_EQ(countRequests(0x80), 64);
    EXPECT_NE(std::string(widgets.log->value()).find("The unit now holds part new and part old data"),
              std::string::npos);
    EXPECT_EQ(sim::openHandles(), 0);
}

// ---- Device Read ----

TEST_F(Commands, ReadOfAnotherEngineTypeWarnsAndFlipsTheButtonsOnly)
{
    applyEnginePreset(1);  // pulse 1, pickup 68, latency 610, constant 37500
    refreshOptionWidgets();
    setUnitConfig(2, 40, 18750);
    sim::block(20)[3] = 77;
    setWindowTitle("/maps/old.cdi");
    const std::string before = title();
    clearChartDamage();

    press(widgets.deviceRead);

    EXPECT_EQ(boxes.shown, (std::vector<std::string>{"message:Reading device map successfully.", kEngineWarning}));
    // The title changes once the result box is closed.
    EXPECT_EQ(seen[0].title, before);
    EXPECT_EQ(seen[1].title, kPrefix + "device loaded");
    EXPECT_EQ(title(), kPrefix + "device loaded");
    // The buttons change after the warning; the read took the latency
    // offset of the unit's own type.
    EXPECT_EQ(seen[1].onePulse, 1);
    EXPECT_EQ(widgets.onePulse->value(), 0);
    EXPECT_EQ(widgets.twoPulse->value(), 1);
    EXPECT_EQ(cdiDevice.latencyOffset, 570);
    EXPECT_EQ(cdiDevice.config.engineConstantValue(), 18750);
    EXPECT_EQ(cdiDevice.config.pulseType, 2);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 40);
    EXPECT_STREQ(widgets.pickup->value(), "40");
    EXPECT_EQ(widgets.revLimit->value(), 120.0);
    EXPECT_EQ(valveTable.points[3], 77.0);

    EXPECT_TRUE(chartsRedrawn());
    EXPECT_EQ(countRequests(0x80), 64);
    EXPECT_EQ(sim::opens(), 1);
    EXPECT_EQ(sim::openHandles(), 0);
    EXPECT_EQ(std::string(widgets.log->value()).rfind("Reading CONFIG table\n..OK.\n", 0), 0u);
}

TEST_F(Commands, ReadOfAnUnknownEngineTypeTurnsBothButtonsOffUntilTheRefresh)
{
    applyEnginePreset(2);
    refreshOptionWidgets();
    setUnitConfig(5, 0, 18750);
    press(widgets.deviceRead);

    EXPECT_EQ(boxes.shown, (std::vector<std::string>{"message:Reading device map successfully.", kEngineWarning,
                                                 kPickupWarning}));
    EXPECT_EQ(seen[1].twoPulse, 1) << "set only after the warning";
    EXPECT_EQ(seen[2].onePulse, 0);
    EXPECT_EQ(seen[2].twoPulse, 0);
    // The option refresh at the end shows any type but 1 as two pulses.
    EXPECT_EQ(widgets.onePulse->value(), 0);
    EXPECT_EQ(widgets.twoPulse->value(), 1);
    EXPECT_EQ(cdiDevice.config.pulseType, 5);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 36);
}

TEST_F(Commands, ReadOfTheSameEngineTypeShowsOnlyTheResult)
{
    applyEnginePreset(2);
    setUnitConfig(2, 36, 18750);
    press(widgets.deviceRead);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"message:Reading device map successfully."});
    EXPECT_EQ(title(), kPrefix + "device loaded");
}

struct PickupCase {
    std::uint8_t pulseType;
    std::uint8_t pickup;
};

class ReadPickupZero : public Commands, public testing::WithParamInterface<PickupCase> {};

TEST_P(ReadPickupZero, WarnsAndTakesTheDefaultForThePulseType)
{
    const PickupCase c = GetParam();
    cdiDevice.config.pulseType = c.pulseType;  // the program holds the same type
    setUnitConfig(c.pulseType, 0, 18750);
    press(widgets.deviceRead);

    EXPECT_EQ(boxes.shown, (std::vector<std::string>{"message:Reading device map successfully.", kPickupWarning}));
    EXPECT_EQ(cdiDevice.config.pickupDeg, c.pickup);
    EXPECT_EQ(widgets.pickup->value(), std::to_string(c.pickup));
    EXPECT_EQ(sim::block(30)[13], 0) << "the unit is not changed";
}

INSTANTIATE_TEST_SUITE_P(PulseTypes, ReadPickupZero,
                         testing::Values(PickupCase{1, 68}, PickupCase{2, 36}, PickupCase{5, 36}, PickupCase{0, 36}));

TEST_F(Commands, ReadFailingInTheIgnitionPhaseChangesNothing)
{
    setUnitConfig(1, 0, 37500);
    sim::faults().readFailsAt = 5;  // blocks 30, 31, 0, 1 arrive; block 2 does not
    fillTables(5.0, 50.0);
    const ConfigBlock config = cdiDevice.config;
    setWindowTitle("/maps/kept.cdi");
    const std::string before = title();

    press(widgets.deviceRead);

    // No checks: nothing new was read to check.
    EXPECT_EQ(boxes.shown,
              (std::vector<std::string>{"error:Error occured on reading IG data.", "message:Reading device map error."}));
    EXPECT_EQ(title(), before);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        ASSERT_EQ(ignitionTable.points[k], 5.0) << k;
        ASSERT_EQ(valveTable.points[k], 50.0) << k;
    }
    EXPECT_EQ(std::memcmp(cdiDevice.config.bytes(), config.bytes(), sizeof config), 0);
    EXPECT_EQ(cdiDevice.latencyOffset, 570);
    EXPECT_EQ(widgets.twoPulse->value(), 1);
    EXPECT_STREQ(widgets.pickup->value(), "36");
    EXPECT_EQ(sim::exchanges(), 5);
    EXPECT_EQ(cdiDevice.deviceHandle, nullptr);
    EXPECT_EQ(sim::openHandles(), 0);
}

TEST_P(WithoutAUnit, ReadSaysSoAndChangesNothing)
{
    cdiDevice.config.pickupDeg = 0;  // would be warned about after a read
    fillTables(7.0, 70.0);
    clearChartDamage();

    press(widgets.deviceRead);

    EXPECT_EQ(boxes.shown, std::vector<std::string>{kNoUnit});
    EXPECT_EQ(title(), kProgramTitle);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 0);
    EXPECT_EQ(ignitionTable.points[0], 7.0);
    EXPECT_TRUE(chartsUntouched());
    EXPECT_EQ(sim::opens(), 0);
    EXPECT_TRUE(sim::requests().empty());
}

TEST_F(Commands, ReadWhileAHandleIsHeldRefusesAndLeavesItAlone)
{
    cdiDevice.deviceHandle = kForeignHandle;
    appendLog("kept\n");
    press(widgets.deviceRead);

    EXPECT_EQ(boxes.shown, std::vector<std::string>{kNoUnit});
    EXPECT_EQ(cdiDevice.deviceHandle, kForeignHandle);
    EXPECT_STREQ(widgets.log->value(), "kept\n");
    EXPECT_EQ(sim::opens(), 0);
    EXPECT_TRUE(sim::requests().empty());
}

// ---- File Open ----

TEST_F(Commands, FileOpenLoadsTheChosenFileAndNamesTheWindowAfterIt)
{
    // A name the title must not take for a format.
    const fs::path path = dir / "tune %s 100%n.cdi";
    writeFile(path, mapFileText());
    chooserPath = path.string();
    refreshOptionWidgets();

    press(widgets.fileOpen);

    expectOneChooser(Fl_Native_File_Chooser::BROWSE_FILE, "Load CDI data", 0);
    EXPECT_TRUE(boxes.shown.empty());

    EXPECT_EQ(title(), kPrefix + path.string());
    EXPECT_EQ(ignitionTable.value(0, 3), sampleIgnition(3));
    EXPECT_EQ(ignitionTable.value(1, 0), sampleIgnition(160));
    EXPECT_EQ(valveTable.value(1, 10), sampleValve(170));
    EXPECT_TRUE(chartsRedrawn());
    EXPECT_EQ(widgets.revLimit->value(), 125.0);
    EXPECT_EQ(widgets.enablePoint->value(), 120.0);
    EXPECT_EQ(widgets.onePulse->value(), 1);
    EXPECT_EQ(widgets.twoPulse->value(), 0);
    EXPECT_STREQ(widgets.pickup->value(), "70");
    EXPECT_EQ(widgets.stopSwitch->value(), 1);
    EXPECT_TRUE(sim::requests().empty());
}

TEST_F(Commands, FileOpenCancelledOrFailedLoadsNothing)
{
    writeFile(dir / "tune.cdi", mapFileText());
    chooserPath = (dir / "tune.cdi").string();
    setWindowTitle("before");

    chooserResult = 1;
    press(widgets.fileOpen);
    EXPECT_TRUE(boxes.shown.empty());

    chooserResult = -1;
    press(widgets.fileOpen);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{kFileError});

    EXPECT_EQ(chooserCalls.size(), 2u);
    EXPECT_EQ(title(), kPrefix + "before");
    EXPECT_EQ(ignitionTable.value(0, 3), 0.0);
    EXPECT_EQ(cdiDevice.config.pulseType, 2);  // the file's is 1
    EXPECT_TRUE(chartsUntouched());
}

TEST_F(Commands, FileOpenOfAFileThatDoesNotLoadSaysSoAndKeepsEverything)
{
    const std::string whole = mapFileText();
    std::vector<std::string> badValue = mapFileLines();
    badValue[320 + 7] = "PV:0\t007\tseven";
    const std::vector<std::pair<std::string, fs::path>> files = {
        {"missing", dir / "missing.cdi"},
        {"cut short", dir / "short.cdi"},
        {"bad value", dir / "bad.cdi"},
        {"a folder", dir / "folder.cdi"},
    };
    writeFile(dir / "short.cdi", whole.substr(0, whole.size() / 2));
    writeFile(dir / "bad.cdi", joinLines(badValue));
    fs::create_directory(dir / "folder.cdi");

    applyEnginePreset(2);
    cdiDevice.config.revLimit = 130;
    fillTables(9.0, 90.0);
    setWindowTitle("/maps/current.cdi");
    const std::string before = title();
    const ConfigBlock config = cdiDevice.config;
    for (const auto& [what, path] : files) {
        SCOPED_TRACE(what);
        forgetBoxes();
        chooserPath = path.string();
        press(widgets.fileOpen);
        EXPECT_EQ(boxes.shown, std::vector<std::string>{kFileError});
        EXPECT_EQ(title(), before);
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
            ASSERT_EQ(ignitionTable.points[k], 9.0) << k;
            ASSERT_EQ(valveTable.points[k], 90.0) << k;
        }
        EXPECT_EQ(std::memcmp(cdiDevice.config.bytes(), config.bytes(), sizeof config), 0);
        EXPECT_TRUE(chartsUntouched());
    }
}

// ---- File Save ----

TEST_F(Commands, FileSaveAddsTheExtensionButTitlesTheNameAsChosen)
{
    fillTables(11.5, 42.0);
    ignitionTable.points[7] = 23.25;
    applyEnginePreset(1);
    chooserPath = (dir / "tune").string();

    press(widgets.fileSave);

    static_assert((Fl_Native_File_Chooser::SAVEAS_CONFIRM | Fl_Native_File_Chooser::NEW_FOLDER) == 3);
    expectOneChooser(Fl_Native_File_Chooser::BROWSE_SAVE_FILE, "Save CDI data", 3);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(fs::exists(dir / "tune.cdi"));
    EXPECT_FALSE(fs::exists(dir / "tune"));
    EXPECT_EQ(title(), kPrefix + (dir / "tune").string());

    // What was written comes back through File Open.
    fillTables(0.0, 0.0);
    applyEnginePreset(2);
    chooserPath = (dir / "tune.cdi").string();
    press(widgets.fileOpen);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(ignitionTable.points[7], 23.25);
    EXPECT_EQ(ignitionTable.points[300], 11.5);
    EXPECT_EQ(valveTable.points[300], 42.0);
    EXPECT_EQ(cdiDevice.config.pulseType, 1);
    EXPECT_EQ(title(), kPrefix + (dir / "tune.cdi").string());
}

TEST_F(Commands, FileSaveCancelledOrFailedWritesNothing)
{
    chooserPath = (dir / "tune.cdi").string();
    chooserResult = 1;
    press(widgets.fileSave);
    EXPECT_TRUE(boxes.shown.empty());

    chooserResult = -1;
    press(widgets.fileSave);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{kFileError});
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(title(), kProgramTitle);
}

TEST_F(Commands, FileSaveThatFailsSaysSoAndKeepsTheOldFile)
{
    const fs::path locked = dir / "locked.cdi";
    const std::string old = mapFileText();
    writeFile(locked, old);
    ASSERT_EQ(chmod(locked.c_str(), 0444), 0);
    fillTables(30.0, 150.0);
    setWindowTitle("/maps/current.cdi");
    const std::string before = title();

    const std::vector<fs::path> targets = {locked, dir / "no-such-folder" / "tune.cdi"};
    for (const fs::path& target : targets) {
        SCOPED_TRACE(target.string());
        forgetBoxes();
        chooserPath = target.string();
        press(widgets.fileSave);
        EXPECT_EQ(boxes.shown, std::vector<std::string>{kFileError});
        EXPECT_EQ(title(), before);
    }
    EXPECT_EQ(readFile(locked), old);
    EXPECT_FALSE(fs::exists(dir / "no-such-folder"));
    // No half-written file left beside the old one.
    EXPECT_EQ(listFolder(dir).size(), 1u);
}

// ---- Titles ----

// A path of exactly `length` characters under `base`, its folders made,
// with room left in the last name for an extension.
fs::path deepPath(const fs::path& base, std::size_t length)
{
    fs::path folder = base;
    while (folder.string().size() + 1 + 250 < length)
        folder /= std::string(200, 'd');
    fs::create_directories(folder);
    const std::size_t rest = length - folder.string().size() - 1;
    return folder / std::string(rest, 'n');
}

TEST_F(Commands, OverlongPathsNeverOverrunTheTitleOrTheSaveName)
{
    // Open: a file whose path is longer than any title.
    const fs::path longFile = deepPath(dir, 1200).string() + ".cdi";
    writeFile(longFile, mapFileText());
    chooserPath = longFile.string();
    press(widgets.fileOpen);
    EXPECT_TRUE(boxes.shown.empty());
    std::string t = title();
    EXPECT_LE(t.size(), 1023u);
    EXPECT_EQ(t.rfind(kPrefix, 0), 0u);
    EXPECT_EQ(t.substr(t.size() - 20), longFile.string().substr(longFile.string().size() - 20));
    EXPECT_EQ(ignitionTable.value(0, 3), sampleIgnition(3));

    // Save: 1019 characters and ".cdi" still fit the save name; the title
    // does not take them all.
    const fs::path fits = deepPath(dir / "s", 1019);
    chooserPath = fits.string();
    press(widgets.fileSave);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(fs::exists(fits.string() + ".cdi"));
    t = title();
    EXPECT_LE(t.size(), 1023u);
    EXPECT_EQ(t.substr(t.size() - 20), fits.string().substr(fits.string().size() - 20));

    // One more and the name would not fit: refused, not cut short.
    const fs::path tooLong = fits.string() + "m";
    chooserPath = tooLong.string();
    press(widgets.fileSave);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{kFileError});
    EXPECT_EQ(title(), t);
    EXPECT_EQ(listFolder(fits.parent_path()).size(), 1u) << "only the file that fitted";
}

TEST_F(Commands, FileOpenAfterDeviceReadReplacesDeviceLoaded)
{
    applyEnginePreset(2);
    setUnitConfig(2, 36, 18750);
    press(widgets.deviceRead);
    ASSERT_EQ(title(), kPrefix + "device loaded");

    const fs::path path = dir / "after.cdi";
    writeFile(path, mapFileText());
    chooserPath = path.string();
    press(widgets.fileOpen);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"message:Reading device map successfully."});
    EXPECT_EQ(title(), kPrefix + path.string());
}

// ---- The unit's safety ----

// What the unit's timer works from: its pickup (the preset's in place of
// 0) and its own pulse type's latency.
TimingReference unitsReference(std::uint8_t pulseType, std::uint8_t pickup)
{
    const bool one = pulseType == 1;
    return {pickup ? pickup : static_cast<std::uint8_t>(one ? 68 : 36), one ? 610 : 570, 666.666667};
}

// A unit whose every byte is its own: each ignition word an advance encoded
// with the unit's own reference, each valve byte and configuration byte a
// pattern, and the configuration's named fields as given.
sim::Memory patternedUnit(std::uint8_t pulseType, std::uint8_t pickup, std::uint8_t revLimit)
{
    sim::Memory m{};
    for (std::size_t i = 640; i < m.size(); ++i)
        m[i] = static_cast<std::uint8_t>(i * 37 + 11);
    ConfigBlock unit;
    std::memcpy(unit.bytes(), &m[960], sizeof unit);
    unit.pulseType = pulseType;
    unit.pickupDeg = pickup;
    unit.revLimit = revLimit;
    unit.setEngineConstant(enginePreset(pulseType).engineConstant);
    std::memcpy(&m[960], unit.bytes(), sizeof unit);
    const TimingReference reference = unitsReference(pulseType, pickup);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        const double advance = 5.0 + (k * 7 % 230) / 10.0;  // 5.0 .. 27.9
        const TimerWord w = encodeAdvance(advance, static_cast<std::uint16_t>(k % 160), reference).word;
        m[2 * k] = static_cast<std::uint8_t>(w & 0xFF);
        m[2 * k + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    return m;
}

std::string onlyFile(const fs::path& folder, const std::string& ending)
{
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().string().size() > ending.size()
            && entry.path().string().compare(entry.path().string().size() - ending.size(), ending.size(), ending) == 0)
            return entry.path().string();
    return {};
}

TEST_F(Commands, WriteAfterAFileKeepsTheUnitsOwnBytesAndARestorePointOfWhatItHeld)
{
    const sim::Memory before = patternedUnit(2, 36, 120);
    sim::memory() = before;
    TemporaryXdgFolders xdg;
    const fs::path path = dir / "tune.cdi";
    writeFile(path, mapFileText());
    chooserPath = path.string();
    press(widgets.fileOpen);
    boxes.answers = {1};
    press(widgets.deviceWrite);
    ASSERT_EQ(boxes.shown, (std::vector<std::string>{std::string("ask:") + kQuestion,
                                                     "message:Writing device map successfully."}));

    // The file's options over the unit's own bytes 0, 1, 9 and 14..63.
    const std::uint8_t* config = sim::block(30);
    for (int i : {0, 1, 9})
        EXPECT_EQ(config[i], before[960 + i]) << i;
    EXPECT_EQ(std::memcmp(config + 14, &before[960 + 14], 50), 0);
    EXPECT_EQ(config[8], 125);  // the file's rev_limit
    EXPECT_EQ(config[13], 70);  // and PickupDeg

    // The restore point before the write holds exactly what the unit held;
    // File Open of its map file brings that back.
    const fs::path backups = xdg.folder("XDG_DATA_HOME") / "kvz-cdi" / "backups";
    const std::string image = onlyFile(backups, "-before-write.bin");
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(readFile(image), std::string(before.begin(), before.end()));
    EXPECT_FALSE(onlyFile(backups, "-after-write.cdi").empty());
    chooserPath = image.substr(0, image.size() - 4) + ".cdi";
    press(widgets.fileOpen);
    UnitContents held;
    UnitImage unit;
    std::memcpy(unit.bytes, before.data(), sizeof unit.bytes);
    decodeUnitImage(unit, cdiDevice.timerConstant, held);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        ASSERT_EQ(ignitionTable.points[k], std::min(held.ignition.points[k], 35.0)) << k;
        ASSERT_EQ(valveTable.points[k], std::min(held.valve.points[k], 160.0)) << k;
    }
    EXPECT_EQ(cdiDevice.config.revLimit, 120);
}

// A read shows the timing the unit fires with, and a read and a write with
// no edits between give the unit back its valve maps and configuration byte
// for byte and its timing within the codec's own step, whatever the tool
// held before the read.
struct RoundTrip {
    const char* name;
    std::uint8_t toolPulseType;
    std::uint8_t pulseType, pickup, revLimit;
};

class ReadThenWrite : public Commands, public testing::WithParamInterface<RoundTrip> {};

TEST_P(ReadThenWrite, GivesTheUnitBackWhatItHeld)
{
    const RoundTrip c = GetParam();
    applyEnginePreset(c.toolPulseType);
    const sim::Memory before = patternedUnit(c.pulseType, c.pickup, c.revLimit);
    sim::memory() = before;
    press(widgets.deviceRead);
    const MapTable read = ignitionTable;
    const TimingReference unit = unitsReference(c.pulseType, c.pickup);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        const TimerWord word = static_cast<TimerWord>(before[2 * k] | before[2 * k + 1] << 8);
        ASSERT_EQ(read.points[k], decodeWord(word, static_cast<std::uint16_t>(k % 160), unit).advance) << k;
    }
    boxes.answers = {1};
    press(widgets.deviceWrite);
    ASSERT_EQ(boxes.shown.back(), "message:Writing device map successfully.");

    const sim::Memory& after = sim::memory();
    EXPECT_EQ(std::memcmp(&after[640], &before[640], 320), 0) << "valve maps";
    ConfigBlock expected;
    std::memcpy(expected.bytes(), &before[960], sizeof expected);
    if (expected.pickupDeg == 0)
        expected.pickupDeg = enginePreset(expected.pulseType).pickupDeg;
    if (expected.revLimit == 0)
        expected.revLimit = 70;
    EXPECT_EQ(std::memcmp(&after[960], expected.bytes(), sizeof expected), 0) << "configuration";
    const double step = c.pulseType == 1 ? 0.2 : 0.1;
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        ASSERT_NEAR(ignitionTable.points[k], read.points[k], step + 1e-9) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Units, ReadThenWrite,
    testing::Values(RoundTrip{"TwoPulse", 2, 2, 36, 120}, RoundTrip{"PickupZeroTwoPulse", 2, 2, 0, 0},
                    RoundTrip{"PickupZeroOnePulse", 1, 1, 0, 110}, RoundTrip{"OnePulseWhileToolHeldTwo", 2, 1, 68, 120},
                    RoundTrip{"TwoPulseWhileToolHeldOne", 1, 2, 40, 120}),
    [](const testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

TEST_F(Commands, WriteToAUnitThatStoresSomethingElseIsAnError)
{
    sim::faults().storesWrongAtBlock = 7;
    boxes.answers = {1};
    press(widgets.deviceWrite);
    EXPECT_EQ(boxes.shown, (std::vector<std::string>{std::string("ask:") + kQuestion,
                                                 "message:Writing device map error."}));
    EXPECT_NE(std::string(widgets.log->value()).find("block 7 reads back different"), std::string::npos);
}

TEST_F(Commands, WriteRefusesWhatNoUnitMayBeGivenAndSendsNothing)
{
    const char* const engine = "error:Engine type is not set: choose 1 or 2 pulses on the Device tab, then check "
                               "the pickup coil position. Nothing was written.";
    const char* const pickup = "error:Pick up coil position is 0: set it on the Device tab. Nothing was written.";
    const struct {
        std::uint8_t pulseType, pickupDeg;
        const char* box;
    } cases[] = {{0, 36, engine}, {7, 36, engine}, {1, 0, pickup}, {2, 0, pickup}};
    for (const auto& c : cases) {
        cdiDevice.config.pulseType = c.pulseType;
        cdiDevice.config.pickupDeg = c.pickupDeg;
        forgetBoxes();
        press(widgets.deviceWrite);
        EXPECT_EQ(boxes.shown, std::vector<std::string>{c.box});
    }
    EXPECT_TRUE(sim::requests().empty());
}

TEST_F(Commands, WriteWithoutARestorePointWritesNothing)
{
    TemporaryXdgFolders xdg;
    const fs::path notAFolder = xdg.folder("XDG_DATA_HOME") / "kvz-cdi";
    writeFile(notAFolder, "a file where the folder should be");
    boxes.answers = {1};
    press(widgets.deviceWrite);
    EXPECT_EQ(boxes.shown, (std::vector<std::string>{std::string("ask:") + kQuestion,
                                                 "error:Cannot write a restore point to " + notAFolder.string()
                                                     + "/backups. Nothing was written.",
                                                 "message:Writing device map error."}));
    EXPECT_EQ(countRequests(0x82), 0);
}

// A status request the unit answers after the poll gave up lands in the next
// handle opened: the read waits for it instead of taking it for a block.
// A unit whose block 3 changes after each read of block 10, `changesLeft`
// times: its two passes differ, and are read again after a quiet spell.
int changesLeft = 0;

TEST_F(Commands, ReadBelievesTheUnitOnlyWhenTwoPassesAgree)
{
    sim::memory() = patternedUnit(2, 36, 120);
    cdiDevice.progress = [](int block) { sim::block(3)[0] += block == 10 && changesLeft-- > 0; };
    const std::size_t points = listRestorePoints().size();
    for (const int changes : {2, 3}) {
        changesLeft = changes;
        valveTable.points[0] = 42.0;
        const long long started = sim::clockMs();
        press(widgets.deviceRead);
        EXPECT_GE(sim::clockMs() - started, 1500) << "quiet before the passes again";
        EXPECT_EQ(valveTable.points[0], changes == 2 ? sim::block(20)[0] : 42.0);
        EXPECT_EQ(listRestorePoints().size(), points + 1) << "kept when they agreed, only";
    }
    EXPECT_EQ(boxes.shown, (std::vector<std::string>{"message:Reading device map successfully.",
                                                     std::string("error:") + kRepliesDisagree,
                                                     "message:Reading device map error."}));
    EXPECT_NE(std::string(widgets.log->value()).find("table..........OK.\nRestore point: "), std::string::npos);
}

TEST_F(Commands, ReadRightAfterAPollTickGetsEveryBlocksOwnReply)
{
    sim::memory() = patternedUnit(2, 36, 120);
    sim::status().rpm = 130;
    sim::faults().replyDelayMs = 200;
    pollStatus(nullptr);
    Fl::remove_timeout(pollStatus);
    ASSERT_EQ(sim::requests().size(), 1u);
    press(widgets.deviceRead);

    ASSERT_EQ(boxes.shown, std::vector<std::string>{"message:Reading device map successfully."});
    EXPECT_EQ(std::memcmp(cdiDevice.config.bytes(), &sim::memory()[960], 8), 0);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        ASSERT_EQ(valveTable.points[k], sim::memory()[640 + k]) << k;
}

// While the question is open the poll gives up on a late reply, then sends
// again once it can no longer come: Yes waits until the second can't either.
TEST_F(Commands, WriteAnsweredYesWhileAPollReplyIsOwedTakesNoStatusReplyForABlock)
{
    sim::memory() = patternedUnit(2, 36, 120);
    sim::faults().replyDelayMs = 10;  // the status reply would land amid the blocks
    sim::faults().statusReplyDelayMs = 300;
    boxes.answers = {1};
    boxes.onShow = [] { pollStatus(nullptr), sim::advanceMs(kLateReplyMs), pollStatus(nullptr); };
    press(widgets.deviceWrite);
    Fl::remove_timeout(pollStatus);
    EXPECT_EQ(boxes.shown.back(), "message:Writing device map successfully.");
    EXPECT_EQ(countRequests(0x80), 64 + 32) << "the two passes before agreed at once";
}

}  // namespace
