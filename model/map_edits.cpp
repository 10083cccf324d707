// The arithmetic of map editing. Every value the Table tab sets goes in
// through setCell, so a cell set from the table lands exactly as UP and DOWN
// would leave it at that cursor position.
#include "map_edits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

#include "map_table.h"

// A point index below 0 turns into a huge unsigned one, which the table
// reads as -1.0 and refuses to store, so no index here can leave the table.
void spreadMap(MapTable& table, std::uint32_t m, int s, int p)
{
    constexpr int kPoints = MapTable::kPoints;
    auto v = [&](int i) { return table.value(m, static_cast<std::uint32_t>(i)); };
    auto store = [&](int i, double x) { table.setValue(m, static_cast<std::uint32_t>(i), x); };

    if (p == s) {
        for (int i = 0; i <= p - 1; ++i)
            store(i, v(p));
    } else {
        const double d = (v(p) - v(p - s)) / s;
        for (int i = p - s + 1; i <= p - 1; ++i)
            store(i, v(i - 1) + d);
    }

    if (p >= kPoints - s) {
        for (int i = p; i < kPoints; ++i)
            store(i, v(p));
    } else {
        const double d = (v(p + s) - v(p)) / s;
        for (int i = p + 1; i <= p + s - 1; ++i)
            store(i, v(i - 1) + d);
    }
}

int gridRow(int point)
{
    return std::clamp(point / kGridStep - 1, 0, kGridRows - 1);
}

double cellValue(const GridColumn& column, int row)
{
    return column.table->value(column.map, static_cast<std::uint32_t>(gridPoint(row)));
}

void setCell(const GridColumn& column, int row, double value)
{
    const int p = gridPoint(row);
    column.table->setValue(column.map, static_cast<std::uint32_t>(p),
                           std::clamp(value, 0.0, double(column.valueRange)));
    spreadMap(*column.table, column.map, kGridStep, p);
}

std::string cellText(const GridColumn& column, int row)
{
    const double v = cellValue(column, row);
    char text[32];
    if (column.whole)
        std::snprintf(text, sizeof text, "%d", static_cast<int>(v));
    else
        std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

bool cellDiffers(const GridColumn& column, const MapTable& reference, int row)
{
    const double v = cellValue(column, row);
    const double r = reference.value(column.map, static_cast<std::uint32_t>(gridPoint(row)));
    if (column.whole)
        return static_cast<int>(v) != static_cast<int>(r);
    return std::fabs(v - r) > 0.05;
}

bool cellChangesUnit(const GridColumn& column, const UnitImage& unit, const TimingReference& timing, int row)
{
    const auto point = static_cast<std::uint16_t>(gridPoint(row));
    const std::uint32_t k = column.map * MapTable::kPoints + point;
    const double v = cellValue(column, row);
    if (column.whole)
        return lowByte(v) != unit.block(kFirstValveBlock)[k];
    return encodeAdvance(v, point, timing).word != ignitionWord(unit, k);
}

bool inGrid(const CellBlock& cells)
{
    return cells.top >= 0 && cells.top <= cells.bottom && cells.bottom < kGridRows && cells.left >= 0 &&
           cells.left <= cells.right && cells.right < kGridColumns;
}

namespace {
// The new value of one cell, from the column's values before the operation.
double operated(GridOperation op, const std::vector<double>& before, int i, double value)
{
    const int last = static_cast<int>(before.size()) - 1;
    switch (op) {
    case GridOperation::set:
        return value;
    case GridOperation::add:
        return before[i] + value;
    case GridOperation::scalePercent:
        return before[i] * value / 100.0;
    case GridOperation::interpolate:
        return last == 0 ? before[0] : before[0] + (before[last] - before[0]) * i / last;
    case GridOperation::smooth:
        return (before[i - 1] + before[i] + before[i + 1]) / 3.0;
    }
    return before[i];
}
}  // namespace

// Rows are set top to bottom, so each row's spread meets the row above at
// its new value.
void applyOperation(const GridColumns& columns, const CellBlock& cells, GridOperation op, double value)
{
    const bool endsKept = op == GridOperation::interpolate || op == GridOperation::smooth;
    for (int c = cells.left; c <= cells.right; ++c) {
        std::vector<double> before;
        for (int r = cells.top; r <= cells.bottom; ++r)
            before.push_back(cellValue(columns[c], r));
        const int last = static_cast<int>(before.size()) - 1;
        for (int i = endsKept ? 1 : 0; i <= (endsKept ? last - 1 : last); ++i)
            setCell(columns[c], cells.top + i, operated(op, before, i, value));
    }
}

void nudgeCells(const GridColumns& columns, const CellBlock& cells, int direction)
{
    for (int c = cells.left; c <= cells.right; ++c)
        applyOperation(columns, {cells.top, c, cells.bottom, c}, GridOperation::add,
                       direction * (columns[c].whole ? kValveStep : kIgnitionStep));
}

void copyMap0To1(const GridColumns& columns, const CellBlock& cells)
{
    // Columns 0 and 1 are one table, 2 and 3 the other.
    for (int c : {0, 2}) {
        if (cells.right < c || cells.left > c + 1)
            continue;
        MapTable& table = *columns[c].table;
        for (int p = gridPoint(cells.top); p <= gridPoint(cells.bottom); ++p)
            table.setValue(1, static_cast<std::uint32_t>(p), table.value(0, static_cast<std::uint32_t>(p)));
    }
}

std::string copyText(const GridColumns& columns, const CellBlock& cells)
{
    std::string text;
    for (int r = cells.top; r <= cells.bottom; ++r) {
        for (int c = cells.left; c <= cells.right; ++c) {
            char number[32];
            const auto result = std::to_chars(number, number + sizeof number, cellValue(columns[c], r));
            text.append(number, result.ptr);
            text += c < cells.right ? '\t' : '\n';
        }
    }
    return text;
}

bool parseNumber(std::string_view text, double& value)
{
    std::string number(text);
    const std::string::size_type comma = number.find(',');
    if (comma != std::string::npos) {
        if (number.find('.') != std::string::npos)
            return false;
        number[comma] = '.';
    }
    const char* end = number.data() + number.size();
    const auto result = std::from_chars(number.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && std::isfinite(value);
}

bool parseCells(std::string_view text, std::vector<std::vector<double>>& rows, PasteRefusal& why)
{
    rows.clear();
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    while (true) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::vector<double>& row = rows.emplace_back();
        while (true) {
            const std::size_t tab = line.find('\t');
            const std::string_view field = line.substr(0, tab);
            if (!parseNumber(field, row.emplace_back())) {
                why = {PasteRefusal::notANumber, static_cast<int>(rows.size()), static_cast<int>(row.size()),
                       std::string(field), 0};
                return false;
            }
            if (tab == std::string_view::npos)
                break;
            line.remove_prefix(tab + 1);
        }
        if (eol == std::string_view::npos)
            return true;
        text.remove_prefix(eol + 1);
    }
}

bool pasteCells(const GridColumns& columns, const CellBlock& selection, const std::vector<std::vector<double>>& rows,
                CellBlock& pasted, PasteRefusal& why)
{
    int width = 0;
    bool even = true;
    for (const std::vector<double>& row : rows) {
        const int n = static_cast<int>(row.size());
        even = even && (width == 0 || n == width);
        width = std::max(width, n);
    }
    const int height = static_cast<int>(rows.size());
    const int selectedRows = selection.bottom - selection.top + 1;
    const int selectedColumns = selection.right - selection.left + 1;
    const bool fills = even && width > 0 && selectedRows % height == 0 && selectedColumns % width == 0;
    const int down = fills ? selectedRows / height : 1;
    const int across = fills ? selectedColumns / width : 1;
    pasted = {selection.top, selection.left, selection.top + down * height - 1, selection.left + across * width - 1};
    if (pasted.bottom >= kGridRows) {
        why = {PasteRefusal::pastLastRow, 0, 0, {}, height};
        return false;
    }
    if (pasted.right >= kGridColumns) {
        why = {PasteRefusal::pastLastColumn, 0, 0, {}, width};
        return false;
    }
    for (int r = 0; r < down * height; ++r) {
        const std::vector<double>& row = rows[r % rows.size()];
        for (int c = 0; c < across * static_cast<int>(row.size()); ++c)
            setCell(columns[selection.left + c], selection.top + r, row[c % row.size()]);
    }
    return true;
}

int enginePoint(int rpm)
{
    return rpm > 0 ? std::min(rpm / 100, static_cast<int>(MapTable::kPoints) - 1) : -1;
}

int engineRow(int rpm)
{
    return rpm > 0 ? gridRow((rpm + 250) / 500 * kGridStep) : -1;
}
