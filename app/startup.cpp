// Start-up in its fixed order: the tables' clamps before the autosave load
// that stores through them, the log sink after it, the poll after the show;
// and the close, which never loses the maps silently.
#include "startup.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Tabs.H>

#include <cstdlib>

#include "cdi_device.h"
#include "device_status.h"
#include "dialogs.h"
#include "main_window.h"
#include "map_file.h"
#include "map_table.h"
#include "my_chart.h"
#include "option_bindings.h"
#include "session_end.h"
#include "toolkit_dialogs.h"
#include "undo_redo.h"

namespace {
void wireChart(MyChart* chart, MapTable& table, int valueRange, int yStep)
{
    chart->table = &table;
    chart->valueRange = valueRange;
    chart->xStep = 5;
    chart->yStep = yStep;
}
}

Fl_Double_Window* startApplication(int argc, char** argv)
{
    installToolkitDialogs();

    Fl_Double_Window* window = buildMainWindow();
    window->callback(onWindowClose);
    window->label(kProgramTitle);

    setTableClamps();
    wireChart(widgets.ignitionChart, ignitionTable, 35, 5);
    wireChart(widgets.valveChart, valveTable, 160, 25);
    onConfigChanged = refreshOptionWidgets;

    if (!loadAutosave()) {
        // Without an autosave the block takes what the controls show, so a
        // write sends what the user sees, never the block's initial zeros.
        onSliderChanged(nullptr, nullptr);
        onSwitchChanged(nullptr, nullptr);
        onPulseTypeChanged(nullptr, nullptr);
    }

    cdiDevice.log = appendLog;
    widgets.ignMap0->value(1);
    widgets.ignitionChart->selectedMap = 0;
    widgets.tabs->value(widgets.deviceTab);
    startEditHistory();

    window->show(argc, argv);
    Fl::add_timeout(0.5, pollStatus);

    appendLog("Started successfully.\n");
    appendLog("Waiting device connect.\n");
    watchSessionEnd();
    return window;
}

bool saveAutosaveForClose()
{
    // What was typed in the pickup field counts, under the field's rules; a
    // refused text is dropped without a beep, as nobody is there to hear it.
    commitPickupField(false);
    return saveAutosave() == 1;
}

void onWindowClose(Fl_Widget*, void*)
{
    // Kept open, the window still lets the maps be kept with File Save.
    if (!saveAutosaveForClose()
        && !dialogs.askYesNo("The maps could not be saved to the autosave file. Close anyway?"))
        return;
    std::exit(0);
}
