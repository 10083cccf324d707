// The Table tab in the started window, worked with keys as from the X server;
// the engine's point and a compared tune on the charts as drawn.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Slider.H>
#include <FL/Fl_Tabs.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <regex>
#include <tuple>

#include "device_status.h"
#include "main_window.h"
#include "map_edits.h"
#include "map_file.h"
#include "map_grid.h"
#include "map_transfer.h"
#include "my_chart.h"
#include "platform_paths.h"
#include "ride_log_view.h"
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
        widgets.ignitionChart->cursor = widgets.valveChart->cursor = 80;
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
    for (const char c : std::string("28,5x"))
        pressKey(c, 0, std::string(1, c).c_str());
    pressKey(FL_Enter);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"beep"}) << "no number: the editor stays";
    EXPECT_STREQ(widgets.tableMessage->label(), "Not a number: \"28,5x\"");
    pressKey(FL_BackSpace, 0, "\b");
    pressKey(FL_Enter);
    EXPECT_EQ(ign(0, 60), 28.5);
    EXPECT_STREQ(widgets.tableMessage->label(), "") << "until the next change";
    for (int i = 1; i < 5; ++i) {
        EXPECT_NEAR(ign(0, 55 + i), v55 + i * (28.5 - v55) / 5, 1e-9);
        EXPECT_NEAR(ign(0, 60 + i), 28.5 + i * (v65 - 28.5) / 5, 1e-9);
    }
    EXPECT_EQ(widgets.ignitionChart->cursor, 65);
    EXPECT_TRUE(selected(12, 0, 12, 0)) << "Enter moves one row down, and the charts' cursor with it";

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
    testing::Values(OperationCase{'s', "12,5", {12.5, 12.5, 12.5, 12.5, 12.5}, 0},    // Set
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

    // One value fills the selection, a block that divides it repeats, another goes at its top-left.
    const std::tuple<const char*, int, double, double, int> fills[] = {
        {"22,5", 3, 22.5, 22.5, 3}, {"1\t2\n3\t4\n", 4, 1, 2, 4}, {"1\t2\n3\t4\n", 3, 1, ign(1, 65), 2}};
    for (const auto& [text, rows, topLeft, thirdRight, pastedRows] : fills) {
        const EditState before = edited();
        selectGridCells({10, 0, 9 + rows, 1});
        Fl::copy(text, static_cast<int>(std::strlen(text)), 1);
        pressKey('v', FL_CTRL);
        EXPECT_TRUE(ign(0, 55) == topLeft && ign(1, 65) == thirdRight && selected(10, 0, 9 + pastedRows, 1)) << text;
        pressKey('z', FL_CTRL);
        EXPECT_TRUE(sameState(edited(), before)) << text;
    }

    const EditState before = edited();
    selectGridCells({5, 1, 5, 1});
    const std::pair<std::string, const char*> refused[] = {
        {"1\n2\n3\tx1\r\n", "row 3, field 2 is not a number (\"x1\")"},
        {"7\0"s + std::string(99999, 'x'), "row 1, field 1 is not a number (\"7?xxxxxxxxxxxxxxxxxxxxxx...\")"},
        {"1,5.0", "row 1, field 1 is not a number (\"1,5.0\")"},
        {"4\n\n", "row 2, field 1 is not a number (\"\")"},
        {std::regex_replace(std::string(40, '\n'), std::regex("\n"), "1\n"),
         "40 rows from 3000 rpm run past 15500 rpm"},
        {"1\t2\t3\t4", "4 columns from IGN MAP1 run past PVS MAP1"}};
    for (const auto& [text, message] : refused) {
        Fl::copy(text.c_str(), static_cast<int>(text.size()), 1);
        pressKey('v', FL_CTRL);
        EXPECT_TRUE(sameState(edited(), before)) << text;
        EXPECT_EQ(widgets.tableMessage->label(), "Paste refused: "s + message);
    }
    EXPECT_EQ(boxes.shown, std::vector<std::string>(std::size(refused), "beep"));
    widgets.gridValue->value("abc");
    pressKey('s', FL_ALT, "s");
    EXPECT_STREQ(widgets.tableMessage->label(), "Not a number: \"abc\"");
}

// One cursor for the table and the charts; a run of nudge keys on the same
// cells is one change, which UP never grows.
TEST_F(TableTab, NudgesAndUpActOnTheOneCursor)
{
    selectGridCells({5, 1, 6, 2});  // IGN MAP1 and PVS MAP0 at 3000 and 3500 rpm
    const double ign30 = ign(1, 30), valve35 = valveTable.value(0, 35);
    const std::tuple<int, int, const char*, int> keys[] = {{']', 0, "]", 1}, {']', 0, "]", 2}, {']', 0, "]", 3},
        {'=', FL_SHIFT, "+", 4}, {FL_KP + '+', 0, "+", 5}, {FL_KP + '-', 0, "-", 4}, {'[', 0, "[", 3}};
    for (const auto& [key, state, text, steps] : keys) {
        pressKey(key, state, text);
        EXPECT_TRUE(std::abs(ign(1, 30) - ign30 - 0.1 * steps) < 1e-9 && valveTable.value(0, 35) == valve35 + steps);
    }
    widgets.tabs->value(widgets.mapTab);
    pressKey('l', 0, "l");  // UP: IGN MAP1 at 3000 rpm, the table's current cell
    EXPECT_NEAR(ign(1, 30), ign30 + 0.4, 1e-9);
    pressKey('z', FL_CTRL);
    EXPECT_NEAR(ign(1, 30), ign30 + 0.3, 1e-9);
    pressKey('z', FL_CTRL);
    EXPECT_NEAR(ign(1, 30), ign30, 1e-9);

    pressKey('.', 0, ".");  // the cursor right, then PVS MAP0
    pressKey('3', 0, "3");
    widgets.tabs->value(widgets.tableTab);
    EXPECT_TRUE(selected(6, 2, 6, 2)) << "where the Map tab left the cursor";
    pressKey('-', 0, "-");
    EXPECT_STREQ(widgets.mapGrid->editor->visible() ? widgets.mapGrid->editor->value() : "", "-");
    pressKey(FL_Escape, 0, "\x1b");
}

// The window as drawn with a tab shown; the charts with the Map tab.
std::vector<uchar> drawn(Fl_Group* tab)
{
    widgets.tabs->value(tab);
    tab->redraw();
    Fl::flush();
    widgets.window->make_current();
    std::vector<uchar> rgb(1028 * 600 * 3);
    fl_read_image(rgb.data(), 0, 0, 1028, 600);
    return rgb;
}
std::vector<uchar> drawnCharts() { return drawn(widgets.mapTab); }

// Pixels of one colour in a box of the drawn window, ends included.
int countColour(const std::vector<uchar>& rgb, Fl_Color colour, int x0, int y0, int x1, int y1)
{
    uchar rgbOf[3];
    Fl::get_color(colour, rgbOf[0], rgbOf[1], rgbOf[2]);
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            n += std::memcmp(&rgb[(y * 1028 + x) * 3], rgbOf, 3) == 0;
    return n;
}

// Pixels of a colour in a cell of the drawn Table tab.
int inCell(const std::vector<uchar>& rgb, Fl_Color colour, int row, int column)
{
    int x, y, w, h;
    widgets.mapGrid->find_cell(Fl_Table::CONTEXT_CELL, row, column, x, y, w, h);
    return countColour(rgb, colour, x + 1, y + 1, x + w - 2, y + h - 2);
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

    // Space: to the engine's row, on the ignition map the unit's switch selects.
    widgets.tabs->value(widgets.tableTab);
    pressKey(' ', 0, " ");
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"beep"}) << "no engine running";
    sim::status().mapSwitch = 1;
    tick(6000);
    pressKey(' ', 0, " ");
    EXPECT_TRUE(selected(11, 1, 11, 1) && widgets.ignMap1->value() && widgets.ignitionChart->cursor == 60);
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
    // A cell that differs from the tune is tinted, one that does not (the valve maps) is not.
    const std::vector<uchar> table = drawn(widgets.tableTab);
    EXPECT_TRUE(inCell(table, 0xFFE8A000, 0, 0) > 0 && inCell(table, 0xFFE8A000, 0, 2) == 0);

    writeFile(chosenPath, "IG:0\t000\tten\n");
    widgets.compareWith->do_callback();
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:Cannot open file or write data."});
    EXPECT_EQ(countColour(drawnCharts(), pink, 500, 275, 790, 275), 291);

    widgets.clearComparison->do_callback();
    EXPECT_EQ(countColour(drawnCharts(), pink, 500, 275, 790, 275), 0);
    EXPECT_FALSE(widgets.clearComparison->active());
}

// 30.0 from 12000 to 14000 rpm on IGN MAP0 is above what the unit can run
// there (25.7 down to 24.0 with pickup 36 and latency 570): orange in the
// table, counted under the buttons, and listed before a write is asked for.
TEST_F(TableTab, PointsTheUnitRunsDifferentlyAreShownCountedAndListedFirst)
{
    const Fl_Color orange = fl_rgb_color(200, 90, 0);
    std::fill_n(ignitionTable.points, MapTable::kRun, 10.0);
    std::fill_n(ignitionTable.points + 120, 21, 30.0);
    startEditHistory();
    EXPECT_STREQ(widgets.unitLimits->label(), "21 points run differently on the unit; Device Write lists them.");
    const std::vector<uchar> table = drawn(widgets.tableTab);  // 13000 rpm orange, 11500 rpm and map 1 not
    EXPECT_TRUE(inCell(table, orange, 25, 0) > 0 && inCell(table, orange, 22, 0) == 0 && !inCell(table, orange, 25, 1));

    const std::string listed = "choose:These points will run differently on the unit than the maps show:\n"
                               "IGN MAP0 12000-14000 rpm, largest at 14000 rpm: 30.0 runs as 24.0";
    const std::string question = "ask:Do you realy want write data to CDI?";
    boxes.answers = {0};  // Cancel
    captureStdout([] { widgets.deviceWrite->do_callback(); });
    EXPECT_EQ(boxes.shown, std::vector<std::string>{listed});
    boxes.answers = {1, 0};  // Write anyway, then No
    captureStdout([] { widgets.deviceWrite->do_callback(); });
    EXPECT_EQ(boxes.shown, (std::vector<std::string>{listed, listed, question}));
    EXPECT_TRUE(sim::requests().empty());

    // With one pulse a rotation 10.0 overflows at 100 rpm only: nothing to say.
    applyEnginePreset(1);
    std::fill_n(ignitionTable.points, MapTable::kRun, 10.0);
    startEditHistory();
    EXPECT_STREQ(widgets.unitLimits->label(), "");
    EXPECT_EQ(inCell(drawn(widgets.tableTab), orange, 25, 0), 0);
    boxes.answers = {0};
    captureStdout([] { widgets.deviceWrite->do_callback(); });
    EXPECT_EQ(boxes.shown, (std::vector<std::string>{listed, listed, question, question}));
    applyEnginePreset(2);
}

// Against the unit a cell is tinted where a write would change the unit:
// 10.05 goes as 10.0's word, 10.2 does not.
TEST_F(TableTab, ComparedWithTheUnitTintsWhatAWriteWouldChange)
{
    std::fill_n(ignitionTable.points, MapTable::kRun, 10.0);
    std::fill_n(valveTable.points, MapTable::kRun, 40.0);
    startEditHistory();
    captureStdout([] {
        const BlockSource source = tableBlocks(ignitionTable, valveTable, cdiDevice.config, timingReference(cdiDevice));
        for (int b = 0; b < kUnitBlocks; ++b)
            source(b, sim::block(b));
    });
    ignitionTable.points[60] = 10.2, ignitionTable.points[160 + 60] = 10.05;
    valveTable.points[90] = 40.9, valveTable.points[160 + 90] = 41.0;
    const EditState before = edited();

    captureStdout([] { widgets.compareWithUnit->do_callback(); });
    EXPECT_TRUE(sameState(edited(), before)) << "the maps and options stay as they were";
    EXPECT_TRUE(std::regex_match(widgets.comparisonName->label(),
                                 std::regex("Compared with the unit at [0-2][0-9]:[0-5][0-9]:[0-5][0-9]")));
    EXPECT_EQ(listFolder(folders->folder("XDG_DATA_HOME") / "kvz-cdi/backups").size(), 2u) << "a restore point";
    const std::vector<uchar> table = drawn(widgets.tableTab);
    const Fl_Color tint = 0xFFE8A000;  // 10.2 (6000 rpm) and 41 (9000) tinted; 10.05 and 40.9 (sent as 40) not
    EXPECT_TRUE(inCell(table, tint, 11, 0) && !inCell(table, tint, 11, 1) && !inCell(table, tint, 12, 0));
    EXPECT_TRUE(!inCell(table, tint, 17, 2) && inCell(table, tint, 17, 3));

    sim::faults().absent = true;  // a failed read keeps the comparison it had
    captureStdout([] { widgets.compareWithUnit->do_callback(); });
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:USB CDI not found."});
    EXPECT_GT(inCell(drawn(widgets.tableTab), tint, 11, 0), 0);
    widgets.clearComparison->do_callback();
}
// 60 samples a second apart at 6000 rpm on MAP0, then 31 at 9000 on MAP1:
// 60.0 s at 6000 (the last MAP0 sample counts its gap to the first MAP1
// one) and 30.0 at 9000 (the last sample counts none).
TEST_F(TableTab, ALoadedLogShowsWhereTheEngineRanAndReplaysASample)
{
    std::string text = "# kvz-cdi-cli 1.2.0, unit KVZ Electronics KVZ-CDI\ntime,rpm,valve_angle,map_switch,qs_switch\n";
    for (int i = 0; i < 91; ++i)
        text += "2024-05-01T09:" + std::to_string(30 + i / 60) + ":" + (i % 60 < 10 ? "0" : "") + std::to_string(i % 60)
                + (i < 60 ? ".000Z,6000,80,0,0\n" : ".000Z,9000,80,1,0\n");
    chosenPath = (folders->folder("TMPDIR") / "ride.csv").string();
    writeFile(chosenPath, text);
    const EditState before = edited();
    widgets.loadLog->do_callback();
    EXPECT_STREQ(widgets.logName->label(), "ride.csv: 1 min 30 s, 91 samples");
    for (int row = 0; row < kGridRows; ++row)
        for (int map = 0; map < 2; ++map)
            EXPECT_EQ(logCellText(row, map), row == 11 && map == 0 ? "60.0" : row == 17 && map == 1 ? "30.0" : "");
    selectGridCells({0, 3, 0, 3});
    const std::vector<uchar> table = drawn(widgets.tableTab);
    EXPECT_GT(inCell(table, fl_rgb_color(255, 200, 120), 11, 0), 0) << "the busiest cell";
    const Fl_Color half = fl_color_average(fl_rgb_color(255, 200, 120), FL_WHITE, 0.5f);
    EXPECT_GT(inCell(table, half, 17, 1), 0) << "half as long";
    EXPECT_GT(inCell(table, FL_WHITE, 17, 0), 0) << "no time, no tint";

    // Its columns take no selection, from the keys or the mouse, and no paste.
    pressKey(FL_Right, FL_SHIFT), pressKey(FL_Right);
    int x, y, w, h;
    widgets.mapGrid->col_position(kGridColumns);
    widgets.mapGrid->find_cell(Fl_Table::CONTEXT_CELL, 5, kGridColumns, x, y, w, h);
    Fl::e_x = x + 2, Fl::e_y = y + 2;
    widgets.mapGrid->handle(FL_PUSH), widgets.mapGrid->handle(FL_RELEASE);
    widgets.mapGrid->col_position(0);
    EXPECT_TRUE(selected(0, 3, 0, 3));
    Fl::copy("1\t2", 3, 1);
    pressKey('v', FL_CTRL);

    widgets.replay->value(65.0);
    widgets.replay->do_callback();
    const std::vector<uchar> charts = drawnCharts();
    for (int top : {60, 320})  // point 90 at X + 360, two pixels wide, full height
        EXPECT_EQ(countColour(charts, FL_DARK_BLUE, 520, top, 521, top + 249), 500);
    EXPECT_EQ(widgets.mapGrid->replayRow, 17);
    EXPECT_STREQ(widgets.tableMessage->label(), "+1:05.0 (09:31:05 UTC): 9000 rpm, valve angle 80, MAP1, QSSW OFF");

    // A word where a number goes (line 12 is the tenth sample) changes nothing.
    writeFile(chosenPath, std::regex_replace(text, std::regex("09:30:09.000Z,6000"), "09:30:09.000Z,fast"));
    widgets.loadLog->do_callback();
    EXPECT_STREQ(widgets.tableMessage->label(), "Log refused: line 12: not a number");
    EXPECT_STREQ(widgets.logName->label(), "ride.csv: 1 min 30 s, 91 samples");
    EXPECT_EQ(logCellText(11, 0), "60.0");
    EXPECT_EQ(boxes.shown, std::vector<std::string>(2, "beep")) << "the paste, then the refused log";
    EXPECT_TRUE(sameState(edited(), before));

    widgets.clearLog->do_callback();
    EXPECT_EQ(widgets.mapGrid->cols(), kGridColumns);
    EXPECT_EQ(widgets.ignitionChart->replayPoint, -1);
    EXPECT_FALSE(widgets.replay->active());
}

// Three seconds of recording make 5 to 7 rows, one a reply shown; a tick
// without a reply makes none. The file is private, in a private folder,
// under the first free name, and the window's loader takes it.
TEST_F(TableTab, RecordWritesTheRepliesShownAsALogTheWindowLoads)
{
    const std::filesystem::path logs = folders->folder("XDG_DATA_HOME") / "kvz-cdi" / "logs";
    std::filesystem::create_directories(logs);
    for (const std::time_t t : {std::time(nullptr), std::time(nullptr) + 1}) {
        const std::tm utc = utcTime(t);
        char name[32];
        std::strftime(name, sizeof name, "%Y%m%d-%H%M%S.csv", &utc);
        writeFile(logs / name, "");
    }
    widgets.tabs->value(widgets.deviceTab);
    pressKey('r', 0, "r");
    EXPECT_FALSE(widgets.record->value()) << "the bare letter";
    pressKey('r', FL_ALT, "r");
    ASSERT_TRUE(widgets.record->value());
    sim::status().rpm = 6000;
    Fl::add_timeout(0.5, pollStatus);
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
         std::chrono::steady_clock::now() < end;)
        Fl::wait(0.05);
    Fl::remove_timeout(pollStatus);
    const std::string log = widgets.log->value();
    const std::string path = log.substr(log.rfind("Recording to ") + 13, log.size() - log.rfind("Recording to ") - 14);
    const std::size_t rows = splitLines(readFile(path)).size() - 2;
    sim::faults().statusNoReply = true;
    pollStatus(nullptr);
    pressKey('r', FL_ALT, "r");
    EXPECT_FALSE(widgets.record->value());
    EXPECT_TRUE(std::regex_match(path, std::regex(".*/logs/20[0-9]{6}-[0-9]{6}-2\\.csv")));
    EXPECT_EQ(splitLines(readFile(path)).size() - 2, rows) << "no row without a reply";
    EXPECT_TRUE(rows >= 5 && rows <= 7) << rows;
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0600));
    EXPECT_EQ(std::filesystem::status(logs).permissions(), std::filesystem::perms(0700));
    EXPECT_NE(std::string(widgets.log->value()).find("Recorded " + path + ", " + std::to_string(rows) + " rows."),
              std::string::npos);

    chosenPath = path;
    widgets.tabs->value(widgets.tableTab);
    widgets.loadLog->do_callback();
    EXPECT_EQ(asked, "Load a ride log in " + logs.string() + "/");
    EXPECT_TRUE(std::regex_match(widgets.logName->label(), std::regex(".*, " + std::to_string(rows) + " samples")));
    widgets.clearLog->do_callback();
    sim::advanceMs(kLateReplyMs);
    pollStatus(nullptr);  // lets go of the lock kept for the reply that never came
    Fl::remove_timeout(pollStatus);
}
}  // namespace
