// Shared test helpers on the main window and its charts.
#include "support.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include <string>

#include "main_window.h"
#include "map_table.h"
#include "my_chart.h"

namespace {
void wire(MyChart& chart, MapTable& table, int valueRange, int yStep)
{
    chart.table = &table;
    chart.valueRange = valueRange;
    chart.xStep = 5;
    chart.yStep = yStep;
    chart.cursor = 80;
    chart.selectedMap = -1;
}
}

void wireCharts(MyChart& ignition, MyChart& valve)
{
    wire(ignition, ignitionTable, 35, 5);
    wire(valve, valveTable, 160, 25);
}

void resetWindowText(const char* title)
{
    widgets.log->value("");
    widgets.window->label(title);
}

void clearChartDamage()
{
    widgets.ignitionChart->clear_damage();
    widgets.valveChart->clear_damage();
}

bool chartsRedrawn()
{
    return (widgets.ignitionChart->damage() & FL_DAMAGE_ALL) && (widgets.valveChart->damage() & FL_DAMAGE_ALL);
}

bool chartsUntouched() { return !widgets.ignitionChart->damage() && !widgets.valveChart->damage(); }

void pressKey(int key, int state, const char* text)
{
    static std::string typed;  // the toolkit swaps the case of a letter in place
    typed = text;
    Fl::e_keysym = key;
    Fl::e_state = state;
    Fl::e_text = typed.data();
    Fl::e_length = static_cast<int>(typed.size());
    Fl::handle(FL_KEYBOARD, widgets.window);
}
