// The Table tab: the four maps as a grid of the 31 cursor positions, typed
// into and worked on a block at a time, with the row the engine runs at
// marked and the cells that differ from a known tune tinted.
#pragma once

#include <FL/Fl_Table.H>

#include <string>

#include "edit_history.h"

class Fl_Input;
class Fl_Widget;

class MapGrid : public Fl_Table {
public:
    MapGrid(int x, int y, int w, int h);

    Fl_Input* editor;  // over the cell being typed into; hidden otherwise
    int editRow = -1;
    int editColumn = -1;
    int engineRow = -1;  // the row marked for the engine's speed, or -1
    int replayRow = -1;  // the row of a ride log's sample being replayed, or -1

    // Where the selection was started: the cell typing goes into, and the
    // charts' cursor.
    int anchorRow() const { return current_row; }
    int anchorColumn() const { return current_col; }
    using Fl_Table::find_cell;

    int handle(int event) override;

protected:
    int takeEvent(int event);
    // A ride log's columns are only shown: a selection stays in the maps.
    void keepSelectionInMaps();
    void draw_cell(TableContext context, int R, int C, int X, int Y, int W, int H) override;
};

// Builds the tab into the tabs group being built.
void buildTableTab();

// The grid's selection, and putting one back, as undo does; the charts'
// cursor and map follow its current cell.
CellBlock gridSelection();
void selectGridCells(const CellBlock& cells);
// The other way: the current cell to the charts' cursor and map, as the
// grid is shown or undo moves the cursor.
void gridFollowsCharts();
// Drops what is being typed and shows the tables as they are.
void refreshMapGrid();

// After each status poll: the engine's point on both charts and its row in
// the grid, from the R.P.M. field; redrawn only where they moved.
void showEngineSpeed();

void onGridSet(Fl_Widget*, void*);
void onGridAdd(Fl_Widget*, void*);
void onGridScale(Fl_Widget*, void*);
void onGridInterpolate(Fl_Widget*, void*);
void onGridSmooth(Fl_Widget*, void*);
void onGridCopyMap(Fl_Widget*, void*);
void onCompareWith(Fl_Widget*, void*);
void onCompareWithUnit(Fl_Widget*, void*);
void onClearComparison(Fl_Widget*, void*);

// After any change to the maps or options: the count of points that run
// differently on the unit, the ceiling on the ignition chart and the orange
// cells; and the message line emptied.
void refreshUnitLimits();
// The latest message of the Table tab, under the count, until the next change.
void showTableMessage(const std::string& text);
