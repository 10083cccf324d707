// The ride log shown on the Table tab: read once, tallied once per row and
// map switch position, then only drawn from. The slider's time picks the
// last sample at or before it.
#include "ride_log_view.h"

#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Slider.H>
#include <FL/fl_draw.H>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "dialogs.h"
#include "main_window.h"
#include "map_edits.h"
#include "map_grid.h"
#include "my_chart.h"
#include "ride_log.h"
#include "toolkit_dialogs.h"

namespace {
const Fl_Color kBusiestColour = fl_rgb_color(255, 200, 120);

struct ShownLog {
    RideLog log;
    RowTimes times;
    std::int64_t busiest;
};
std::optional<ShownLog> shown;

// The replay's marks: on both charts and on the grid's row.
void showReplay(int point, int row)
{
    for (MyChart* chart : {widgets.ignitionChart, widgets.valveChart}) {
        if (chart->replayPoint != point) {
            chart->replayPoint = point;
            chart->redraw();
        }
    }
    if (widgets.mapGrid->replayRow != row) {
        widgets.mapGrid->replayRow = row;
        widgets.mapGrid->redraw();
    }
}

void showLogColumns(bool on)
{
    MapGrid* grid = widgets.mapGrid;
    grid->cols(kGridColumns + (on ? kLogColumns : 0));
    for (int c = kGridColumns; on && c < kGridColumns + kLogColumns; ++c)
        grid->col_width(c, grid->col_width(0));
    grid->redraw();
}
}  // namespace

void buildRideLogControls()
{
    widgets.clearLog->deactivate();
    Fl_Box* name = new Fl_Box(710, 195, 300, 44);
    name->labelsize(14);
    name->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_WRAP | FL_ALIGN_CLIP);
    widgets.logName = name;
    Fl_Slider* replay = new Fl_Slider(500, 560, 510, 25);
    replay->type(FL_HOR_NICE_SLIDER);
    replay->callback(onReplayMoved);
    replay->deactivate();
    widgets.replay = replay;
}

void onLoadLog(Fl_Widget*, void*)
{
    std::string folder;
    std::error_code error;
    if (!rideLogFolderPath(folder) || !std::filesystem::is_directory(std::filesystem::u8path(folder), error))
        folder.clear();
    std::string path;
    const int chosen = chooseFile(
        {Fl_Native_File_Chooser::BROWSE_FILE, "Load a ride log", "Ride logs\t*.csv", 0, folder.c_str()}, path);
    if (chosen > 0)
        return;
    RideLog log;
    std::string why = "cannot be read";
    if (chosen < 0 || !readRideLog(path.c_str(), log, why)) {
        dialogs.errorBeep();
        showTableMessage("Log refused: " + why);
        return;
    }
    RowTimes times = timePerRow(log);
    const std::int64_t busiest = busiestCell(times);
    shown = ShownLog{std::move(log), std::move(times), busiest};
    const RideLog& read = shown->log;
    widgets.logName->copy_label(
        rideLogSummary(std::filesystem::u8path(path).filename().u8string(), read).c_str());
    widgets.replay->bounds(0.0, double(read.samples.back().timeMs - read.samples.front().timeMs) / 1000.0);
    widgets.replay->value(0.0);
    widgets.replay->activate();
    widgets.clearLog->activate();
    showReplay(-1, -1);
    showTableMessage("");
    showLogColumns(true);
}

void onClearLog(Fl_Widget*, void*)
{
    shown.reset();
    widgets.logName->copy_label("");
    widgets.replay->value(0.0);
    widgets.replay->deactivate();
    widgets.clearLog->deactivate();
    showReplay(-1, -1);
    showTableMessage("");
    showLogColumns(false);
}

void onReplayMoved(Fl_Widget*, void*)
{
    if (!shown)
        return;
    const RideSample& sample = sampleAt(shown->log, widgets.replay->value());
    showReplay(enginePoint(static_cast<int>(sample.values.rpm)), sampleRow(sample));
    showTableMessage(sampleText(shown->log, sample));
}

const char* logColumnTitle(int map)
{
    return map == 0 ? "LOG MAP0 s" : "LOG MAP1 s";
}

std::string logCellText(int row, int map)
{
    const std::int64_t ms = shown ? shown->times[static_cast<std::size_t>(row)][static_cast<std::size_t>(map)] : 0;
    if (ms == 0)
        return "";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(ms) / 1000.0);
    return text;
}

Fl_Color logTint(int row, int map)
{
    if (!shown || shown->busiest == 0)
        return FL_WHITE;
    const std::int64_t ms = shown->times[static_cast<std::size_t>(row)][static_cast<std::size_t>(map)];
    return fl_color_average(kBusiestColour, FL_WHITE, float(double(ms) / double(shown->busiest)));
}
