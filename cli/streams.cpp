// The files and standard streams of the commands: "-" is the console's own
// stream; a device or a FIFO is read or written in place; every other name
// is a file by the rules of the user's files.
#include "streams.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "map_file.h"
#include "unit_image.h"

bool isStandardStream(const std::string& name)
{
    return name == "-";
}

bool namesStandardInput(const Console& console, const std::string& name)
{
    // A regular file standard input was redirected from is read afresh by
    // its name, as often as it is named.
    return isStandardStream(name) || (isStreamPath(name.c_str()) && isSameFile(name.c_str(), console.in));
}

bool isStreamInput(const Console& console, const std::string& name)
{
    return namesStandardInput(console, name) || isStreamPath(name.c_str());
}

bool readInput(const Console& console, const std::string& name, std::size_t maxSize, std::string& text)
{
    if (namesStandardInput(console, name))
        return readWhole(console.in, maxSize, text);
    if (!isStreamPath(name.c_str()))
        return readUserFile(name.c_str(), maxSize, text);
    std::FILE* file = openStreamInput(name.c_str());
    const bool read = file && readWhole(file, maxSize, text);
    if (file)
        std::fclose(file);
    return read;
}

bool readMapInput(const Console& console, const std::string& name, MapFileRecord& record)
{
    std::string text;
    return readInput(console, name, kMaxMapFileSize, text) && parseMapFile(text, record);
}

bool readImageInput(const Console& console, const std::string& name, UnitImage& image)
{
    std::string bytes;
    if (!readInput(console, name, sizeof image.bytes, bytes) || bytes.size() != sizeof image.bytes)
        return false;
    std::memcpy(image.bytes, bytes.data(), sizeof image.bytes);
    return true;
}

bool writeOutput(const Console& console, const std::string& name, Contents contents, const WriteContents& write)
{
    if (isStandardStream(name))
        return write(console.out) && std::fflush(console.out) == 0;
    return saveOutputFile(name.c_str(), contents, write);
}

void printJson(const Console& console, const nlohmann::ordered_json& value)
{
    const std::string line = value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::fprintf(console.out, "%s\n", line.c_str());
}

std::string cannotRead(const std::string& file, const char* what)
{
    return (isStandardStream(file) ? "standard input" : file) + " cannot be read as " + what
           + " (missing, unreadable or damaged); nothing was changed";
}

std::string cannotWrite(const std::string& file)
{
    return "cannot write " + (isStandardStream(file) ? "standard output" : file);
}
