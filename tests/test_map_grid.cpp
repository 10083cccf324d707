// The Table tab in the started window, worked with keys as from the X server;
// the engine's point and a compared tune on the charts as drawn.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "device_status.h"
#include "main_window.h"
#include "map_file.h"
#include "map_grid.h"
#include "my_chart.h"
#include "sim_unit.h"
#include "startup.h"
#include "status_poll.h"
#include "support.h"
#include "toolkit_dialogs.h"
#include "undo_redo.h"

namespace {

using namespace std::string_literals;
TemporaryXdgFolders* folders;
std::string chosenPath, asked;  // the file the chooser picks; its title and folder

class StartedWindow : public testing::Environment {
    void SetUp() override
    {
        folders = new TemporaryXdgFolders;
        static char program[] = "kvz-cdi", *argv[] = {program, nullptr};
        startApplication(1, argv)->wait_for_expose();
        Fl::remove_timeout(pollStatus);
        chooseFile = [](const FileChooserRequest& request, std::string& path) {
            asked = std::string(request.title) + " in " + (request.directory ? request.directory : "");
            path = chosenPath;
            return 0;
        };
    }
    void TearDown() override { delete folders; }
};
[[maybe_unused]] const auto* const environment = testing::AddGlobalTestEnvironment(new StartedWindow);

double ign(int map, int point) { return ignitionTable.value(map, point); }

bool selected(int top, int left, int bottom, int right)
{
    const CellBlock c = gridSelection();
    return std::tie(c.top, c.left, c.bottom, c.right) == std::tie(top, left, bottom, right);
}

EditState edited() { return captureState(ignitionTable, valveTable, cdiDevice); }

class TableTab : public testing::Test {
protected:
    void SetUp() override
    {
        resetUnitOnVirtualTime();
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
            ignitionTable.points[k] = 20.0 + k % 7;
            valveTable.points[k] = k % 160;
        }
        widgets.ignMap0->setonly();
        widgets.ignMap0->do_callback();
        widgets.tabs->value(widgets.mapTab);
        widgets.tabs->value(widgets.tableTab);
        startEditHistory();
    }
    BoxRecorder boxes;
};

TEST_F(TableTab, TypedValueActsAsUpAtItsRowAndUndoesWithTheSelection)
{
    EXPECT_TRUE(selected(15, 0, 15, 0)) << "the cursor's row, in the column of the map that is on";
    for (int i = 0; i < 4; ++i)
        pressKey(FL_Up);  // 6000 rpm
    const EditState before = edited();
    const double v55 = ign(0, 55), v65 = ign(0, 65);
    for (const char c : std::string("28.5x"))
        pressKey(c, 0, std::string(1, c).c_str());
    pressKey(FL_Enter);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"beep"}) << "no number: the editor stays";
    pressKey(FL_BackSpace, 0, "\b");
    pressKey(FL_Enter);
    EXPECT_EQ(ign(0, 60), 28.5);
    for (int i = 1; i < 5; ++i) {
        EXPECT_NEAR(ign(0, 55 + i), v55 + i * (28.5 - v55) / 5, 1e-9);
        EXPECT_NEAR(ign(0, 60 + i), 28.5 + i * (v65 - 28.5) / 5, 1e-9);
    }
    EXPECT_EQ(widgets.ignitionChart->cursor, 80);
    EXPECT_TRUE(selected(12, 0, 12, 0)) << "Enter moves one row down";

    widgets.gridValue->value("1");  // for a Set that must not run
    pressKey('7', 0, "7");
    pressKey(FL_Escape, 0, "\x1b");  // drops the typing and nothing else
    EXPECT_FALSE(widgets.mapGrid->editor->visible());
    pressKey('s', 0, "s");  // a letter beeps; the bare letter of "&Set" does not press it
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(ign(0, 65), v65);
    widgets.gridValue->take_focus();  // a click where the hidden editor lies takes it back
    Fl::e_x = widgets.mapGrid->editor->x() + 1, Fl::e_y = widgets.mapGrid->editor->y() + 1;
    widgets.mapGrid->handle(FL_PUSH);
    EXPECT_EQ(Fl::focus(), widgets.mapGrid);

    pressKey('z', FL_CTRL);
    EXPECT_TRUE(sameState(edited(), before));
    EXPECT_TRUE(selected(11, 0, 11, 0));
}

struct OperationCase {
    int key;            // with Alt
    const char* value;  // in the Value field
    double expected[5];  // grid points 30, 35, 40, 45, 50 of the map given
    int map;
    int column = 0;  // the one selected, rows 5 to 9
};

class TableOperations : public TableTab, public testing::WithParamInterface<OperationCase> {};

TEST_P(TableOperations, GiveTheirPointsAndUndoWhole)
{
    const OperationCase& op = GetParam();
    for (const auto& [p, v] : {std::pair{30, 10.0}, {35, 13.0}, {40, 19.0}, {45, 11.0}, {50, 20.0}})
        ignitionTable.points[p] = v;
    startEditHistory();
    const EditState before = edited();
    selectGridCells({5, op.column, 9, op.column});  // 3000 to 5000 rpm of IGN MAP0 (or MAP1)
    widgets.gridValue->value(op.value);

    pressKey(op.key, FL_ALT, std::string(1, char(op.key)).c_str());
    for (int i = 0; i < 5; ++i)
        EXPECT_NEAR(ign(op.map, 30 + 5 * i), op.expected[i], 1e-9) << "point " << 30 + 5 * i;
    for (int p = 30; op.map == 1 && p <= 50; ++p)
        EXPECT_EQ(ign(1, p), ign(0, p)) << "point " << p;

    pressKey(FL_Down);
    pressKey('z', FL_CTRL);
    EXPECT_TRUE(sameState(edited(), before));
    EXPECT_TRUE(selected(5, op.column, 9, op.column));
}

INSTANTIATE_TEST_SUITE_P(
    Each, TableOperations,
    testing::Values(OperationCase{'s', "12.5", {12.5, 12.5, 12.5, 12.5, 12.5}, 0},    // Set
                    OperationCase{'a', "-2", {8.0, 11.0, 17.0, 9.0, 18.0}, 0},        // Add
                    OperationCase{'c', "110", {11.0, 14.3, 20.9, 12.1, 22.0}, 0},     // Scale %
                    OperationCase{'i', "", {10.0, 12.5, 15.0, 17.5, 20.0}, 0},        // Interpolate
                    OperationCase{'h', "", {10.0, 14.0, 43.0 / 3, 50.0 / 3, 20.0}, 0},  // Smooth
                    OperationCase{'0', "", {10.0, 13.0, 19.0, 11.0, 20.0}, 1},        // Copy map 0 to 1
                    OperationCase{'0', "", {10.0, 13.0, 19.0, 11.0, 20.0}, 1, 1}));   // from map 1's column

TEST_F(TableTab, CopyThenPasteGivesTheSameValuesAndABadPasteChangesNothing)
{
    selectGridCells({5, 0, 9, 0});
    pressKey('c', FL_CTRL);
    selectGridCells({5, 3, 5, 3});
    widgets.window->Fl_Widget::hide(), widgets.window->Fl_Widget::show();  // iconified, restored
    pressKey('v', FL_CTRL);
    for (int p = 30; p <= 50; p += 5)
        EXPECT_EQ(valveTable.value(1, p), ign(0, p));
    pressKey('z', FL_CTRL);
    EXPECT_TRUE(selected(5, 3, 5, 3));
    // CR LF lines, the last on the 15,500 rpm row.
    Fl::copy("7\r\n8\r\n", 6, 1);
    selectGridCells({29, 2, 29, 2});
    pressKey('v', FL_CTRL);
    EXPECT_TRUE(valveTable.value(0, 150) == 7.0 && valveTable.value(0, 155) == 8.0);

    const EditState before = edited();
    for (const std::string& text : {"1\r\nabc\r\n"s, "4\n\n"s, "5\t6\t7\t8\t9\n"s, "7\0x"s}) {
        Fl::copy(text.c_str(), static_cast<int>(text.size()), 1);
        pressKey('v', FL_CTRL);
        EXPECT_TRUE(sameState(edited(), before)) << text;
    }
    EXPECT_EQ(boxes.shown, std::vector<std::string>(4, "beep"));
}

// The charts as drawn in the window, the Map tab shown.
std::vector<uchar> drawnCharts()
{
    widgets.tabs->value(widgets.mapTab);
    widgets.mapTab->redraw();
    Fl::flush();
    widgets.window->make_current();
    std::vector<uchar> rgb(640 * 510 * 3);
    fl_read_image(rgb.data(), 160, 60, 640, 510);
    return rgb;
}

// Pixels of one colour in a box of the drawn charts, window coordinates.
int countColour(const std::vector<uchar>& rgb, Fl_Color colour, int x0, int y0, int x1, int y1)
{
    uchar rgbOf[3];
    Fl::get_color(colour, rgbOf[0], rgbOf[1], rgbOf[2]);
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            n += std::memcmp(&rgb[((y - 60) * 640 + (x - 160)) * 3], rgbOf, 3) == 0;
    return n;
}

TEST_F(TableTab, EnginePointStandsAtItsSpeedAndIdleTicksRedrawNothing)
{
    auto tick = [](int rpm) {
        sim::status().rpm = rpm;
        pollStatus(nullptr);
        Fl::remove_timeout(pollStatus);
    };
    const std::vector<uchar> plain = drawnCharts();  // no tick yet: nothing of the engine
    tick(0);
    EXPECT_TRUE(drawnCharts() == plain);
    tick(6000);
    const std::vector<uchar> running = drawnCharts();
    for (int y : {60, 320})  // point 60 at X + 240, two pixels wide, full height
        EXPECT_EQ(countColour(running, FL_DARK_GREEN, 400, y, 401, y + 249), 500);
    EXPECT_EQ(widgets.mapGrid->engineRow, 11);
    clearChartDamage();
    widgets.mapGrid->clear_damage();
    tick(6000);
    EXPECT_TRUE(chartsUntouched());
    EXPECT_EQ(widgets.mapGrid->damage(), 0);
    tick(6400);
    EXPECT_EQ(widgets.mapGrid->engineRow, 12) << "the nearest row, 6500 rpm";
    tick(0);
    EXPECT_EQ(widgets.mapGrid->engineRow, -1);
    EXPECT_TRUE(drawnCharts() == plain);
}

TEST_F(TableTab, ComparedTuneIsDrawnAndARefusedFileKeepsIt)
{
    MapTable known = ignitionTable;
    std::fill_n(known.points, 160, 5.0);       // map 0
    std::fill_n(known.points + 160, 160, 10.0);  // map 1
    chosenPath = (folders->folder("TMPDIR") / "known.cdi").string();
    ASSERT_TRUE(saveMapFileAt(chosenPath.c_str(), known, valveTable, cdiDevice.config));
    const std::filesystem::path backups = folders->folder("XDG_DATA_HOME") / "kvz-cdi/backups/";
    std::filesystem::create_directories(backups);
    widgets.compareWith->do_callback();
    EXPECT_EQ(asked, "Compare with CDI data in " + backups.string());
    // 5.0 lies 35 px above the bottom, right of the read-out and the cursor.
    const Fl_Color pink = fl_rgb_color(255, 160, 160);
    const std::vector<uchar> compared = drawnCharts();
    EXPECT_EQ(countColour(compared, pink, 500, 275, 790, 275), 291);
    EXPECT_EQ(countColour(compared, fl_rgb_color(160, 160, 255), 500, 239, 790, 239), 291) << "map 1, 10.0";
    EXPECT_STREQ(widgets.comparisonName->label(), "Compared with known.cdi");
    // On the Table tab, a cell that differs from the tune is tinted, one
    // that does not (the valve maps) is not.
    widgets.tabs->value(widgets.tableTab);
    widgets.window->redraw(), Fl::flush(), widgets.window->make_current();
    for (const auto& [column, fill] : {std::pair{0, Fl_Color(0xFFE8A000)}, {2, FL_WHITE}}) {
        int x, y, w, h;
        uchar rgb[3], want[3];
        widgets.mapGrid->find_cell(Fl_Table::CONTEXT_CELL, 0, column, x, y, w, h);
        fl_read_image(rgb, x + 2, y + 2, 1, 1);
        Fl::get_color(fill, want[0], want[1], want[2]);
        EXPECT_EQ(std::memcmp(rgb, want, 3), 0) << "column " << column;
    }

    writeFile(chosenPath, "IG:0\t000\tten\n");
    widgets.compareWith->do_callback();
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:Cannot open file or write data."});
    EXPECT_EQ(countColour(drawnCharts(), pink, 500, 275, 790, 275), 291);

    widgets.clearComparison->do_callback();
    EXPECT_EQ(countColour(drawnCharts(), pink, 500, 275, 790, 275), 0);
    EXPECT_FALSE(widgets.clearComparison->active());
}
}  // namespace
