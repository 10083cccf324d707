// The map chart: a shaded, dotted grid, the cursor line, both maps of the
// table as polylines, the label and the read-out of the selected map; and
// spread, the re-interpolation that map editing asks of it.
#include "my_chart.h"

#include <FL/fl_draw.H>

#include <cstdint>
#include <cstdio>

#include "map_edits.h"
#include "map_table.h"
#include "timing_codec.h"
#include "unit_limits.h"

MyChart::MyChart(int x, int y, int w, int h, const char* label)
    : Fl_Box(x, y, w, h, label)
{
}

void chartReadout(int cursor, double value, char (&text)[kReadoutSize])
{
    std::snprintf(text, sizeof text, "%d00(rpm):%4.1lf", cursor, value);
}

namespace {
constexpr int kPoints = MapTable::kPoints;

// Height above the bottom edge at which a value is plotted. A device read
// can leave any value in the table, so the height is held to a band a few
// times the chart's height (where the clip hides it anyway) before it
// becomes an int; NaN lands below the chart.
int plotHeight(int h, double value, int range)
{
    double t = double(h) * value / double(range);
    const double limit = 16.0 * h;
    if (!(t >= -limit))
        t = -limit;
    if (t > limit)
        t = limit;
    return static_cast<int>(t);
}

// One map as a polyline in the colour and line style in force.
void drawMap(const MapTable& table, int m, int X, int Y, int W, int H, int R)
{
    for (int i = 0; i < kPoints - 1; ++i) {
        const int t0 = plotHeight(H, table.value(m, i), R);
        const int t1 = plotHeight(H, table.value(m, i + 1), R);
        fl_line(X + (W * i) / kPoints, Y + H - t0, X + (W * (i + 1)) / kPoints, Y + H - t1);
    }
}
}  // namespace

void MyChart::draw()
{
    const int X = x(), Y = y(), W = w(), H = h();
    const int R = valueRange, SX = xStep, SY = yStep, P = cursor;

    fl_push_clip(X, Y, W, H);

    fl_color(FL_WHITE);
    fl_rectf(X, Y, W, H);

    // Each band is filled before its own grid line, so no line is painted over.
    const int N = kPoints / SX;
    for (int g = 0; g <= N; ++g) {
        const int left = X + (W * SX * g) / kPoints;
        const int right = X + (W * SX * (g + 1)) / kPoints;
        fl_color((g / 5) % 2 ? FL_DARK1 : FL_WHITE);
        fl_rectf(left, Y, right - left, H);
        fl_color(FL_DARK3);
        fl_line_style(FL_DOT, 2);
        fl_line(left, Y, left, Y + H);
    }

    for (int e = 1; e <= R / SY; ++e) {
        const int ye = Y + H - (H * SY * e) / R;
        fl_color(FL_DARK3);
        fl_line_style(FL_DOT, 2);
        fl_line(X, ye, X + W, ye);
    }

    // The earliest the unit can fire: no map above it runs as drawn.
    if (unit) {
        const TimingReference timing = timingReference(*unit);
        fl_color(fl_rgb_color(230, 140, 0));
        fl_line_style(FL_SOLID, 1);
        double from = unitCeiling(1, timing);
        for (int i = 1; i < kPoints - 1; ++i) {
            const double to = unitCeiling(static_cast<std::uint16_t>(i + 1), timing);
            if (from < R || to < R)
                fl_line(X + (W * i) / kPoints, Y + H - plotHeight(H, from, R), X + (W * (i + 1)) / kPoints,
                        Y + H - plotHeight(H, to, R));
            from = to;
        }
        fl_line_style(FL_DOT, 2);
    }

    // The known tune lies under everything that is edited.
    if (reference) {
        for (int m = 0; m < 2; ++m) {
            fl_color(m == 0 ? fl_rgb_color(255, 160, 160) : fl_rgb_color(160, 160, 255));
            fl_line_style(FL_SOLID, 1);
            drawMap(*reference, m, X, Y, W, H, R);
        }
        fl_line_style(FL_DOT, 2);
    }

    // The cursor line keeps the grid's dotted style on purpose.
    fl_color(FL_DARK_YELLOW);
    const int cx = X + (P * W) / kPoints;
    fl_line(cx, Y, cx, Y + H);
    fl_line_style(FL_SOLID, 0);

    for (int m = 0; m < 2; ++m) {
        fl_color(m == 0 ? FL_RED : FL_BLUE);
        fl_line_style(FL_SOLID, 3);
        drawMap(*table, m, X, Y, W, H, R);
    }
    fl_line_style(FL_SOLID, 0);

    // Plain text in the colour still in force; '&' is not a shortcut here.
    fl_font(FL_HELVETICA, 16);
    if (label())
        fl_draw(label(), X, Y + H);

    if (selectedMap == 0 || selectedMap == 1) {
        fl_color(selectedMap == 0 ? FL_RED : FL_BLUE);
        char text[kReadoutSize];
        chartReadout(P, table->value(selectedMap, P), text);
        fl_font(FL_HELVETICA, 32);
        fl_draw(text, X + 10, Y + H - 32);
    }

    // Dark blue, so a replayed sample is not taken for the live engine,
    // which is drawn over it where they meet.
    if (replayPoint >= 0) {
        fl_color(FL_DARK_BLUE);
        fl_rectf(X + W * replayPoint / kPoints, Y, 2, H);
    }
    if (enginePoint >= 0) {
        fl_color(FL_DARK_GREEN);
        fl_rectf(X + W * enginePoint / kPoints, Y, 2, H);
    }

    fl_pop_clip();
}

void MyChart::spread(int p)
{
    if (selectedMap != -1)
        spreadMap(*table, static_cast<std::uint32_t>(selectedMap), xStep, p);
}
