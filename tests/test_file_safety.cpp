// Files a tuner can trust: a damaged map file is refused whole while every
// sound one loads; saves follow links and keep files private; and each user
// keeps an autosave that nobody else can block, read or redirect.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cdi_device.h"
#include "map_file.h"
#include "map_table.h"

namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::string::size_type at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

mode_t modeOf(const fs::path& path)
{
    struct stat st = {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// What a load may change, as it stands when made.
struct State {
    MapTable ignition = ignitionTable, valve = valveTable;
    ConfigBlock config = cdiDevice.config;
    std::int32_t latency = cdiDevice.latencyOffset;

    bool operator==(const State& o) const
    {
        return std::memcmp(ignition.points, o.ignition.points, sizeof ignition.points) == 0
               && std::memcmp(valve.points, o.valve.points, sizeof valve.points) == 0
               && std::memcmp(config.bytes(), o.config.bytes(), sizeof config) == 0 && latency == o.latency;
    }
};

const fs::path kBaseTemp = fs::temp_directory_path();

class FileSafety : public testing::Test {
protected:
    fs::path dir;
    State saved;            // the tables and options as saved
    std::string savedText;  // and the file the save wrote
    State beforeLoad;

    void SetUp() override
    {
        std::string pattern = (kBaseTemp / "kvz-file-safety-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        setenv("TMPDIR", dir.c_str(), 1);
        setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);

        // Values that differ from point to point, so a line stored in the
        // wrong place shows.
        ignitionTable = MapTable{};
        ignitionTable.upperClamp = 35.0;
        valveTable = MapTable{};
        valveTable.upperClamp = 160.0;
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
            ignitionTable.points[k] = (k % 35) + 0.25;
            valveTable.points[k] = (k % 160) + 0.5;
        }
        cdiDevice.config = CdiDevice::initialConfig();
        applyEnginePreset(1);
        cdiDevice.config.pickupDeg = 70;
        cdiDevice.config.revLimit = 130;
        saved = State{};
        ASSERT_EQ(saveMapFile((dir / "sound.cdi").c_str()), 1);
        savedText = readText(dir / "sound.cdi");
    }

    void TearDown() override
    {
        unsetenv("TMPDIR");
        unsetenv("XDG_STATE_HOME");
        fs::remove_all(dir);
    }

    // Loads the text after changing everything it holds, so any store shows.
    int load(const std::string& text)
    {
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
            ignitionTable.points[k] = 1.0;
            valveTable.points[k] = 2.0;
        }
        applyEnginePreset(2);
        cdiDevice.config.revLimit = 7;
        beforeLoad = State{};
        std::ofstream(dir / "input.cdi", std::ios::binary) << text;
        return loadMapFile((dir / "input.cdi").c_str());
    }
};

TEST_F(FileSafety, DamagedFilesAreRefusedWhole)
{
    // Line n of a saved file: 0..319 ignition, 320..639 valve, then QS-RPM,
    // QS_ONT, QS-CUT, QS-DIS, rev_limit, PulseType, PickupDeg, QS-STP, QS-REV.
    enum Edit { replace, insert, erase };
    const struct {
        int line;
        Edit edit;
        const char* text;
    } cases[] = {
        {5, replace, "005\t1.500000"},         // a map line lost its key
        {6, replace, "IG:0\t006\t6.25\t1"},    // a fourth field
        {7, replace, "IG:0\t7.0\t7.25"},       // an index that is no integer
        {8, replace, "IG:0\t008\t0x1p3"},      // a hexadecimal value
        {400, replace, "PV:0\t080\t80,5"},     // a decimal comma
        {9, replace, "IG:0\t009\t9.25x"},      // text after a value
        {10, replace, "IG:0\t010\r10.25"},     // a carriage return inside a line
        {641, erase, ""},                      // an option line missing
        {643, insert, "QS-CUT\t012"},          // one added before rev_limit
        {645, insert, "rev_limit\t002"},       // and after it
        {644, replace, "REV_LIMIT\t130"},      // a key in other letters
        {640, replace, "QS-RPM\t12abc"},       // text after an option
        {646, replace, "PickupDeg\t0x24"},     // an option in hexadecimal
        {647, replace, "QS-STP\t001\t1"},      // a third field
        {648, replace, "QS-REV\t1.0"},         // a tail option that is no integer
        {100, insert, ""},                     // an empty line among the maps
        {645, insert, " \t"},                  // a blank one before the tail options
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.line) + ": " + c.text);
        std::vector<std::string> lines;
        std::istringstream in(savedText);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        if (c.edit == replace)
            lines[c.line] = c.text;
        else if (c.edit == insert)
            lines.insert(lines.begin() + c.line, c.text);
        else
            lines.erase(lines.begin() + c.line);
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        EXPECT_EQ(load(text), 0);
        EXPECT_TRUE(State{} == beforeLoad);
    }
}

TEST_F(FileSafety, SoundFilesLoadInEveryWrittenForm)
{
    const std::function<void(std::string&)> forms[] = {
        [](std::string&) {},                                    // as saved
        [](std::string& t) { replaceAll(t, "\n", "\r\n"); },    // CR LF line ends
        [](std::string& t) { replaceAll(t, "IG:", "PV:"); },    // every map line keyed PV:
        [](std::string& t) {                                    // blanks between and around fields
            replaceAll(t, "\t", "  \t ");
            replaceAll(t, "\n", " \t\n ");
        },
        [](std::string& t) { t.pop_back(); },                   // no line end after the last line
        [](std::string& t) { t += "\n\r\n \t\n"; },             // empty lines after it
        [](std::string& t) { t += "not\ta map line\n\nQS-RPM\t001\n"; },  // anything after line 649
    };
    for (std::size_t i = 0; i < std::size(forms); ++i) {
        SCOPED_TRACE(i);
        std::string text = savedText;
        forms[i](text);
        EXPECT_EQ(load(text), 1);
        EXPECT_TRUE(State{} == saved);
    }

    // The low-byte rule still lets a pickup of 0 in; a write refuses it.
    std::string text = savedText;
    replaceAll(text, "PickupDeg\t070", "PickupDeg 000");
    EXPECT_EQ(load(text), 1);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 0);
}

TEST_F(FileSafety, SaveFollowsLinksAndKeepsFilesPrivate)
{
    const mode_t oldMask = umask(022);
    fs::create_directory(dir / "maps");
    std::ofstream(dir / "maps" / "real.cdi") << "old\n";
    fs::permissions(dir / "maps" / "real.cdi", fs::perms(0640));
    fs::create_symlink("maps/real.cdi", dir / "middle.cdi");  // relative to the link's folder
    fs::create_symlink(dir / "middle.cdi", dir / "tune.cdi");
    fs::create_symlink(dir / "maps" / "later.cdi", dir / "dangling.cdi");
    fs::create_symlink(dir / "loop.cdi", dir / "loop.cdi");
    EXPECT_EQ(saveMapFile((dir / "tune").c_str()), 1);
    EXPECT_EQ(saveMapFile((dir / "dangling.cdi").c_str()), 1);
    EXPECT_EQ(saveMapFile((dir / "loop.cdi").c_str()), 0);
    umask(oldMask);

    for (const char* link : {"middle.cdi", "tune.cdi", "dangling.cdi"})
        EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
    EXPECT_TRUE(readText(dir / "maps" / "real.cdi") == savedText);
    EXPECT_EQ(modeOf(dir / "maps" / "real.cdi"), 0640u);
    EXPECT_EQ(modeOf(dir / "maps" / "later.cdi"), 0600u);
    EXPECT_EQ(modeOf(dir / "sound.cdi"), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "maps"), fs::directory_iterator()), 2);
}

TEST_F(FileSafety, TwoUsersEachKeepAnAutosaveTheOtherCanNeitherBlockNorRead)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "switching users needs root";
    // A and B share a temporary folder that is sticky and open to all, as
    // /tmp is; each has a state folder of their own.
    constexpr uid_t a = 61001, b = 61002;
    fs::permissions(dir, fs::perms(0755));
    const fs::path shared = dir / "shared", place = shared / "autosaved.cdi";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777));
    auto home = [&](uid_t user) { return dir / std::to_string(user); };
    for (uid_t user : {a, b}) {
        fs::create_directory(home(user));
        ASSERT_EQ(chown(home(user).c_str(), user, user), 0);
        fs::permissions(home(user), fs::perms(0700));
    }
    const fs::path stateB = home(b) / "state" / "kvz-cdi" / "autosaved.cdi";

    // Runs `action` as `user` in a child process; true when it returned true.
    auto as = [&](uid_t user, const std::function<bool()>& action) {
        const pid_t child = fork();
        if (child == 0) {
            setenv("TMPDIR", shared.c_str(), 1);
            setenv("XDG_STATE_HOME", (home(user) / "state").c_str(), 1);
            const bool switched =
                setgroups(0, nullptr) == 0 && setresgid(user, user, user) == 0 && setresuid(user, user, user) == 0;
            _exit(switched && action() ? 0 : 1);
        }
        int status = -1;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    auto readable = [](const fs::path& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        return fd >= 0 && close(fd) == 0;
    };
    auto placeIs = [](const fs::path& path) { return fs::path(autosavePath) == path; };

    // A's autosave takes the shared place; B's goes to B's state folder,
    // which a start with nothing to load does not make.
    EXPECT_TRUE(as(a, [&] { return saveAutosave() == 1 && placeIs(place); }));
    EXPECT_TRUE(as(b, [&] {
        return loadAutosave() == 0 && !fs::exists(home(b) / "state") && saveAutosave() == 1 && placeIs(stateB)
               && loadAutosave() == 1 && !readable(place);
    }));
    EXPECT_TRUE(as(a, [&] { return loadAutosave() == 1 && !readable(stateB) && !readable(stateB.parent_path()); }));
    EXPECT_EQ(modeOf(place), 0600u);
    EXPECT_EQ(modeOf(stateB), 0600u);
    EXPECT_EQ(modeOf(stateB.parent_path()), 0700u);
    // Once the shared place is free again, B's start still finds its own.
    fs::remove(place);
    EXPECT_TRUE(as(b, [&] { return loadAutosave() == 1 && placeIs(place); }));

    // Whatever A plants at the shared place, B's close saves, elsewhere, and
    // writes through nothing: the link leads to a file anyone may write.
    const fs::path open = dir / "open.cdi";
    std::ofstream(open) << "A's\n";
    ASSERT_EQ(chown(open.c_str(), a, a), 0);
    fs::permissions(open, fs::perms(0666));
    const std::function<bool()> plants[] = {
        [&] { return saveAutosave() == 1; },
        [&] { return symlink(open.c_str(), place.c_str()) == 0; },
        [&] { return mkdir(place.c_str(), 0777) == 0; },
        [&] { return mkfifo(place.c_str(), 0666) == 0; },
    };
    for (std::size_t i = 0; i < std::size(plants); ++i) {
        SCOPED_TRACE(i);
        fs::remove_all(place);
        fs::remove(stateB);
        ASSERT_TRUE(as(a, plants[i]));
        EXPECT_TRUE(as(b, [&] { return saveAutosave() == 1 && placeIs(stateB); }));
        EXPECT_TRUE(fs::exists(stateB));
        EXPECT_EQ(readText(open), "A's\n");
    }
}

}  // namespace
