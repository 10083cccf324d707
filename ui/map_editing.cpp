// Map editing: which map is selected, where the cursor stands, and the value
// steps that raise or lower a point and re-interpolate its neighbours.
#include "map_editing.h"

#include <FL/Fl_Light_Button.H>

#include <cstdint>

#include "main_window.h"
#include "map_edits.h"
#include "map_table.h"
#include "my_chart.h"
#include "undo_redo.h"

void onMapSelect(Fl_Widget*, void*)
{
    MyChart* ign = widgets.ignitionChart;
    MyChart* pvs = widgets.valveChart;
    ign->selectedMap = -1;
    pvs->selectedMap = -1;
    if (widgets.ignMap0->value())
        ign->selectedMap = 0;
    if (widgets.ignMap1->value())
        ign->selectedMap = 1;
    if (widgets.pvsMap0->value())
        pvs->selectedMap = 0;
    if (widgets.pvsMap1->value())
        pvs->selectedMap = 1;
    ign->redraw();
    pvs->redraw();
}

namespace {
// The chart's own range comes first, then the table's clamps on the store.
// The value is never rounded, so tenths drift as doubles do.
void stepSelected(MyChart* chart, double step)
{
    const auto m = static_cast<std::uint32_t>(chart->selectedMap);
    const auto k = static_cast<std::uint32_t>(chart->cursor);
    double v = chart->table->value(m, k) + step;
    if (v > chart->valueRange)
        v = chart->valueRange;
    if (v < 0.0)
        v = 0.0;
    chart->table->setValue(m, k, v);
}

// Both charts are spread at the ignition chart's cursor: the cursors move in
// lockstep, and a chart without a selected map ignores the call.
void stepValue(double ignitionStep, double valveStep)
{
    MyChart* ign = widgets.ignitionChart;
    MyChart* pvs = widgets.valveChart;
    if (widgets.ignMap0->value() || widgets.ignMap1->value())
        stepSelected(ign, ignitionStep);
    if (widgets.pvsMap0->value() || widgets.pvsMap1->value())
        stepSelected(pvs, valveStep);
    ign->spread(ign->cursor);
    ign->redraw();
    pvs->spread(ign->cursor);
    pvs->redraw();
    recordMapStep();
}

}  // namespace

void onValueUp(Fl_Widget*, void*)
{
    stepValue(kIgnitionStep, kValveStep);
}

void onValueDown(Fl_Widget*, void*)
{
    stepValue(-kIgnitionStep, -kValveStep);
}

namespace {
// A move that would leave points 1..159 is refused; the chart is redrawn
// either way.
void moveCursor(MyChart* chart, int direction)
{
    const int n = chart->cursor + direction * chart->xStep;
    if (n >= 1 && n < static_cast<int>(MapTable::kPoints))
        chart->cursor = n;
    chart->redraw();
}
}  // namespace

void onCursorLeft(Fl_Widget*, void*)
{
    moveCursor(widgets.ignitionChart, -1);
    moveCursor(widgets.valveChart, -1);
}

void onCursorRight(Fl_Widget*, void*)
{
    moveCursor(widgets.ignitionChart, 1);
    moveCursor(widgets.valveChart, 1);
}
