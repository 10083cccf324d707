// Maps to and from CSV. The reader is as strict as the .cdi loader: a file
// is taken whole or not at all.
#include "map_csv.h"

#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text_fields.h"

namespace {
const char kHeader[] = "rpm,ign_map0,ign_map1,pv_map0,pv_map1";
const char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr std::size_t kMapColumns = 5;

// The lines without their line ends (LF or CR LF); a last line without one
// counts.
std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::string_view::size_type end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

// True when the line has exactly `count` comma-separated fields.
bool splitFields(std::string_view line, std::string_view* fields, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const std::string_view::size_type comma = line.find(',');
        fields[i] = line.substr(0, comma);
        if (comma == std::string_view::npos)
            return i + 1 == count;
        line.remove_prefix(comma + 1);
    }
    return false;
}

bool readValue(std::string_view field, double& value)
{
    return readNumber(field, value) && std::isfinite(value);
}

// Row `index`: its rpm and the four maps' points at it.
bool readMapRow(std::string_view line, std::uint32_t index, MapFileRecord& record)
{
    std::string_view fields[kMapColumns];
    std::int32_t rpm = 0;
    return splitFields(line, fields, kMapColumns) && readNumber(fields[0], rpm)
           && rpm == static_cast<std::int32_t>(index * 100) && readValue(fields[1], record.ignition[index])
           && readValue(fields[2], record.ignition[MapTable::kPoints + index])
           && readValue(fields[3], record.valve[index])
           && readValue(fields[4], record.valve[MapTable::kPoints + index]);
}

bool readOptionLine(std::string_view line, const char* key, std::int32_t& value)
{
    std::string_view fields[2];
    return splitFields(line, fields, 2) && fields[0] == key && readNumber(fields[1], value);
}
}  // namespace

bool writeMapCsv(std::FILE* file, const MapTable& ignition, const MapTable& valve, const ConfigBlock& config)
{
    std::fprintf(file, "%s\n", kHeader);
    for (std::uint32_t i = 0; i < MapTable::kPoints; ++i)
        std::fprintf(file, "%u,%f,%f,%f,%f\n", i * 100, ignition.value(0, i), ignition.value(1, i),
                     valve.value(0, i), valve.value(1, i));
    std::fprintf(file, "\n");
    std::uint8_t values[kOptionLines];
    optionValues(config, values);
    for (int i = 0; i < kOptionLines; ++i)
        std::fprintf(file, "%s,%d\n", kOptionKeys[i], values[i]);
    return !std::ferror(file);
}

int parseMapCsv(const std::string& text, MapFileRecord& record)
{
    std::string_view rest = text;
    if (rest.substr(0, 3) == kByteOrderMark)
        rest.remove_prefix(3);
    std::vector<std::string_view> lines = splitLines(rest);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();

    const std::size_t firstOption = 1 + MapTable::kPoints + 1;
    if (lines.size() < firstOption + kRequiredOptionLines || lines.size() > firstOption + kOptionLines
        || lines[0] != kHeader || !lines[firstOption - 1].empty())
        return 0;
    for (std::uint32_t i = 0; i < MapTable::kPoints; ++i)
        if (!readMapRow(lines[1 + i], i, record))
            return 0;
    record.optionCount = static_cast<int>(lines.size() - firstOption);
    for (int i = 0; i < record.optionCount; ++i)
        if (!readOptionLine(lines[firstOption + i], kOptionKeys[i], record.options[i]))
            return 0;
    return 1;
}
