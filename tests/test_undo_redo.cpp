// Undo and redo in the started window: keys as the window system delivers
// them, the file chooser and boxes answered by scripts, the simulated unit.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Repeat_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Value_Slider.H>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "device_status.h"
#include "autosave_timer.h"
#include "dialogs.h"
#include "edit_history.h"
#include "main_window.h"
#include "my_chart.h"
#include "option_bindings.h"
#include "sim_unit.h"
#include "startup.h"
#include "support.h"
#include "toolkit_dialogs.h"
#include "undo_redo.h"

namespace {
namespace fs = std::filesystem;
fs::path root;
double seconds;

// No autosave, restore points in a folder of our own, the poll stopped so
// only commands reach the unit, no boxes, and a chooser that picks tune.cdi.
class StartedWindow : public testing::Environment {
    void SetUp() override
    {
        std::string pattern = (fs::current_path() / "undo-tmp-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        for (const char* name : {"TMPDIR", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"})
            setenv(name, pattern.c_str(), 1);
        static char program[] = "kvz-cdi";
        static char* argv[] = {program, nullptr};
        startApplication(1, argv);
        Fl::remove_timeout(pollStatus);
        dialogs = {[](const char*) {}, [](const char*) {}, [](const char*) { return 0; }, [] {},
                   [](const char*) { return 0; }};
        chooseFile = [](const FileChooserRequest&, std::string& path) {
            path = (root / "tune.cdi").string();
            return 0;
        };
        editClock = [] { return seconds; };
    }
    void TearDown() override { fs::remove_all(root); }
};
[[maybe_unused]] const auto* const environment = testing::AddGlobalTestEnvironment(new StartedWindow);

EditState shown() { return captureState(ignitionTable, valveTable, cdiDevice); }

// Presses 50 ms apart.
void press(Fl_Widget* widget, int times = 1)
{
    testing::internal::CaptureStdout();  // the transfers' trace
    for (int i = 0; i < times; ++i, seconds += 0.05)
        widget->do_callback();
    testing::internal::GetCapturedStdout();
}

void select(Fl_Light_Button* map)
{
    map->setonly();
    press(map);
}

class UndoRedo : public testing::Test {
    void SetUp() override
    {
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
            ignitionTable.points[k] = (k % 35) + 0.5;
            valveTable.points[k] = k % 160;
        }
        applyEnginePreset(2);
        cdiDevice.config.revLimit = 120;
        refreshOptionWidgets();
        select(widgets.ignMap0);
        widgets.ignitionChart->cursor = widgets.valveChart->cursor = 80;
        widgets.tabs->value(widgets.mapTab);
        seconds += 10;
        startEditHistory();
    }
};

TEST_F(UndoRedo, EightUpPressesUndoAsOneChangeAndRedo)
{
    const EditState before = shown();
    press(widgets.valueUp, 8);
    const EditState after = shown();
    ASSERT_FALSE(sameState(before, after));

    pressKey('z', FL_CTRL);
    EXPECT_TRUE(sameState(shown(), before));
    pressKey('y', FL_CTRL);
    EXPECT_TRUE(sameState(shown(), after));
    pressKey('z', FL_CTRL);
    pressKey('z', FL_CTRL | FL_SHIFT);
    EXPECT_TRUE(sameState(shown(), after));

    // Nothing changes under an open box, such as the question before a write.
    Fl_Double_Window box(200, 100);
    box.set_modal();
    box.show();
    ASSERT_EQ(Fl::modal(), &box);
    pressKey('z', FL_CTRL);
    EXPECT_TRUE(sameState(shown(), after));
}

// An option change is undone from the pickup field, whose own text undo
// never runs: what was typed is dropped and leaving the field commits
// nothing; map, cursor and tab stay. The map edit before it comes back
// with its map and cursor.
TEST_F(UndoRedo, UndoFromThePickupFieldAndBackToWhereAMapEditHappened)
{
    select(widgets.pvsMap1);
    press(widgets.cursorRight, 2);
    const EditState beforeStep = shown();
    press(widgets.valueUp);
    select(widgets.ignMap1);
    press(widgets.cursorLeft, 4);
    const EditState beforeSlider = shown();
    widgets.revLimit->value(150);
    press(widgets.revLimit);

    widgets.tabs->value(widgets.deviceTab);
    Fl::focus(widgets.pickup);
    widgets.pickup->position(widgets.pickup->size());
    pressKey('9', 0, "9");
    ASSERT_STREQ(widgets.pickup->value(), "369");
    widgets.ignitionChart->clear_damage();
    widgets.valveChart->clear_damage();
    pressKey('z', FL_CTRL);
    EXPECT_TRUE(sameState(shown(), beforeSlider));
    EXPECT_EQ(widgets.revLimit->value(), 120);
    EXPECT_STREQ(widgets.pickup->value(), "36");
    EXPECT_TRUE(widgets.ignitionChart->damage() && widgets.valveChart->damage());
    EXPECT_EQ(widgets.ignitionChart->cursor, 70);
    EXPECT_EQ(widgets.ignitionChart->selectedMap, 1);
    Fl::focus(widgets.log);
    EXPECT_TRUE(sameState(shown(), beforeSlider));

    pressKey('z', FL_CTRL);
    EXPECT_TRUE(sameState(shown(), beforeStep));
    EXPECT_TRUE(widgets.pvsMap1->value() && !widgets.ignMap1->value());
    EXPECT_EQ(widgets.ignitionChart->selectedMap, -1);
    EXPECT_EQ(widgets.valveChart->selectedMap, 1);
    EXPECT_EQ(widgets.ignitionChart->cursor, 90);
    EXPECT_EQ(widgets.valveChart->cursor, 90);
    EXPECT_EQ(widgets.tabs->value(), widgets.deviceTab);
}

// Undo gives back the maps and options from before a load and before a
// read, and touches neither the unit nor the title.
TEST_F(UndoRedo, FileOpenAndDeviceReadAreEachAChange)
{
    sim::reset();
    sim::setVirtualTime(true);
    sim::block(30)[8] = 90;
    sim::block(30)[12] = 2;
    sim::block(30)[13] = 36;
    std::ofstream file(root / "tune.cdi");
    for (int k = 0; k < 640; ++k)
        file << (k < 320 ? "IG:" : "PV:") << k / 160 % 2 << '\t' << k % 160 << '\t' << k % 30 << '\n';
    file << "QS-RPM\t60\nQS_ONT\t2\nQS-CUT\t10\nQS-DIS\t80\nrev_limit\t110\nPulseType\t1\nPickupDeg\t70\n";
    file.close();

    const EditState before = shown();
    press(widgets.fileOpen);
    const EditState loaded = shown();
    ASSERT_EQ(cdiDevice.config.pickupDeg, 70);
    press(widgets.deviceRead);
    ASSERT_EQ(cdiDevice.config.revLimit, 90);
    const std::string title = widgets.window->label();
    const std::size_t requests = sim::requests().size();

    pressKey('z', FL_CTRL);
    EXPECT_TRUE(sameState(shown(), loaded));
    pressKey('z', FL_CTRL);
    EXPECT_TRUE(sameState(shown(), before));
    EXPECT_STREQ(widgets.pickup->value(), "36");
    EXPECT_EQ(widgets.revLimit->value(), 120);
    EXPECT_EQ(widgets.window->label(), title);
    EXPECT_EQ(sim::requests().size(), requests);
}
// Runs the event loop until the autosave is written anew, for at most `seconds`.
bool writtenWithin(double seconds)
{
    std::error_code error;
    const auto stamp = [&] { return fs::last_write_time(root / "autosaved.cdi", error); };
    const auto was = stamp();
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end && stamp() == was)
        Fl::wait(0.05);
    return stamp() != was;
}

// Written within 2 s of a change, 2 s apart, not for a change undone; a failed
// write asks nothing and is tried again at the next change.
TEST_F(UndoRedo, TheAutosaveFollowsTheChanges)
{
    BoxRecorder boxes;
    startAutosaveTimer(true);
    press(widgets.valueUp);
    pressKey('z', FL_CTRL);
    EXPECT_FALSE(writtenWithin(1.5)) << "nothing changed";
    press(widgets.valueUp);
    const std::string raised = mapLine("IG", 0, 80, ignitionTable.value(0, 80));
    EXPECT_TRUE(writtenWithin(2.5) && readFile(root / "autosaved.cdi").find(raised) != std::string::npos);
    press(widgets.valueUp);
    EXPECT_FALSE(writtenWithin(1.5)) << "two seconds after the last write at the soonest";
    EXPECT_TRUE(writtenWithin(1.5));

    // No place for it: folders at the temporary folder's and at the state folder's.
    fs::remove(root / "autosaved.cdi");
    fs::create_directories(root / "kvz-cdi/autosaved.cdi");
    fs::create_directory(root / "autosaved.cdi");
    press(widgets.valueUp);
    EXPECT_FALSE(writtenWithin(2.5));
    fs::remove(root / "autosaved.cdi");
    press(widgets.valueUp);
    EXPECT_TRUE(writtenWithin(2.5) && boxes.shown.empty());
}
}  // namespace
