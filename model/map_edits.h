// How the maps are edited, without the toolkit: the re-interpolation around
// a point that every edit ends with, and the Table tab's side of it: which
// point a cell stands for, how a cell is set, the operations on a block of
// cells, and the text Ctrl+C gives and Ctrl+V takes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "edit_history.h"
#include "timing_codec.h"
#include "unit_image.h"

struct MapTable;

// The re-interpolation of a value step, on any map: the points within
// `step` of point p go on straight lines toward the points `step` away.
void spreadMap(MapTable& table, std::uint32_t map, int step, int p);

// What one UP or DOWN step adds or takes away: a tenth of a degree on an
// ignition map, one on a valve map.
constexpr double kIgnitionStep = 0.1;
constexpr double kValveStep = 1.0;

constexpr int kGridRows = 31;    // 500 to 15,500 rpm
constexpr int kGridColumns = 4;  // IGN MAP0, IGN MAP1, PVS MAP0, PVS MAP1
constexpr int kGridStep = 5;     // map points from one row to the next

// The map point a row stands for: row 0 is point 5, 500 rpm.
constexpr int gridPoint(int row) { return (row + 1) * kGridStep; }
// The row of a cursor position, held to the grid.
int gridRow(int point);

// One column: one map of one table, held to 0..valueRange as its chart holds it.
struct GridColumn {
    MapTable* table;
    std::uint32_t map;
    int valueRange;
    bool whole;  // a valve map: shown as the whole number the unit receives
};
using GridColumns = std::array<GridColumn, kGridColumns>;

double cellValue(const GridColumn& column, int row);
// As UP and DOWN store at the cursor: held to 0..valueRange, stored through
// the table's clamps, then the points toward the neighbouring rows are
// re-interpolated.
void setCell(const GridColumn& column, int row, double value);

// "12.3" for ignition, "87" for a valve value of 87.9.
std::string cellText(const GridColumn& column, int row);
// Whether the cell shows another value than the same cell of `reference`:
// by more than 0.05 degree, or by another whole number.
bool cellDiffers(const GridColumn& column, const MapTable& reference, int row);
// Whether a write would send the cell's point to the unit as another timer
// word (encoded with `timing`) or valve byte than `unit` holds.
bool cellChangesUnit(const GridColumn& column, const UnitImage& unit, const TimingReference& timing, int row);

// True when the block lies inside the grid, top-left first.
bool inGrid(const CellBlock& cells);

// Each acts on every selected cell. Interpolate draws a straight line in
// each column between its first and last selected rows; Smooth makes each
// inner row the mean of itself and its two neighbours as they were before.
enum class GridOperation { set, add, scalePercent, interpolate, smooth };
void applyOperation(const GridColumns& columns, const CellBlock& cells, GridOperation op, double value);
// One UP step (direction 1) or DOWN step (-1) on every selected cell, as
// Add with its column's step.
void nudgeCells(const GridColumns& columns, const CellBlock& cells, int direction);

// For each table with a selected column, every point of map 0 from the
// first to the last selected row's point, both included, into map 1.
void copyMap0To1(const GridColumns& columns, const CellBlock& cells);

// The block as tab-separated lines, each value the shortest text that reads
// back to the same number.
std::string copyText(const GridColumns& columns, const CellBlock& cells);

// The whole text as one finite number; "," may stand for the decimal point
// (as a European spreadsheet writes it), but a text holding both is none.
bool parseNumber(std::string_view text, double& value);

// Why a paste was refused.
struct PasteRefusal {
    enum Kind { notANumber, pastLastRow, pastLastColumn };
    Kind kind = notANumber;
    int row = 0, field = 0;  // notANumber: its line and field, from 1
    std::string text;        // notANumber: the field as it stands
    int count = 0;           // pastLastRow: the block's rows; pastLastColumn: its columns
};

// Tab-separated lines (LF or CR LF, one empty line at the end allowed) into
// rows of values. False, saying why, when a field is empty or no number.
bool parseCells(std::string_view text, std::vector<std::vector<double>>& rows, PasteRefusal& why);
// Where a paste onto a selection inside the grid goes, as a spreadsheet
// pastes: one value fills every selected cell, a block whose rows and
// columns divide the selection's fills it by repetition, and anything else
// (rows of different lengths too) goes at the selection's top-left. Sets
// the values row by row and gives the block it covered; false, saying why,
// with nothing changed, when a value would land outside the grid.
bool pasteCells(const GridColumns& columns, const CellBlock& selection, const std::vector<std::vector<double>>& rows,
                CellBlock& pasted, PasteRefusal& why);

// The engine's point on the charts, and the row nearest its speed (a tie
// goes to the higher row); -1 for both while it stands.
int enginePoint(int rpm);
int engineRow(int rpm);
