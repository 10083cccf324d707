// Undo and redo: the window's side of the edit history. The keys are taken
// before any widget sees them, so the pickup field's own text undo never
// runs, and only while no box is open, so nothing changes under a question.
#include "undo_redo.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Light_Button.H>

#include <array>
#include <chrono>

#include "autosave_timer.h"
#include "cdi_device.h"
#include "edit_history.h"
#include "main_window.h"
#include "map_editing.h"
#include "map_grid.h"
#include "map_table.h"
#include "my_chart.h"
#include "option_bindings.h"

namespace {
EditHistory history;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// In the order of ChangeOrigin::map.
std::array<Fl_Light_Button*, 4> mapButtons()
{
    return {widgets.ignMap0, widgets.ignMap1, widgets.pvsMap0, widgets.pvsMap1};
}

// Every change the history takes is also one for the autosave.
void record(const ChangeOrigin& origin)
{
    if (recordChange(history, captureState(ignitionTable, valveTable, cdiDevice), origin, editClock()))
        autosaveSoon();
    refreshUnitLimits();
}

// Text typed into the pickup field and not yet committed is dropped: the
// refresh shows the stored value and clears the field's changed flag.
void show(const EditState& state, const ChangeOrigin& origin)
{
    restoreState(state, ignitionTable, valveTable, cdiDevice);
    if (origin.kind == ChangeOrigin::MapStep) {
        const auto buttons = mapButtons();
        for (int i = 0; i < static_cast<int>(buttons.size()); ++i)
            buttons[i]->value(i == origin.map ? 1 : 0);
        widgets.ignitionChart->cursor = origin.cursor;
        widgets.valveChart->cursor = origin.cursor;
        onMapSelect(nullptr, nullptr);
        gridFollowsCharts();
    }
    if (origin.kind == ChangeOrigin::TableEdit || origin.kind == ChangeOrigin::Nudge)
        selectGridCells(origin.cells);
    refreshMapGrid();
    widgets.ignitionChart->redraw();
    widgets.valveChart->redraw();
    refreshOptionWidgets();
    autosaveSoon();
    refreshUnitLimits();
}

void undoEdit()
{
    EditState state;
    ChangeOrigin origin;
    if (undoChange(history, state, origin))
        show(state, origin);
}

void redoEdit()
{
    EditState state;
    ChangeOrigin origin;
    if (redoChange(history, state, origin))
        show(state, origin);
}

// Ctrl with the letter alone, or with Shift for Ctrl+Shift+Z; the toolkit
// reports letter keys in lower case.
int dispatchUndoKeys(int event, Fl_Window* window)
{
    if (event == FL_KEYBOARD && window == widgets.window && !Fl::modal() && Fl::event_ctrl() &&
        !Fl::event_state(FL_ALT | FL_META)) {
        const int key = Fl::event_key();
        if (key == 'z' && !Fl::event_shift()) {
            undoEdit();
            return 1;
        }
        if ((key == 'z' && Fl::event_shift()) || (key == 'y' && !Fl::event_shift())) {
            redoEdit();
            return 1;
        }
    }
    return Fl::handle_(event, window);
}
}  // namespace

double (*editClock)() = steadySeconds;

void startEditHistory()
{
    startHistory(history, captureState(ignitionTable, valveTable, cdiDevice));
    refreshUnitLimits();
    Fl::event_dispatch(dispatchUndoKeys);
}

void recordMapStep()
{
    ChangeOrigin origin;
    origin.kind = ChangeOrigin::MapStep;
    const auto buttons = mapButtons();
    for (int i = 0; i < static_cast<int>(buttons.size()); ++i)
        if (buttons[i]->value())
            origin.map = i;
    origin.cursor = widgets.ignitionChart->cursor;
    record(origin);
}

void recordOptionChange(const Fl_Widget* control)
{
    ChangeOrigin origin;
    origin.kind = ChangeOrigin::OptionControl;
    origin.control = control;
    record(origin);
}

void recordCommandChange()
{
    record(ChangeOrigin{});
}

void recordTableChange(const CellBlock& cells, bool nudge)
{
    ChangeOrigin origin;
    origin.kind = nudge ? ChangeOrigin::Nudge : ChangeOrigin::TableEdit;
    origin.cells = cells;
    record(origin);
}
