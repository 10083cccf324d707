// Map editing through the real widgets: map selection, cursor moves, value
// steps with their clamps, and the re-interpolation around the cursor.
#include <gtest/gtest.h>

#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Repeat_Button.H>
#include <FL/Fl_Window.H>

#include <initializer_list>
#include <utility>

#include "main_window.h"
#include "map_editing.h"
#include "map_table.h"
#include "my_chart.h"
#include "support.h"

namespace {

class MapEditing : public ::testing::Test {
protected:
    Fl_Window* window = nullptr;
    MyChart* ign = nullptr;
    MyChart* pvs = nullptr;

    // The window as the builder makes it, its charts wired as start-up
    // wires them.
    void SetUp() override
    {
        resetMapData();
        window = buildMainWindow();
        ign = widgets.ignitionChart;
        pvs = widgets.valveChart;
        wireCharts(*ign, *pvs);
        widgets.ignMap0->value(1);
        ign->selectedMap = 0;
    }

    void TearDown() override
    {
        delete window;
        widgets = Widgets{};
    }

    // What the toolkit does when the user presses a map button.
    static void select(Fl_Light_Button* b)
    {
        b->setonly();
        b->do_callback();
    }

    static void press(Fl_Widget* b, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            b->do_callback();
    }

    // The cursor's point of ignition map 0, on the chart's top edge, stays
    // there when stepped up; on the bottom edge, when stepped down.
    static void expectIgnitionStepsHeldAtTheChartEnds()
    {
        ignitionTable.points[80] = 35.0;
        press(widgets.valueUp);
        EXPECT_EQ(ignitionTable.value(0, 80), 35.0);
        ignitionTable.points[80] = 0.0;
        press(widgets.valueDown);
        EXPECT_EQ(ignitionTable.value(0, 80), 0.0);
    }
};

// A table with a distinct value at every point, to see what moved.
void pattern(MapTable& t, double scale)
{
    for (int k = 0; k < int(MapTable::kRun); ++k)
        t.points[k] = scale * ((k * 7) % 31) / 31.0;
}

// Each listed point of ignition map 0 holds exactly its value.
void expectIgnitionPoints(std::initializer_list<std::pair<int, double>> points)
{
    for (const auto& [index, value] : points)
        EXPECT_EQ(ignitionTable.value(0, index), value) << "point " << index;
}

TEST_F(MapEditing, SpreadWorkedExample)
{
    pattern(ignitionTable, 30.0);
    ignitionTable.points[75] = 20.0;
    ignitionTable.points[80] = 25.0;
    ignitionTable.points[85] = 22.0;
    const MapTable before = ignitionTable;

    ign->spread(80);

    const double left[] = {21.0, 22.0, 23.0, 24.0};
    const double right[] = {24.4, 23.799999999999997, 23.199999999999996, 22.599999999999994};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ignitionTable.value(0, 76 + i), left[i]) << 76 + i;
        EXPECT_EQ(ignitionTable.value(0, 81 + i), right[i]) << 81 + i;
    }
    for (int k = 0; k < int(MapTable::kRun); ++k) {
        if (!(k >= 76 && k <= 79) && !(k >= 81 && k <= 84)) {
            EXPECT_EQ(ignitionTable.points[k], before.points[k]) << k;
        }
    }
}

// Each point is its neighbour as just stored plus d, not p - s plus k x d.
TEST_F(MapEditing, SpreadStepsFromTheStoredNeighbour)
{
    ignitionTable.points[75] = 25.0;
    ignitionTable.points[80] = 22.0;
    ignitionTable.points[85] = 27.0;
    ign->spread(80);
    expectIgnitionPoints({{76, 24.4}, {77, 23.799999999999997}, {78, 23.199999999999996},
                          {79, 22.599999999999994}, {81, 23.0}, {84, 26.0}});
}

TEST_F(MapEditing, SpreadAtBothEnds)
{
    ign->selectedMap = 1;
    pattern(ignitionTable, 30.0);
    ignitionTable.points[160 + 5] = 12.0;
    ignitionTable.points[160 + 10] = 14.0;
    ign->spread(5);
    for (int i = 0; i <= 5; ++i)
        EXPECT_EQ(ignitionTable.value(1, i), 12.0) << i;
    for (int i = 6; i <= 9; ++i)
        EXPECT_NEAR(ignitionTable.value(1, i), 12.0 + 0.4 * (i - 5), 1e-12) << i;
    EXPECT_EQ(ignitionTable.value(1, 10), 14.0);

    const MapTable before = ignitionTable;
    ignitionTable.points[160 + 150] = 10.0;
    ignitionTable.points[160 + 155] = 5.0;
    ign->spread(155);
    for (int i = 151; i <= 154; ++i)
        EXPECT_NEAR(ignitionTable.value(1, i), 10.0 - (i - 150), 1e-12) << i;
    for (int i = 155; i <= 159; ++i)
        EXPECT_EQ(ignitionTable.value(1, i), 5.0) << i;
    EXPECT_EQ(ignitionTable.value(1, 150), 10.0);
    for (int i = 0; i < 160; ++i)
        EXPECT_EQ(ignitionTable.value(0, i), before.value(0, i)) << "map 0 point " << i;
    for (int i = 11; i < 150; ++i)
        EXPECT_EQ(ignitionTable.value(1, i), before.value(1, i)) << i;
}

TEST_F(MapEditing, SpreadClampsEveryStore)
{
    // As a device read can leave it: the right-hand fill re-stores point p.
    ignitionTable.points[150] = 30.0;
    ignitionTable.points[155] = 40.0;
    ign->spread(155);
    for (int i = 155; i <= 159; ++i)
        EXPECT_EQ(ignitionTable.value(0, i), 35.0) << i;
    // 30 + (40 - 30) / 5 per point, held at 35 once it gets there.
    expectIgnitionPoints({{151, 32.0}, {152, 34.0}, {153, 35.0}, {154, 35.0}});
}

TEST_F(MapEditing, SpreadWithoutSelectionChangesNothing)
{
    pattern(valveTable, 160.0);
    const MapTable before = valveTable;
    pvs->spread(80);
    pvs->spread(5);
    pvs->spread(155);
    for (int k = 0; k < int(MapTable::kRun); ++k)
        EXPECT_EQ(valveTable.points[k], before.points[k]) << k;
}

TEST_F(MapEditing, MapSelection)
{
    struct Case {
        Fl_Light_Button* button;
        int ign, pvs;
    };
    const Case cases[] = {
        {widgets.ignMap1, 1, -1},
        {widgets.pvsMap0, -1, 0},
        {widgets.pvsMap1, -1, 1},
        {widgets.ignMap0, 0, -1},
    };
    for (const Case& c : cases) {
        clearChartDamage();
        select(c.button);
        EXPECT_EQ(ign->selectedMap, c.ign) << c.button->label();
        EXPECT_EQ(pvs->selectedMap, c.pvs) << c.button->label();
        EXPECT_TRUE(chartsRedrawn()) << c.button->label();
    }

    // The radio group keeps one button on; were two on, the later one wins
    // within its chart.
    widgets.ignMap0->value(1);
    widgets.ignMap1->value(1);
    widgets.pvsMap0->value(1);
    widgets.pvsMap1->value(1);
    onMapSelect(nullptr, nullptr);
    EXPECT_EQ(ign->selectedMap, 1);
    EXPECT_EQ(pvs->selectedMap, 1);

    for (Fl_Light_Button* b : {widgets.ignMap0, widgets.ignMap1, widgets.pvsMap0, widgets.pvsMap1})
        b->value(0);
    onMapSelect(nullptr, nullptr);
    EXPECT_EQ(ign->selectedMap, -1);
    EXPECT_EQ(pvs->selectedMap, -1);
}

TEST_F(MapEditing, ValueStepsClampToTheChartRange)
{
    expectIgnitionStepsHeldAtTheChartEnds();

    select(widgets.pvsMap0);
    valveTable.points[80] = 159.5;
    press(widgets.valueUp);
    EXPECT_EQ(valveTable.value(0, 80), 160.0);
    press(widgets.valueDown);
    EXPECT_EQ(valveTable.value(0, 80), 159.0);
}

// The chart's range applies before the table's clamps; wider table clamps
// show it.
TEST_F(MapEditing, ChartRangeComesBeforeTheTableClamps)
{
    ignitionTable.lowerClamp = -10;
    ignitionTable.upperClamp = 50;
    expectIgnitionStepsHeldAtTheChartEnds();
}

TEST_F(MapEditing, OutOfRangePointsArePulledInByOneStep)
{
    ignitionTable.points[80] = -3.0;
    press(widgets.valueUp);
    EXPECT_EQ(ignitionTable.value(0, 80), 0.0);

    select(widgets.pvsMap1);
    valveTable.points[160 + 80] = 255.0;
    press(widgets.valueUp);
    EXPECT_EQ(valveTable.value(1, 80), 160.0);
    valveTable.points[160 + 80] = 255.0;
    press(widgets.valueDown);
    EXPECT_EQ(valveTable.value(1, 80), 160.0);
}

TEST_F(MapEditing, TenthsAreNeverSnapped)
{
    press(widgets.valueUp, 8);
    const double v = ignitionTable.value(0, 80);
    EXPECT_LT(v, 0.8);
    EXPECT_GT(v, 0.8 - 1e-9);
    press(widgets.valueUp, 2);
    EXPECT_LT(ignitionTable.value(0, 80), 1.0);
    EXPECT_GT(ignitionTable.value(0, 80), 1.0 - 1e-9);
}

TEST_F(MapEditing, ValueStepSpreadsTheNeighbours)
{
    ignitionTable.points[75] = 10.0;
    ignitionTable.points[80] = 12.0;
    ignitionTable.points[85] = 10.0;
    press(widgets.valueDown, 10);  // point 80 goes to about 11.0
    EXPECT_NEAR(ignitionTable.value(0, 80), 11.0, 1e-9);
    EXPECT_NEAR(ignitionTable.value(0, 78), 10.6, 1e-9);
    EXPECT_NEAR(ignitionTable.value(0, 82), 10.6, 1e-9);
    expectIgnitionPoints({{75, 10.0}, {85, 10.0}, {74, 0.0}, {86, 0.0}});
}

TEST_F(MapEditing, OnlyTheSelectedMapChanges)
{
    pattern(ignitionTable, 35.0);
    pattern(valveTable, 160.0);
    const MapTable ignBefore = ignitionTable;
    const MapTable pvsBefore = valveTable;
    select(widgets.pvsMap1);

    clearChartDamage();
    press(widgets.valueUp);
    EXPECT_TRUE(chartsRedrawn());

    EXPECT_EQ(valveTable.value(1, 80), pvsBefore.value(1, 80) + 1.0);
    for (int k = 0; k < int(MapTable::kRun); ++k)
        EXPECT_EQ(ignitionTable.points[k], ignBefore.points[k]) << k;
    for (int i = 0; i < 160; ++i)
        EXPECT_EQ(valveTable.value(0, i), pvsBefore.value(0, i)) << i;
    for (int i = 0; i < 160; ++i) {
        if (i > 75 && i < 85) {
            EXPECT_NE(valveTable.value(1, i), pvsBefore.value(1, i)) << i;
        } else {
            EXPECT_EQ(valveTable.value(1, i), pvsBefore.value(1, i)) << i;
        }
    }
}

TEST_F(MapEditing, ValveIsSpreadAtTheIgnitionCursor)
{
    select(widgets.pvsMap0);
    ign->cursor = 40;  // the cursors always move together; should they not,
    pvs->cursor = 80;  // the ignition chart's cursor decides the spread
    valveTable.points[35] = 100.0;
    valveTable.points[40] = 100.0;
    valveTable.points[45] = 100.0;
    valveTable.points[42] = 50.0;
    press(widgets.valueUp);
    EXPECT_EQ(valveTable.value(0, 80), 1.0);
    EXPECT_EQ(valveTable.value(0, 42), 100.0);
    EXPECT_EQ(valveTable.value(0, 81), 0.0);
}

TEST_F(MapEditing, CursorMovesInLockstepAndStopsAtTheEnds)
{
    for (int n = 1; n <= 15; ++n) {
        press(widgets.cursorLeft);
        EXPECT_EQ(ign->cursor, 80 - 5 * n);
        EXPECT_EQ(pvs->cursor, ign->cursor);
    }
    clearChartDamage();
    press(widgets.cursorLeft);
    EXPECT_EQ(ign->cursor, 5);
    EXPECT_EQ(pvs->cursor, 5);
    EXPECT_TRUE(chartsRedrawn());

    press(widgets.cursorRight, 30);
    EXPECT_EQ(ign->cursor, 155);
    EXPECT_EQ(pvs->cursor, 155);
    clearChartDamage();
    press(widgets.cursorRight);
    EXPECT_EQ(ign->cursor, 155);
    EXPECT_EQ(pvs->cursor, 155);
    EXPECT_TRUE(chartsRedrawn());

    // Each chart is checked on its own: 1 and 159 are still reachable.
    ign->cursor = 6;
    pvs->cursor = 154;
    press(widgets.cursorLeft);
    EXPECT_EQ(ign->cursor, 1);
    EXPECT_EQ(pvs->cursor, 149);
    ign->cursor = 154;
    press(widgets.cursorRight);
    EXPECT_EQ(ign->cursor, 159);
    EXPECT_EQ(pvs->cursor, 154);
}

TEST_F(MapEditing, EditsAtTheCursorEnds)
{
    ignitionTable.points[5] = 10.0;
    ignitionTable.points[10] = 20.0;
    press(widgets.cursorLeft, 15);
    press(widgets.valueUp);
    for (int i = 0; i <= 4; ++i)
        EXPECT_EQ(ignitionTable.value(0, i), ignitionTable.value(0, 5)) << i;
    EXPECT_NEAR(ignitionTable.value(0, 5), 10.1, 1e-12);
    EXPECT_NEAR(ignitionTable.value(0, 7), 10.1 + 2 * (20.0 - 10.1) / 5, 1e-12);
}

}  // namespace
