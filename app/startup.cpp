// Start-up in its fixed order: the tables' clamps before the autosave load
// that stores through them, the log sink after it, the poll after the show;
// and the close, which never loses the maps silently.
#include "startup.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Tabs.H>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "autosave_timer.h"
#include "cdi_device.h"
#include "commands.h"
#include "device_status.h"
#include "dialogs.h"
#include "main_window.h"
#include "map_file.h"
#include "map_table.h"
#include "my_chart.h"
#include "option_bindings.h"
#include "platform_paths.h"
#include "ride_recorder.h"
#include "session_end.h"
#include "toolkit_dialogs.h"
#include "undo_redo.h"
#include "unit_lock.h"
#include "user_files.h"

namespace {
// A refused autosave, kept as it stands in the state folder before the
// close replaces it: refused-autosave-YYYYMMDD-HHMMSS.cdi (UTC), private,
// "-2", "-3" ... added while the name is taken. False when it could not be
// kept.
bool keepRefusedAutosave(const std::string& text, std::string& path)
{
    std::string dir;
    if (!userFolder(UserFolder::state, "kvz-cdi", dir))
        return false;
    const std::tm utc = utcTime(std::time(nullptr));
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    const std::string stem = dir + "refused-autosave-" + stamp;
    std::string temp;
    if (!writeBeside(stem + ".cdi", Contents::bytes, temp, [&](std::FILE* file) {
            return std::fwrite(text.data(), text.size(), 1, file) == 1;
        }))
        return false;
    for (int n = 1; n < 1000; ++n) {
        const std::string name = n == 1 ? stem + ".cdi" : stem + "-" + std::to_string(n) + ".cdi";
        bool taken = false;
        if (placeNewFile(temp.c_str(), name.c_str(), taken)) {
            path = name;
            return true;
        }
        if (!taken)
            break;
    }
    removeFile(temp.c_str());
    return false;
}

void wireChart(MyChart* chart, MapTable& table, int valueRange, int yStep)
{
    chart->table = &table;
    chart->valueRange = valueRange;
    chart->xStep = 5;
    chart->yStep = yStep;
}
}

Fl_Double_Window* startApplication(int argc, char** argv, const std::string& file)
{
    installToolkitDialogs();

    Fl_Double_Window* window = buildMainWindow();
    window->callback(onWindowClose);
    window->label(kProgramTitle);

    setTableClamps();
    wireChart(widgets.ignitionChart, ignitionTable, 35, 5);
    wireChart(widgets.valveChart, valveTable, 160, 25);
    widgets.ignitionChart->unit = &cdiDevice;
    onConfigChanged = refreshOptionWidgets;

    std::string refused;
    if (!loadAutosave(&refused)) {
        // Without an autosave applied (none, or one refused) the block takes
        // what the controls show, so a write sends what the user sees, never
        // the block's initial zeros.
        onSliderChanged(nullptr, nullptr);
        onSwitchChanged(nullptr, nullptr);
        onPulseTypeChanged(nullptr, nullptr);
    }
    // The close writes a new autosave over a refused one once it is kept;
    // one that cannot be kept is never written over.
    std::string keptIn;
    const bool keptRefused = !refused.empty() && keepRefusedAutosave(refused, keptIn);
    if (!refused.empty() && !keptRefused)
        leaveAutosaveAlone();

    cdiDevice.log = appendLog;
    widgets.ignMap0->value(1);
    widgets.ignitionChart->selectedMap = 0;
    widgets.tabs->value(widgets.deviceTab);
    // Before the history starts, so that undo goes back to the file, never
    // past it to the autosave.
    const bool fileRefused = !file.empty() && !openMapFile(file.c_str());
    startEditHistory();
    // With no place for it, or a refused one that could not be kept, the
    // autosave is left to the close, which asks.
    startAutosaveTimer(autosavePath[0] != '\0' && (refused.empty() || keptRefused));

    window->show(argc, argv);
    Fl::add_timeout(0.5, pollStatus);

    appendLog("Started successfully.\n");
    appendLog("Waiting device connect.\n");
    if (!refused.empty()) {
        const std::string line = keptRefused ? "The autosave could not be loaded; it is kept in " + keptIn + ".\n"
                                             : "The autosave could not be loaded, nor kept in the state folder; "
                                               "it is left as it is, and closing will ask.\n";
        appendLog(line.c_str());
    }
    watchSessionEnd();
    if (fileRefused) {
        appendLog(("Could not open " + file + "; nothing of it was loaded.\n").c_str());
        dialogs.errorBox(kFileError);
    }
    return window;
}

bool saveAutosaveForClose()
{
    // What was typed in the pickup field counts, under the field's rules; a
    // refused text is dropped without a beep, as nobody is there to hear it.
    commitPickupField(false);
    return saveAutosave() == 1;
}

void leaveUnit()
{
    // An ended process lets go of the unit's lock at once, while a reply
    // the poll gave up on may still come into the next program's handle.
    settleUnitLock(true);
}

void onWindowClose(Fl_Widget*, void*)
{
    // Kept open, the window still lets the maps be kept with File Save.
    if (!saveAutosaveForClose()
        && !dialogs.askYesNo("The maps could not be saved to the autosave file. Close anyway?"))
        return;
    endRecording();
    leaveUnit();
    std::exit(0);
}
