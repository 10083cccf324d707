// The shared test helpers that need nothing of the program.
#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

double sampleIgnition(int k) { return (k % 35) + 0.125; }
double sampleValve(int k) { return (k % 160) + 0.5; }

std::string mapLine(const char* key, int map, int index, double value)
{
    char line[128];
    std::snprintf(line, sizeof line, "%s:%d\t%03d\t%f", key, map, index, value);
    return line;
}

std::vector<std::string> mapFileLines()
{
    std::vector<std::string> lines;
    for (int k = 0; k < 320; ++k)
        lines.push_back(mapLine("IG", k / 160, k % 160, sampleIgnition(k)));
    for (int k = 0; k < 320; ++k)
        lines.push_back(mapLine("PV", k / 160, k % 160, sampleValve(k)));
    for (const char* line : {"QS-RPM\t120", "QS_ONT\t003", "QS-CUT\t012", "QS-DIS\t100", "rev_limit\t125",
                             "PulseType\t001", "PickupDeg\t070", "QS-STP\t001", "QS-REV\t001"})
        lines.push_back(line);
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines, const char* eol)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + eol;
    return text;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void replaceFile(const fs::path& path, const std::string& text)
{
    fs::path next = path;
    next += ".new";
    writeFile(next, text);
    fs::rename(next, path);
}

std::set<std::string> listFolder(const fs::path& folder)
{
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// What mkdtemp does, which the Windows build lacks: a new folder under a
// name nobody holds, private to the user.
TempFolder::TempFolder(const std::string& prefix)
{
    std::random_device random;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / (prefix + "-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, error);
            path_ = candidate;
        }
    }
    if (path_.empty())
        ADD_FAILURE() << "cannot make a folder like " << prefix;
}

TempFolder::~TempFolder()
{
    if (path_.empty())
        return;
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

// The environment, for the tests of POSIX files; a Windows build has none
// of those tests (tests/CMakeLists.txt).
#ifndef _WIN32
ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name)
{
    if (const char* old = std::getenv(name))
        old_ = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv()
{
    if (old_)
        setenv(name_.c_str(), old_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

TemporaryXdgFolders::TemporaryXdgFolders() : root_("kvz-xdg")
{
    for (const char* variable : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "TMPDIR"}) {
        // The runtime folder must be the user's alone.
        fs::create_directory(folder(variable));
        fs::permissions(folder(variable), fs::perms::owner_all, fs::perm_options::replace);
        variables_.emplace_back(variable, folder(variable).string());
    }
}
#endif
