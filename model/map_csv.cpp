// Maps to and from CSV. The reader is as strict as the .cdi loader: a file
// is taken whole or not at all.
#include "map_csv.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text_fields.h"

namespace {
const char kHeader[] = "rpm,ign_map0,ign_map1,pv_map0,pv_map1";
const char kByteOrderMark[] = "\xEF\xBB\xBF";
constexpr std::size_t kMapColumns = 5;


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

// Row `index`: its rpm and the four maps' points at it. Null, or what is
// wrong with it.
const char* readMapRow(std::string_view line, std::uint32_t index, MapFileRecord& record)
{
    std::string_view fields[kMapColumns];
    std::int32_t rpm = 0;
    if (!splitFields(line, fields, kMapColumns))
        return "not five fields";
    if (!readNumber(fields[0], rpm) || rpm != static_cast<std::int32_t>(index * 100))
        return "not the rpm of its row";
    const bool read = readValue(fields[1], record.ignition[index])
                      && readValue(fields[2], record.ignition[MapTable::kPoints + index])
                      && readValue(fields[3], record.valve[index])
                      && readValue(fields[4], record.valve[MapTable::kPoints + index]);
    return read ? nullptr : "not a number";
}

const char* readOptionLine(std::string_view line, const char* key, std::int32_t& value)
{
    std::string_view fields[2];
    if (!splitFields(line, fields, 2) || fields[0] != key)
        return "not the option line expected there";
    return readNumber(fields[1], value) ? nullptr : "not a number";
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

int parseMapCsv(const std::string& text, MapFileRecord& record, std::string* why)
{
    std::string_view rest = text;
    if (rest.substr(0, 3) == kByteOrderMark)
        rest.remove_prefix(3);
    std::vector<std::string_view> lines = textLines(rest);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();

    // Line n of the file is lines[n - 1].
    const std::size_t firstOption = 1 + MapTable::kPoints + 1;
    if (lines.size() < firstOption + kRequiredOptionLines || lines.size() > firstOption + kOptionLines) {
        if (why)
            *why = std::to_string(lines.size()) + " lines, not " + std::to_string(firstOption + kRequiredOptionLines)
                   + " to " + std::to_string(firstOption + kOptionLines);
        return 0;
    }
    if (lines[0] != kHeader)
        return refuseLine(why, 1, "not the header rpm,ign_map0,ign_map1,pv_map0,pv_map1");
    if (!lines[firstOption - 1].empty())
        return refuseLine(why, firstOption, "not the empty line before the options");
    for (std::uint32_t i = 0; i < MapTable::kPoints; ++i)
        if (const char* wrong = readMapRow(lines[1 + i], i, record))
            return refuseLine(why, 2 + i, wrong);
    record.optionCount = static_cast<int>(lines.size() - firstOption);
    for (int i = 0; i < record.optionCount; ++i)
        if (const char* wrong = readOptionLine(lines[firstOption + i], kOptionKeys[i], record.options[i]))
            return refuseLine(why, firstOption + i + 1, wrong);
    return 1;
}
