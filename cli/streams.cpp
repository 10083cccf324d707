// The files and standard streams of the commands: "-" is the console's own
// stream; a device or a FIFO is read or written in place; every other name
// is a file by the rules of the user's files.
#include "streams.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "map_file.h"
#include "unit_image.h"

namespace {
namespace fs = std::filesystem;

// Why reading a whole input failed, errno as the read left it.
std::string readFailure(std::size_t maxSize)
{
    if (errno != EFBIG)
        return systemReason(errno);
    constexpr std::size_t kMiB = 1024 * 1024;
    return "file too large (over "
           + (maxSize % kMiB == 0 ? std::to_string(maxSize / kMiB) + " MiB" : std::to_string(maxSize) + " bytes")
           + ")";
}

// The length of the UTF-8 character at `p` (of `left` bytes), or 0 when
// the bytes there are none: a stray or missing continuation byte, an
// overlong form, a surrogate or a value beyond U+10FFFF.
std::size_t utf8Length(const unsigned char* p, std::size_t left)
{
    const std::size_t n = p[0] < 0xC2 ? 0 : p[0] < 0xE0 ? 2 : p[0] < 0xF0 ? 3 : p[0] < 0xF5 ? 4 : 0;
    if (n == 0 || n > left)
        return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80)
            return 0;
    const bool overlong = (p[0] == 0xE0 && p[1] < 0xA0) || (p[0] == 0xF0 && p[1] < 0x90);
    const bool outOfRange = (p[0] == 0xED && p[1] >= 0xA0) || (p[0] == 0xF4 && p[1] >= 0x90);
    return overlong || outOfRange ? 0 : n;
}
}  // namespace

std::string systemReason(int error)
{
    return error ? std::strerror(error) : "failed";
}

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

bool readInput(const Console& console, const std::string& name, std::size_t maxSize, std::string& text,
               std::string& why)
{
    errno = 0;
    bool read = false;
    if (namesStandardInput(console, name)) {
        read = readWhole(console.in, maxSize, text);
    } else if (!isStreamPath(name.c_str())) {
        read = readUserFile(name.c_str(), maxSize, text);
    } else if (std::FILE* file = openStreamInput(name.c_str())) {
        read = readWhole(file, maxSize, text);
        const int error = errno;
        std::fclose(file);
        errno = error;
    }
    if (!read)
        why = readFailure(maxSize);
    return read;
}

bool readMapInput(const Console& console, const std::string& name, MapFileRecord& record, std::string& why)
{
    std::string text;
    return readInput(console, name, kMaxMapFileSize, text, why) && parseMapFile(text, record, &why);
}

bool readImageInput(const Console& console, const std::string& name, UnitImage& image, std::string& why)
{
    std::string bytes;
    if (!readInput(console, name, sizeof image.bytes, bytes, why))
        return false;
    if (bytes.size() != sizeof image.bytes) {
        why = std::to_string(bytes.size()) + " bytes, not " + std::to_string(sizeof image.bytes);
        return false;
    }
    std::memcpy(image.bytes, bytes.data(), sizeof image.bytes);
    return true;
}

bool sameFile(const Console& console, const Named& a, const Named& b)
{
    if (isStandardStream(a.name) != isStandardStream(b.name)) {
        const Named& stream = isStandardStream(a.name) ? a : b;
        const std::string& path = isStandardStream(a.name) ? b.name : a.name;
        return !isStreamPath(path.c_str()) && isSameFile(path.c_str(), stream.output ? console.out : console.in);
    }
    if (isStandardStream(a.name) || isStreamPath(a.name.c_str()) || isStreamPath(b.name.c_str()))
        return false;
    std::error_code error;
    const fs::path x = fs::u8path(a.name), y = fs::u8path(b.name);
    const bool xThere = fs::exists(x, error), yThere = fs::exists(y, error);
    if (xThere || yThere)
        return xThere && yThere && fs::equivalent(x, y, error);
    // Where a link leads to nothing yet, the file will be made.
    std::string xTarget, yTarget;
    const auto whereMade = [&](const std::string& target) {
        return fs::weakly_canonical(fs::absolute(fs::u8path(target), error), error);
    };
    return resolveLinks(a.name.c_str(), xTarget) && resolveLinks(b.name.c_str(), yTarget)
           && whereMade(xTarget) == whereMade(yTarget);
}

int checkOutputs(const Console& console, const std::vector<std::string>& outputs,
                 const std::vector<std::string>& inputs)
{
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        std::string why;
        if (!isStandardStream(outputs[i]) && !canWriteOutput(outputs[i].c_str(), why))
            return fail(console, kFileError, cannotWrite(outputs[i], why));
        const Named output = {outputs[i], true};
        for (std::size_t j = 0; j < i; ++j)
            if (sameFile(console, output, {outputs[j], true}))
                return fail(console, kFileError,
                            "the output " + fileName(outputs[i], true) + " is the same file as the output "
                                + fileName(outputs[j], true));
        for (const std::string& input : inputs)
            if (sameFile(console, output, {input, false}))
                return fail(console, kFileError,
                            "the output " + fileName(outputs[i], true) + " is the same file as the input "
                                + fileName(input, false));
    }
    return kDone;
}

int writeOutputs(const Console& console, const std::vector<Output>& outputs)
{
    struct Staged {
        std::string name;
        StagedFile file;
    };
    std::vector<Staged> staged;
    // Whatever is not in place yet is dropped; those from `placed` on.
    const auto failed = [&](const std::string& name, std::size_t placed) {
        const std::string why = systemReason(errno);
        for (std::size_t i = placed; i < staged.size(); ++i)
            dropStaged(staged[i].file);
        return fail(console, kFileError, cannotWrite(name, why));
    };
    // The regular files first, each finished beside its place.
    for (const Output& output : outputs) {
        if (isStandardStream(output.name) || isStreamPath(output.name.c_str()))
            continue;
        staged.push_back({output.name, {}});
        errno = 0;
        if (!stageUserFile(output.name.c_str(), output.contents, output.write, staged.back().file))
            return failed(output.name, 0);
    }
    // Then what is written in place, which has no place beside it.
    for (const Output& output : outputs) {
        errno = 0;
        const bool written = isStandardStream(output.name)
                                 ? output.write(console.out) && std::fflush(console.out) == 0
                                 : !isStreamPath(output.name.c_str())
                                       || saveOutputFile(output.name.c_str(), output.contents, output.write);
        if (!written)
            return failed(output.name, 0);
    }
    for (std::size_t i = 0; i < staged.size(); ++i) {
        errno = 0;
        if (!placeStaged(staged[i].file))
            return failed(staged[i].name, i + 1);
    }
    return kDone;
}

void printJson(const Console& console, const nlohmann::ordered_json& value)
{
    const std::string line = value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::fprintf(console.out, "%s\n", line.c_str());
}

std::string shown(const std::string& text)
{
    std::string out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = bytes[i] >= 0x20 && bytes[i] < 0x7F ? 1 : utf8Length(bytes + i, text.size() - i);
        // The C1 controls, U+0080 to U+009F, steer a terminal as ESC does.
        if (n == 2 && bytes[i] == 0xC2 && bytes[i + 1] < 0xA0)
            n = 0;
        if (n > 0) {
            out.append(text, i, n);
            i += n;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", bytes[i]);
        out += escaped;
        ++i;
    }
    return out;
}

std::string fileName(const std::string& file, bool output)
{
    if (isStandardStream(file))
        return output ? "standard output" : "standard input";
    return file.empty() ? "''" : file;
}

std::string cannotRead(const std::string& file, const char* what, const std::string& why)
{
    return fileName(file, false) + " cannot be read as " + what + ": " + why;
}

std::string cannotWrite(const std::string& file, const std::string& why)
{
    return "cannot write " + fileName(file, true) + ": " + why;
}
