// What the Table tab does to the maps, without the toolkit: which point a
// cell stands for, how a cell is set, the operations on a block of cells,
// and the text Ctrl+C gives and Ctrl+V takes.
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

// For each table with a selected column, every point of map 0 from the
// first to the last selected row's point, both included, into map 1.
void copyMap0To1(const GridColumns& columns, const CellBlock& cells);

// The block as tab-separated lines, each value the shortest text that reads
// back to the same number.
std::string copyText(const GridColumns& columns, const CellBlock& cells);

// The whole text as one finite number, "." for decimals.
bool parseNumber(std::string_view text, double& value);
// Tab-separated lines (LF or CR LF, one empty line at the end allowed) into
// rows of values. False when a field is empty or no number.
bool parseCells(std::string_view text, std::vector<std::vector<double>>& rows);
// Sets the values with the first at (top, left). False, with nothing
// changed, when a value would land outside the grid.
bool pasteCells(const GridColumns& columns, int top, int left, const std::vector<std::vector<double>>& rows);

// The engine's point on the charts, and the row nearest its speed (a tie
// goes to the higher row); -1 for both while it stands.
int enginePoint(int rpm);
int engineRow(int rpm);
