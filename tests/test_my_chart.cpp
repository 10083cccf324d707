// The map chart drawn for real: the two charts at their window positions are
// rendered and their pixels read back and checked against the drawing rules.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/fl_draw.H>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

#include "cdi_device.h"
#include "map_table.h"
#include "my_chart.h"
#include "support.h"

namespace {

constexpr int kWinW = 820;
constexpr int kWinH = 600;

// One read-back of the whole window.
struct Capture {
    std::vector<uchar> rgb = std::vector<uchar>(kWinW * kWinH * 3);

    bool is(int x, int y, Fl_Color c) const
    {
        uchar r, g, b;
        Fl::get_color(c, r, g, b);
        const uchar* p = &rgb[(y * kWinW + x) * 3];
        return p[0] == r && p[1] == g && p[2] == b;
    }
    // Pixels of the colour in a box, a row or a column, ends included.
    int countBox(int x0, int y0, int x1, int y1, Fl_Color c) const
    {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                n += is(x, y, c);
        return n;
    }
    int countRow(int y, int x0, int x1, Fl_Color c) const { return countBox(x0, y, x1, y, c); }
    int countColumn(int x, int y0, int y1, Fl_Color c) const { return countBox(x, y0, x, y1, c); }
};

class ChartDrawing : public ::testing::Test {
protected:
    static Fl_Double_Window* window;
    static MyChart* ign;
    static MyChart* pvs;

    static void SetUpTestSuite()
    {
        window = new Fl_Double_Window(kWinW, kWinH);
        ign = new MyChart(160, 60, 640, 250, "Ignition");
        pvs = new MyChart(160, 320, 640, 250, "pvs");
        window->end();
        wireCharts(*ign, *pvs);
        window->show();
        window->wait_for_expose();
        Fl::flush();
    }

    static void TearDownTestSuite()
    {
        window->hide();
        delete window;
    }

    void SetUp() override
    {
        resetMapData();
        wireCharts(*ign, *pvs);
    }

    static void fill(MapTable& t, int map, double v)
    {
        for (int i = 0; i < 160; ++i)
            t.points[map * 160 + i] = v;
    }

    static Capture render()
    {
        ign->redraw();
        pvs->redraw();
        Fl::flush();
        window->make_current();
        Capture c;
        fl_read_image(c.rgb.data(), 0, 0, kWinW, kWinH);
        return c;
    }
};

Fl_Double_Window* ChartDrawing::window = nullptr;
MyChart* ChartDrawing::ign = nullptr;
MyChart* ChartDrawing::pvs = nullptr;

// A width-2 line at coordinate c covers pixels c - 1 and c.
std::set<int> gridColumns(const MyChart* c)
{
    std::set<int> cols;
    for (int g = 0; g <= 32; ++g) {
        cols.insert(c->x() + 20 * g);
        cols.insert(c->x() + 20 * g - 1);
    }
    return cols;
}

std::set<int> gridRows(const MyChart* c, std::vector<int> above)
{
    std::set<int> rows;
    for (int k : above) {
        rows.insert(c->y() + c->h() - k);
        rows.insert(c->y() + c->h() - k - 1);
    }
    return rows;
}

// Every chart shows the same vertical grid; only the horizontal lines differ.
void checkGrid(const Capture& cap, const MyChart* c, const std::vector<int>& above)
{
    const int X = c->x(), Y = c->y(), W = c->w(), H = c->h();
    const std::set<int> cols = gridColumns(c);
    const std::set<int> rows = gridRows(c, above);

    // Rows checked for vertical lines: everything but the horizontal lines,
    // the bottom row (the maps lie there) and the label's corner.
    for (int x = X; x < X + W; ++x) {
        int dots = 0;
        for (int y = Y; y < Y + H - 20; ++y)
            if (!rows.count(y))
                dots += cap.is(x, y, FL_DARK3);
        if (cols.count(x))
            EXPECT_GE(dots, 50) << "vertical grid line missing at column " << x;
        else
            EXPECT_EQ(dots, 0) << "grid colour off the grid at column " << x;
    }
    for (int y = Y; y < Y + H - 1; ++y) {
        int dots = 0;
        for (int x = X; x < X + W; ++x)
            if (!cols.count(x))
                dots += cap.is(x, y, FL_DARK3);
        if (rows.count(y))
            EXPECT_GE(dots, 100) << "horizontal grid line missing at row " << y;
        else
            EXPECT_EQ(dots, 0) << "grid colour off the grid at row " << y;
    }
    // Bands of five points, shaded where (g / 5) is odd.
    for (int g = 0; g < 32; ++g) {
        const Fl_Color band = (g / 5) % 2 ? FL_DARK1 : FL_WHITE;
        const int x = X + 20 * g + 10;
        const int y = Y + H / 2 + 10;
        EXPECT_TRUE(cap.is(x, y, band)) << "band " << g;
    }
}

// The cursor stands between grid lines here: at point 80 it would cover
// the grid line at X + 320 dot for dot.
TEST_F(ChartDrawing, IgnitionGridBandsAndHorizontalLines)
{
    ign->cursor = 83;
    const Capture cap = render();
    checkGrid(cap, ign, {35, 71, 107, 142, 178, 214, 250});
    // The top line sits on the top edge: its upper half is clipped away.
    EXPECT_GE(cap.countRow(ign->y(), ign->x() + 1, ign->x() + 18, FL_DARK3), 4);
    EXPECT_EQ(cap.countRow(ign->y() - 1, ign->x(), ign->x() + 639, FL_DARK3), 0);
}

TEST_F(ChartDrawing, ValveGridHasNoLineOnTheTopEdge)
{
    pvs->cursor = 83;
    const Capture cap = render();
    checkGrid(cap, pvs, {39, 78, 117, 156, 195, 234});
    EXPECT_EQ(cap.countRow(pvs->y(), pvs->x() + 1, pvs->x() + 18, FL_DARK3), 0);
}

TEST_F(ChartDrawing, CursorLineInDarkYellow)
{
    ign->cursor = 83;  // X + 332, between grid lines
    pvs->cursor = 158; // X + 632
    const Capture cap = render();
    const int top = ign->y(), bottom = ign->y() + ign->h() - 20;
    EXPECT_GE(cap.countColumn(ign->x() + 332, top, bottom, FL_DARK_YELLOW), 50);
    EXPECT_EQ(cap.countColumn(ign->x() + 333, top, bottom, FL_DARK_YELLOW), 0);
    EXPECT_EQ(cap.countColumn(ign->x() + 330, top, bottom, FL_DARK_YELLOW), 0);
    // Dotted like the grid: the gaps show the shaded band beneath.
    EXPECT_GE(cap.countColumn(ign->x() + 332, top, bottom, FL_DARK1), 50);
    EXPECT_GE(cap.countColumn(pvs->x() + 632, pvs->y(), pvs->y() + 200, FL_DARK_YELLOW), 50);
    EXPECT_EQ(cap.countColumn(pvs->x() + 633, pvs->y(), pvs->y() + 200, FL_DARK_YELLOW), 0);
    EXPECT_EQ(cap.countColumn(ign->x() + 632, top, bottom, FL_DARK_YELLOW), 0);
}

TEST_F(ChartDrawing, PointsArePlottedWhereTheTableSays)
{
    fill(ignitionTable, 0, 17.5);  // 125 px above the bottom
    fill(ignitionTable, 1, 30.0);  // 214 px above the bottom
    for (int i = 0; i < 160; ++i)
        valveTable.points[160 + i] = i;  // a ramp on map 1
    const Capture cap = render();
    const int bottom = ign->y() + ign->h();
    for (int i : {3, 42, 101, 151}) {
        const int x = ign->x() + 4 * i + 1;
        EXPECT_TRUE(cap.is(x, bottom - 125, FL_RED)) << i;
        EXPECT_FALSE(cap.is(x, bottom - 128, FL_RED)) << i;
        EXPECT_FALSE(cap.is(x, bottom - 122, FL_RED)) << i;
        EXPECT_TRUE(cap.is(x, bottom - 214, FL_BLUE)) << i;
        EXPECT_FALSE(cap.is(x, bottom - 217, FL_BLUE)) << i;
    }
    // Point i is at X + 4i and 250 * i / 160 px above the bottom; 159 at 248.
    const int vbottom = pvs->y() + pvs->h();
    for (int i : {10, 40, 80, 123, 158}) {
        const int t = 250 * i / 160;
        EXPECT_TRUE(cap.is(pvs->x() + 4 * i, vbottom - t, FL_BLUE)) << i;
        EXPECT_FALSE(cap.is(pvs->x() + 4 * i, vbottom - t - 5, FL_BLUE)) << i;
        EXPECT_FALSE(cap.is(pvs->x() + 4 * i, vbottom - t + 5, FL_BLUE)) << i;
    }
    // The last segment ends at X + 636; nothing is drawn to the right of it.
    EXPECT_GE(cap.countBox(pvs->x() + 635, vbottom - 250, pvs->x() + 635, vbottom - 246, FL_BLUE), 1);
    EXPECT_EQ(cap.countColumn(pvs->x() + 639, pvs->y(), vbottom - 1, FL_BLUE), 0);
}

// The earliest the unit can fire, from the record's pickup and latency:
// at point 150 with pickup 36 and latency 570 it holds 23.1 for 35.0, 165 px
// above the bottom; with the one-pulse preset it lies above the top.
TEST_F(ChartDrawing, TheUnitsCeilingFollowsTheEngineType)
{
    const Fl_Color orange = fl_rgb_color(230, 140, 0);
    const int bottom = ign->y() + ign->h();
    const int x150 = ign->x() + 600;
    ign->unit = &cdiDevice;
    Capture cap = render();
    EXPECT_TRUE(cap.is(x150, bottom - 165, orange));
    EXPECT_EQ(cap.countColumn(x150, ign->y(), bottom - 168, orange)
                  + cap.countColumn(x150, bottom - 162, bottom - 1, orange), 0);
    // At the lowest speeds the unit reaches the top: nothing drawn there.
    EXPECT_EQ(cap.countBox(ign->x(), ign->y(), ign->x() + 40, bottom - 1, orange), 0);
    EXPECT_EQ(cap.countBox(pvs->x(), pvs->y(), pvs->x() + pvs->w() - 1, pvs->y() + pvs->h() - 1, orange), 0);

    applyEnginePreset(1);
    cap = render();
    EXPECT_EQ(cap.countColumn(x150, ign->y(), bottom - 1, orange), 0);
    ign->unit = nullptr;
}

TEST_F(ChartDrawing, MapOneIsPaintedOverMapZero)
{
    fill(ignitionTable, 0, 17.5);
    for (int i = 0; i < 80; ++i)
        ignitionTable.points[160 + i] = 17.5;
    for (int i = 80; i < 160; ++i)
        ignitionTable.points[160 + i] = 30.0;
    const Capture cap = render();
    const int row = ign->y() + ign->h() - 125;
    EXPECT_EQ(cap.countRow(row, ign->x(), ign->x() + 300, FL_RED), 0);
    EXPECT_GE(cap.countRow(row, ign->x() + 2, ign->x() + 300, FL_BLUE), 290);
    EXPECT_GE(cap.countRow(row, ign->x() + 340, ign->x() + 630, FL_RED), 280);
}

TEST_F(ChartDrawing, EdgeValuesAndClipping)
{
    fill(ignitionTable, 0, 35.0);  // on the top edge
    fill(ignitionTable, 1, 0.1);   // 0.71 px truncates to the bottom edge
    fill(valveTable, 0, 255.0);    // a device read can leave this; far above
    const Capture cap = render();
    const int X = ign->x(), Y = ign->y(), bottom = ign->y() + ign->h();
    EXPECT_GE(cap.countRow(Y, X + 100, X + 600, FL_RED), 490);
    EXPECT_EQ(cap.countRow(Y + 2, X + 100, X + 600, FL_RED), 0);
    EXPECT_EQ(cap.countRow(Y - 1, 0, kWinW - 1, FL_RED), 0);
    EXPECT_GE(cap.countRow(bottom - 1, X + 100, X + 600, FL_BLUE), 490);
    EXPECT_EQ(cap.countRow(bottom - 2, X + 100, X + 600, FL_BLUE), 0);
    EXPECT_EQ(cap.countRow(bottom, 0, kWinW - 1, FL_BLUE), 0);
    // 255 on the valve chart lies 398 px above its bottom, inside the
    // ignition chart's area, and must be cut off by the valve chart's clip.
    const int vbottom = pvs->y() + pvs->h();
    EXPECT_EQ(cap.countBox(0, vbottom - 400, kWinW - 1, vbottom - 396, FL_RED), 0);
    EXPECT_EQ(cap.countBox(0, pvs->y(), kWinW - 1, vbottom - 1, FL_RED), 0);
}

TEST_F(ChartDrawing, WildValuesAreDrawnWithoutHarm)
{
    ignitionTable.points[10] = 1e300;
    ignitionTable.points[11] = -1e300;
    ignitionTable.points[12] = std::numeric_limits<double>::quiet_NaN();
    ignitionTable.points[13] = std::numeric_limits<double>::infinity();
    ignitionTable.points[14] = -3.0;
    fill(ignitionTable, 1, 30.0);
    pvs->cursor = 83;
    const Capture cap = render();
    // The rest of map 0 still lies on the bottom edge.
    const int bottom = ign->y() + ign->h();
    EXPECT_GE(cap.countRow(bottom - 1, ign->x() + 100, ign->x() + 600, FL_RED), 490);
    checkGrid(cap, pvs, {39, 78, 117, 156, 195, 234});
}

TEST_F(ChartDrawing, ReadoutOnlyWithASelectedMapInItsColour)
{
    fill(ignitionTable, 0, 30.0);  // keep both maps clear of the read-out
    fill(ignitionTable, 1, 31.0);
    fill(valveTable, 0, 150.0);
    fill(valveTable, 1, 140.0);
    ignitionTable.points[80] = 12.3;
    // The read-out's baseline is 32 px above the bottom, 10 px in.
    auto readout = [](const Capture& cap, const MyChart* c, Fl_Color colour) {
        const int base = c->y() + c->h() - 32;
        return cap.countBox(c->x() + 10, base - 32, c->x() + 400, base + 8, colour);
    };

    Capture none = render();
    EXPECT_EQ(readout(none, ign, FL_RED), 0);
    EXPECT_EQ(readout(none, ign, FL_BLUE), 0);
    EXPECT_EQ(readout(none, pvs, FL_RED), 0);

    ign->selectedMap = 0;
    Capture red = render();
    EXPECT_GE(readout(red, ign, FL_RED), 200);
    EXPECT_EQ(readout(red, ign, FL_BLUE), 0);
    EXPECT_EQ(readout(red, pvs, FL_RED), 0);

    // The value is read from the table at draw time.
    ignitionTable.points[80] = 25.0;
    Capture changed = render();
    EXPECT_NE(red.rgb, changed.rgb);

    ign->selectedMap = -1;
    pvs->selectedMap = 1;
    Capture blue = render();
    EXPECT_GE(readout(blue, pvs, FL_BLUE), 200);
    EXPECT_EQ(readout(blue, pvs, FL_RED), 0);
    EXPECT_EQ(readout(blue, ign, FL_BLUE), 0);
}

TEST_F(ChartDrawing, LabelIsBlueOnTheBottomLeft)
{
    fill(ignitionTable, 0, 30.0);
    fill(ignitionTable, 1, 31.0);
    fill(valveTable, 0, 150.0);
    fill(valveTable, 1, 140.0);
    const Capture cap = render();
    for (const MyChart* c : {ign, pvs}) {
        const int bottom = c->y() + c->h();
        EXPECT_GE(cap.countBox(c->x(), bottom - 16, c->x() + 60, bottom - 1, FL_BLUE), 8)
            << c->label();
        EXPECT_EQ(cap.countBox(c->x(), bottom - 16, c->x() + 60, bottom - 1, FL_RED), 0);
        // Nothing of the label shows below the chart.
        EXPECT_EQ(cap.countRow(bottom, c->x(), c->x() + 60, FL_BLUE), 0);
    }
    // The label sits at the left: no blue further along the bottom.
    EXPECT_EQ(cap.countBox(ign->x() + 100, ign->y() + ign->h() - 16, ign->x() + 600,
                           ign->y() + ign->h() - 1, FL_BLUE),
              0);
}

TEST(ChartReadout, TextFormat)
{
    char text[kReadoutSize];
    chartReadout(80, 12.3, text);
    EXPECT_STREQ(text, "8000(rpm):12.3");
    chartReadout(80, 5.0, text);
    EXPECT_STREQ(text, "8000(rpm): 5.0");
    chartReadout(155, 160.0, text);
    EXPECT_STREQ(text, "15500(rpm):160.0");
    chartReadout(80, 255.0, text);
    EXPECT_STREQ(text, "8000(rpm):255.0");
    chartReadout(8, 0.7999999999999999, text);
    EXPECT_STREQ(text, "800(rpm): 0.8");
}

}  // namespace
