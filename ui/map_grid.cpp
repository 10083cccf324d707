// The Table tab. The grid holds no values of its own: every cell is drawn
// from the tables, and every change goes in through map_edits' setCell,
// then into the edit history as one change with the selection it was made on.
#include "map_grid.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Native_File_Chooser.H>
#include <FL/Fl_Output.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "cdi_device.h"
#include "commands.h"
#include "dialogs.h"
#include "main_window.h"
#include "map_editing.h"
#include "map_file.h"
#include "map_table.h"
#include "my_chart.h"
#include "platform_paths.h"
#include "restore_points.h"
#include "map_edits.h"
#include "ride_log_view.h"
#include "toolkit_dialogs.h"
#include "undo_redo.h"
#include "unit_commands.h"
#include "unit_limits.h"

namespace {
const char* const kColumnTitles[kGridColumns] = {"IGN MAP0", "IGN MAP1", "PVS MAP0", "PVS MAP1"};
constexpr Fl_Color kDiffersColour = 0xFFE8A000;  // pale amber

// A tune to compare with, read as a load reads a file or as Device Read
// reads the unit; nothing else reads it. Against the unit, a cell differs
// when a write would change what the unit holds there.
MapTable referenceIgnition;
MapTable referenceValve;
UnitImage referenceUnit;
bool comparedWithUnit = false;

GridColumns gridColumns()
{
    MyChart* ign = widgets.ignitionChart;
    MyChart* pvs = widgets.valveChart;
    return {{{ign->table, 0, ign->valueRange, false},
             {ign->table, 1, ign->valueRange, false},
             {pvs->table, 0, pvs->valueRange, true},
             {pvs->table, 1, pvs->valueRange, true}}};
}

const MapTable* referenceFor(int column)
{
    return column < 2 ? widgets.ignitionChart->reference : widgets.valveChart->reference;
}

Fl_Light_Button* mapButton(int column)
{
    Fl_Light_Button* const buttons[kGridColumns] = {widgets.ignMap0, widgets.ignMap1, widgets.pvsMap0,
                                                   widgets.pvsMap1};
    return buttons[column];
}

// The grid's current cell is the charts' cursor: its row's point, and its
// column's map button pressed.
void chartsFollowGrid()
{
    const MapGrid* grid = widgets.mapGrid;
    const int row = grid->anchorRow(), column = grid->anchorColumn();
    if (row < 0 || row >= kGridRows || column < 0 || column >= kGridColumns)
        return;
    for (MyChart* chart : {widgets.ignitionChart, widgets.valveChart}) {
        if (chart->cursor != gridPoint(row)) {
            chart->cursor = gridPoint(row);
            chart->redraw();
        }
    }
    if (!mapButton(column)->value()) {
        mapButton(column)->setonly();
        onMapSelect(nullptr, nullptr);
    }
}

void selectCell(int row, int column)
{
    widgets.mapGrid->set_selection(row, column, row, column);
    chartsFollowGrid();
}

// What the message line shows of a text: its start, with control bytes as
// '?', so that a paste of megabytes or of a NUL reads plainly.
std::string inQuotes(std::string_view text)
{
    constexpr std::size_t kShown = 24;
    std::size_t length = std::min(text.size(), kShown);
    while (length < text.size() && length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        --length;  // no UTF-8 character cut in two
    std::string shown(text.substr(0, length));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return '"' + shown + (length < text.size() ? "...\"" : "\"");
}

// A refused value beeps and says why on the message line.
void refuse(const std::string& why)
{
    dialogs.errorBeep();
    showTableMessage(why);
}

void refuseNumber(std::string_view text)
{
    refuse("Not a number: " + inQuotes(text));
}

void refusePaste(const PasteRefusal& why, const CellBlock& cells)
{
    const std::string n = std::to_string(why.count);
    switch (why.kind) {
    case PasteRefusal::notANumber:
        refuse("Paste refused: row " + std::to_string(why.row) + ", field " + std::to_string(why.field) +
               " is not a number (" + inQuotes(why.text) + ")");
        return;
    case PasteRefusal::pastLastRow:
        refuse("Paste refused: " + n + " rows from " + std::to_string(gridPoint(cells.top) * 100) + " rpm run past " +
               std::to_string(gridPoint(kGridRows - 1) * 100) + " rpm");
        return;
    case PasteRefusal::pastLastColumn:
        refuse("Paste refused: " + n + " columns from " + kColumnTitles[cells.left] + " run past " +
               kColumnTitles[kGridColumns - 1]);
        return;
    }
}

void redrawTables()
{
    widgets.ignitionChart->redraw();
    widgets.valveChart->redraw();
    widgets.mapGrid->redraw();
}

// A button pressed by its shortcut takes the focus; typing goes on in the grid.
void tableChanged(const CellBlock& cells)
{
    redrawTables();
    recordTableChange(cells);
    if (widgets.mapGrid->visible_r())
        widgets.mapGrid->take_focus();
}

void closeEditor()
{
    MapGrid* grid = widgets.mapGrid;
    grid->editor->hide();
    grid->editRow = grid->editColumn = -1;
    if (grid->visible_r())
        grid->take_focus();
    grid->redraw();
}

void startEdit(const char* text)
{
    MapGrid* grid = widgets.mapGrid;
    grid->editRow = grid->anchorRow();
    grid->editColumn = grid->anchorColumn();
    int x, y, w, h;
    grid->find_cell(Fl_Table::CONTEXT_TABLE, grid->editRow, grid->editColumn, x, y, w, h);
    grid->editor->resize(x, y, w, h);
    grid->editor->value(text);
    grid->editor->position(grid->editor->size());
    grid->editor->show();
    grid->editor->take_focus();
}

// A text that is no number beeps and leaves the editor as it is.
bool commitEdit(bool moveDown)
{
    MapGrid* grid = widgets.mapGrid;
    double value;
    if (!parseNumber(grid->editor->value(), value)) {
        refuseNumber(grid->editor->value());
        return false;
    }
    const int row = grid->editRow;
    const int column = grid->editColumn;
    const CellBlock cells = gridSelection();
    closeEditor();
    setCell(gridColumns()[column], row, value);
    tableChanged(cells);
    if (moveDown)
        selectCell(std::min(row + 1, kGridRows - 1), column);
    return true;
}

// Leaving the grid keeps what was typed, when it is a number.
void finishEdit()
{
    if (widgets.mapGrid->editor->visible() && !commitEdit(false))
        closeEditor();
}

// The selection covers what was pasted; a paste that filled the selection
// leaves it, its current cell included, as it was.
void onGridPaste(std::string_view text)
{
    const CellBlock cells = gridSelection();
    if (!inGrid(cells)) {
        dialogs.errorBeep();
        return;
    }
    std::vector<std::vector<double>> rows;
    PasteRefusal why;
    CellBlock pasted;
    if (!parseCells(text, rows, why) || !pasteCells(gridColumns(), cells, rows, pasted, why)) {
        refusePaste(why, cells);
        return;
    }
    if (pasted.bottom != cells.bottom || pasted.right != cells.right)
        selectGridCells(pasted);
    tableChanged(cells);
}

// One step up or down on every selected cell; quick steps on the same
// cells undo as one.
void nudge(int direction)
{
    const CellBlock cells = gridSelection();
    if (!inGrid(cells)) {
        dialogs.errorBeep();
        return;
    }
    nudgeCells(gridColumns(), cells, direction);
    redrawTables();
    recordTableChange(cells, true);
}

// 1 for the keys that raise the selection (+ on either keyboard, ]), -1 for
// those that lower it (the keypad's -, [), else 0. The main keyboard's -
// starts a typed number.
int nudgeDirection(int key, char typed)
{
    if (key == FL_KP + '+' || typed == '+' || typed == ']')
        return 1;
    if (key == FL_KP + '-' || typed == '[')
        return -1;
    return 0;
}

// The row marked for the engine, in the column of the ignition map its
// switch selects; a beep while no engine runs.
void selectEngineRow()
{
    const std::string mapSwitch = widgets.mapSwitch->value();
    const int row = widgets.mapGrid->engineRow;
    if (row < 0 || (mapSwitch != "MAP0" && mapSwitch != "MAP1")) {
        dialogs.errorBeep();
        return;
    }
    selectCell(row, mapSwitch == "MAP1" ? 1 : 0);
}

bool isPrintable(const char* text, int length)
{
    return length > 0 && static_cast<unsigned char>(text[0]) >= 0x20 && text[0] != 0x7F;
}

// The keys the grid takes while it, or its editor, has the focus. Every
// printable key is the grid's, so no label shortcut runs from typing.
bool takeGridKey()
{
    MapGrid* grid = widgets.mapGrid;
    const int key = Fl::event_key();
    const bool editing = grid->editor->visible();
    if (key == FL_Escape) {
        if (editing)
            closeEditor();
        return editing;
    }
    if (key == FL_Enter || key == FL_KP_Enter) {
        if (editing)
            commitEdit(true);
        else if (inGrid(gridSelection()))
            selectCell(std::min(grid->anchorRow() + 1, kGridRows - 1), grid->anchorColumn());
        return true;
    }
    if (Fl::event_state(FL_ALT | FL_META))
        return false;
    if (Fl::event_state(FL_CTRL)) {
        if (editing)
            return false;
        if (key == 'c' && inGrid(gridSelection())) {
            const std::string text = copyText(gridColumns(), gridSelection());
            Fl::copy(text.c_str(), static_cast<int>(text.size()), 1);
            return true;
        }
        if (key == 'v') {
            Fl::paste(*grid, 1);
            return true;
        }
        return false;
    }
    // Arrow keys and the like are the table's own, but not while typing.
    if (editing)
        return true;
    const char* text = Fl::event_text();
    if (!isPrintable(text, Fl::event_length()))
        return false;
    if (const int direction = nudgeDirection(key, text[0]))
        nudge(direction);
    else if (text[0] == ' ')
        selectEngineRow();
    else if (std::strchr("0123456789-.,", text[0]) && inGrid(gridSelection()))
        startEdit(std::string(text, 1).c_str());
    else
        dialogs.errorBeep();
    return true;
}

void runOperation(GridOperation op, bool needsValue)
{
    finishEdit();
    const CellBlock cells = gridSelection();
    double value = 0.0;
    if (!inGrid(cells)) {
        dialogs.errorBeep();
        return;
    }
    if (needsValue && !parseNumber(widgets.gridValue->value(), value)) {
        refuseNumber(widgets.gridValue->value());
        return;
    }
    applyOperation(gridColumns(), cells, op, value);
    tableChanged(cells);
}

void showReference(const MapTable* ignition, const MapTable* valve, bool unit, const std::string& name)
{
    comparedWithUnit = unit;
    widgets.ignitionChart->reference = ignition;
    widgets.valveChart->reference = valve;
    widgets.comparisonName->copy_label(name.c_str());
    if (ignition)
        widgets.clearComparison->activate();
    else
        widgets.clearComparison->deactivate();
    redrawTables();
}

// A ride log's cell: never selected, never typed into.
void drawLogCell(const std::string& text, int X, int Y, int W, int H)
{
    fl_color(FL_WHITE);
    fl_rectf(X, Y, W, H);
    fl_color(FL_DARK2);
    fl_rect(X, Y, W, H);
    fl_font(FL_HELVETICA, 14);
    fl_color(FL_FOREGROUND_COLOR);
    fl_draw(text.c_str(), X, Y, W - 6, H, FL_ALIGN_RIGHT);
}

Fl_Box* makeMessageLine(int y)
{
    Fl_Box* o = new Fl_Box(500, y, 510, 22);
    o->labelsize(14);
    o->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    return o;
}

Fl_Button* makeGridButton(int x, int y, const char* label, int key, Fl_Callback* cb)
{
    Fl_Button* o = new Fl_Button(x, y, 190, 34, label);
    o->labelsize(16);
    if (key)
        o->shortcut(FL_ALT | key);
    o->callback(cb);
    return o;
}
}  // namespace

MapGrid::MapGrid(int x, int y, int w, int h)
    : Fl_Table(x, y, w, h)
{
    editor = new Fl_Input(x, y, 0, 0);
    editor->hide();
    editor->when(FL_WHEN_NEVER);  // Enter and Escape go on to the grid
    end();
}

// Whatever moves the current cell, a click or a key, moves the
// charts' cursor with it.
int MapGrid::handle(int event)
{
    const int row = current_row, column = current_col;
    const int taken = takeEvent(event);
    if (current_row != row || current_col != column)
        chartsFollowGrid();
    return taken;
}

int MapGrid::takeEvent(int event)
{
    switch (event) {
    case FL_SHOW: {
        const int taken = Fl_Table::handle(event);
        gridFollowsCharts();
        take_focus();
        return taken;
    }
    case FL_HIDE:
        finishEdit();
        break;
    case FL_ENTER:
        return 1;  // the mouse passing over takes no focus from the Value field
    case FL_PUSH: {
        // A hidden editor keeps the bounds of the cell typed into last.
        if (!editor->visible() || !Fl::event_inside(editor)) {
            finishEdit();
            take_focus();
        }
        int row, column;
        ResizeFlag resize;
        const TableContext context = cursor2rowcol(row, column, resize);
        if ((context == CONTEXT_CELL || context == CONTEXT_COL_HEADER) && column >= kGridColumns)
            return 1;
        break;
    }
    case FL_KEYBOARD:
        if (takeGridKey())
            return 1;
        // Escape closes the window; Alt and Ctrl keys are shortcuts.
        if (Fl::event_key() == FL_Escape || Fl::event_state(FL_CTRL | FL_ALT | FL_META))
            return 0;
        break;
    case FL_PASTE:
        // Whole, so a NUL inside the text is refused as any other stray byte.
        onGridPaste(std::string_view(Fl::event_text(), Fl::event_length()));
        return 1;
    }
    const int taken = Fl_Table::handle(event);
    keepSelectionInMaps();
    return taken;
}

void MapGrid::keepSelectionInMaps()
{
    const int last = kGridColumns - 1;
    if (current_col > last || select_col > last)
        set_selection(current_row, std::min(current_col, last), select_row, std::min(select_col, last));
}

void MapGrid::draw_cell(TableContext context, int R, int C, int X, int Y, int W, int H)
{
    char text[16];
    switch (context) {
    case CONTEXT_COL_HEADER:
        fl_draw_box(FL_THIN_UP_BOX, X, Y, W, H, col_header_color());
        fl_font(FL_HELVETICA_BOLD, 14);
        fl_color(FL_FOREGROUND_COLOR);
        fl_draw(C < kGridColumns ? kColumnTitles[C] : logColumnTitle(C - kGridColumns), X, Y, W, H, FL_ALIGN_CENTER);
        return;
    case CONTEXT_ROW_HEADER: {
        const bool engine = R == engineRow;
        const bool replay = R == replayRow;
        fl_draw_box(FL_THIN_UP_BOX, X, Y, W, H, engine ? FL_DARK_GREEN : replay ? FL_DARK_BLUE : row_header_color());
        fl_font(FL_HELVETICA, 14);
        fl_color(engine || replay ? FL_WHITE : FL_FOREGROUND_COLOR);
        std::snprintf(text, sizeof text, "%d", gridPoint(R) * 100);
        fl_draw(text, X, Y, W - 6, H, FL_ALIGN_RIGHT);
        return;
    }
    case CONTEXT_CELL: {
        if (R == editRow && C == editColumn)
            return;  // the editor lies over it
        if (C >= kGridColumns) {
            drawLogCell(logCellText(R, C - kGridColumns), X, Y, W, H);
            return;
        }
        const GridColumn column = gridColumns()[C];
        const MapTable* reference = referenceFor(C);
        const TimingReference timing = timingReference(cdiDevice);
        const bool selected = is_selected(R, C);
        Fl_Color fill = FL_WHITE;
        if (selected)
            fill = FL_SELECTION_COLOR;
        else if (reference && (comparedWithUnit ? cellChangesUnit(column, referenceUnit, timing, R)
                                                : cellDiffers(column, *reference, R)))
            fill = kDiffersColour;
        else if (!column.whole)
            fill = logTint(R, static_cast<int>(column.map));
        fl_color(fill);
        fl_rectf(X, Y, W, H);
        fl_color(FL_DARK2);
        fl_rect(X, Y, W, H);
        fl_font(FL_HELVETICA, 14);
        const bool limited =
            !column.whole && runsDifferently(cellValue(column, R), static_cast<std::uint16_t>(gridPoint(R)), timing);
        if (limited)
            fl_color(fl_rgb_color(200, 90, 0));
        else
            fl_color(selected ? FL_WHITE : FL_FOREGROUND_COLOR);
        fl_draw(cellText(column, R).c_str(), X, Y, W - 6, H, FL_ALIGN_RIGHT);
        return;
    }
    default:
        return;
    }
}

void buildTableTab()
{
    Fl_Group* tab = new Fl_Group(15, 50, 1015, 550, "&Table");
    tab->labelsize(18);
    widgets.tableTab = tab;

    MapGrid* grid = new MapGrid(25, 60, 452, 522);
    grid->rows(kGridRows);
    grid->cols(kGridColumns);
    grid->row_header(1);
    grid->row_header_width(70);
    grid->row_height_all(16);
    grid->col_header(1);
    grid->col_header_height(24);
    grid->col_width_all(94);
    widgets.mapGrid = grid;

    Fl_Input* value = new Fl_Input(570, 70, 120, 30, "&Value");
    value->labelsize(16);
    value->textsize(16);
    value->shortcut(FL_ALT | 'v');
    widgets.gridValue = value;

    makeGridButton(500, 115, "&Set", 's', onGridSet);
    makeGridButton(500, 155, "&Add", 'a', onGridAdd);
    makeGridButton(500, 195, "S&cale %", 'c', onGridScale);
    makeGridButton(500, 235, "&Interpolate", 'i', onGridInterpolate);
    makeGridButton(500, 275, "Smoot&h", 'h', onGridSmooth);
    makeGridButton(500, 315, "Copy map &0 to 1", '0', onGridCopyMap);

    widgets.compareWith = makeGridButton(500, 385, "Compare &with\xE2\x80\xA6", 'w', onCompareWith);
    widgets.compareWithUnit = makeGridButton(710, 385, "Compare with &unit", 'u', onCompareWithUnit);
    widgets.clearComparison = makeGridButton(500, 425, "Clear comparison", 0, onClearComparison);
    widgets.clearComparison->deactivate();
    Fl_Box* name = new Fl_Box(500, 465, 510, 30);
    name->labelsize(16);
    name->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
    widgets.comparisonName = name;
    widgets.unitLimits = makeMessageLine(500);
    widgets.tableMessage = makeMessageLine(525);
    widgets.loadLog = makeGridButton(710, 115, "&Log\xE2\x80\xA6", 'l', onLoadLog);
    widgets.clearLog = makeGridButton(710, 155, "Clear log", 0, onClearLog);
    buildRideLogControls();
    tab->end();
    tab->hide();
}

CellBlock gridSelection()
{
    CellBlock cells;
    widgets.mapGrid->get_selection(cells.top, cells.left, cells.bottom, cells.right);
    return cells;
}

void selectGridCells(const CellBlock& cells)
{
    widgets.mapGrid->set_selection(cells.top, cells.left, cells.bottom, cells.right);
    chartsFollowGrid();
}

// A selection whose current cell is the cursor's stays as it is, so a
// window restored from an icon keeps it.
void gridFollowsCharts()
{
    MapGrid* grid = widgets.mapGrid;
    int column = 0;
    for (int c = 0; c < kGridColumns; ++c)
        if (mapButton(c)->value())
            column = c;
    const int row = gridRow(widgets.ignitionChart->cursor);
    if (grid->anchorRow() != row || grid->anchorColumn() != column)
        selectCell(row, column);
}

void refreshMapGrid()
{
    if (widgets.mapGrid->editor->visible())
        closeEditor();
    widgets.mapGrid->redraw();
}

void showEngineSpeed()
{
    const char* text = widgets.rpm->value();
    int rpm = 0;
    const char* end = text + std::strlen(text);
    if (std::from_chars(text, end, rpm).ptr != end)
        rpm = 0;
    const int point = enginePoint(rpm);
    for (MyChart* chart : {widgets.ignitionChart, widgets.valveChart}) {
        if (chart->enginePoint != point) {
            chart->enginePoint = point;
            chart->redraw();
        }
    }
    MapGrid* grid = widgets.mapGrid;
    if (grid->engineRow != engineRow(rpm)) {
        grid->engineRow = engineRow(rpm);
        grid->redraw();
    }
}

void onGridSet(Fl_Widget*, void*) { runOperation(GridOperation::set, true); }
void onGridAdd(Fl_Widget*, void*) { runOperation(GridOperation::add, true); }
void onGridScale(Fl_Widget*, void*) { runOperation(GridOperation::scalePercent, true); }
void onGridInterpolate(Fl_Widget*, void*) { runOperation(GridOperation::interpolate, false); }
void onGridSmooth(Fl_Widget*, void*) { runOperation(GridOperation::smooth, false); }

void onGridCopyMap(Fl_Widget*, void*)
{
    finishEdit();
    const CellBlock cells = gridSelection();
    if (!inGrid(cells)) {
        dialogs.errorBeep();
        return;
    }
    copyMap0To1(gridColumns(), cells);
    tableChanged(cells);
}

// A file that cannot be read whole changes nothing, as in File Open.
void onCompareWith(Fl_Widget*, void*)
{
    std::string folder;
    std::error_code error;
    if (!restorePointFolderPath(folder) || !std::filesystem::is_directory(std::filesystem::u8path(folder), error))
        folder.clear();
    std::string path;
    const int chosen = chooseFile(
        {Fl_Native_File_Chooser::BROWSE_FILE, "Compare with CDI data", "CDI data\t*.cdi", 0, folder.c_str()}, path);
    if (chosen > 0)
        return;
    MapFileRecord record;
    if (chosen < 0 || !readMapFile(path.c_str(), record)) {
        dialogs.errorBox(kFileError);
        return;
    }
    // Through the edited tables' clamps, as a load stores.
    referenceIgnition = ignitionTable;
    referenceValve = valveTable;
    storeMapPoints(record, referenceIgnition, referenceValve);
    showReference(&referenceIgnition, &referenceValve, false,
                  "Compared with " + std::filesystem::u8path(path).filename().u8string());
}

// What the unit holds, beside the maps as a write would send them; the
// maps, options, undo and autosave stay as they are.
void onCompareWithUnit(Fl_Widget*, void*)
{
    finishEdit();
    ReadReport report;
    if (!readUnitImage(report))
        return;
    UnitContents contents;
    decodeUnitImage(report.image, cdiDevice.timerConstant, contents);
    referenceIgnition = contents.ignition;
    referenceValve = contents.valve;
    referenceUnit = report.image;
    const std::tm now = localTime(std::time(nullptr));
    char label[64];
    std::strftime(label, sizeof label, "Compared with the unit at %H:%M:%S", &now);
    showReference(&referenceIgnition, &referenceValve, true, label);
}

void onClearComparison(Fl_Widget*, void*)
{
    showReference(nullptr, nullptr, false, "");
}

void refreshUnitLimits()
{
    const int points = pointsIn(differentRuns(ignitionTable, timingReference(cdiDevice)));
    std::string line;
    if (points == 1)
        line = "1 point runs differently on the unit; Device Write lists it.";
    else if (points > 1)
        line = std::to_string(points) + " points run differently on the unit; Device Write lists them.";
    widgets.unitLimits->copy_label(line.c_str());
    widgets.tableMessage->copy_label("");
    widgets.ignitionChart->redraw();
    widgets.mapGrid->redraw();
}

// '@' would start a symbol in a label; "@@" draws it.
void showTableMessage(const std::string& text)
{
    std::string label;
    for (const char c : text)
        label += c == '@' ? std::string("@@") : std::string(1, c);
    widgets.tableMessage->copy_label(label.c_str());
}
