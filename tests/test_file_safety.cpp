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
#include <string>
#include <vector>

#include "cdi_device.h"
#include "map_file.h"
#include "map_table.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Lines linesOf(const std::string& text)
{
    Lines lines;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to, std::size_t times = -1)
{
    for (std::string::size_type at = 0; times-- > 0 && (at = text.find(from, at)) != std::string::npos;
         at += to.size())
        text.replace(at, from.size(), to);
}

mode_t modeOf(const fs::path& path)
{
    struct stat st = {};
    lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

struct Snapshot {
    MapTable ignition, valve;
    ConfigBlock config;
    std::int32_t latency;

    static Snapshot now() { return {ignitionTable, valveTable, cdiDevice.config, cdiDevice.latencyOffset}; }
    bool operator==(const Snapshot& o) const
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
    std::string savedText;  // a sound file, as a save writes it
    Snapshot saved;         // what loading it gives

    void SetUp() override
    {
        std::string pattern = (kBaseTemp / "kvz-file-safety-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::create_directory(dir / "tmp");
        setenv("TMPDIR", (dir / "tmp").c_str(), 1);
        setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);

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
        const std::uint8_t options[] = {65, 2, 15, 120, 1, 1, 130};  // bytes 2..8
        std::memcpy(cdiDevice.config.bytes() + 2, options, sizeof options);
        cdiDevice.config.pickupDeg = 70;
        saved = Snapshot::now();
        ASSERT_EQ(saveMapFile((dir / "sound.cdi").c_str()), 1);
        savedText = readText(dir / "sound.cdi");
        scramble();
    }

    void TearDown() override
    {
        unsetenv("TMPDIR");
        unsetenv("XDG_STATE_HOME");
        fs::remove_all(dir);
    }

    // Tables and options unlike the saved file's, so any store shows.
    static void scramble()
    {
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
            ignitionTable.points[k] = 1.0;
            valveTable.points[k] = 2.0;
        }
        for (int i : {2, 3, 4, 5, 6, 7, 8, 12, 13})
            cdiDevice.config.bytes()[i] = static_cast<std::uint8_t>(200 + i);
        cdiDevice.latencyOffset = 1234;
    }

    void restoreSaved() const
    {
        ignitionTable = saved.ignition;
        valveTable = saved.valve;
        cdiDevice.config = saved.config;
        cdiDevice.latencyOffset = saved.latency;
    }

    int loadText(const std::string& text)
    {
        std::ofstream(dir / "input.cdi", std::ios::binary) << text;
        return loadMapFile((dir / "input.cdi").c_str());
    }

    fs::path tempAutosave() const { return dir / "tmp" / "autosaved.cdi"; }
    fs::path stateAutosave() const { return dir / "state" / "kvz-cdi" / "autosaved.cdi"; }
};

TEST_F(FileSafety, DamagedFilesAreRefusedWhole)
{
    // Lines 0..319 ignition, 320..639 valve, 640.. QS-RPM, QS_ONT, QS-CUT,
    // QS-DIS, rev_limit, PulseType, PickupDeg, QS-STP, QS-REV.
    const struct {
        const char* what;
        std::function<void(Lines&)> damage;
    } cases[] = {
        {"a map line lost its key", [](Lines& l) { l[5] = "005\t1.500000"; }},
        {"a map line has a fourth field", [](Lines& l) { l[6] += "\t1"; }},
        {"an index is not an integer", [](Lines& l) { l[7] = "IG:0\t7.0\t1.5"; }},
        {"a value in hexadecimal", [](Lines& l) { l[8] = "IG:0\t008\t0x1p3"; }},
        {"a value with a decimal comma", [](Lines& l) { l[400] = "PV:0\t080\t1,5"; }},
        {"a value with text after it", [](Lines& l) { l[9] = "IG:0\t009\t1.5x"; }},
        {"a carriage return inside a line", [](Lines& l) { l[10] = "IG:0\t010\r1.5"; }},
        {"an option line is missing", [](Lines& l) { l.erase(l.begin() + 641); }},
        {"an option line added before rev_limit", [](Lines& l) { l.insert(l.begin() + 643, "QS-CUT\t012"); }},
        {"an option line added after rev_limit", [](Lines& l) { l.insert(l.begin() + 645, "rev_limit\t002"); }},
        {"an option key in other letters", [](Lines& l) { l[644] = "REV_LIMIT\t130"; }},
        {"an option with text after it", [](Lines& l) { l[640] = "QS-RPM\t12abc"; }},
        {"an option in hexadecimal", [](Lines& l) { l[646] = "PickupDeg\t0x24"; }},
        {"an option with a third field", [](Lines& l) { l[647] = "QS-STP\t001\t1"; }},
        {"a tail option that is not an integer", [](Lines& l) { l[648] = "QS-REV\t1.0"; }},
        {"an empty line among the maps", [](Lines& l) { l.insert(l.begin() + 100, ""); }},
        {"a blank line before the tail options", [](Lines& l) { l.insert(l.begin() + 645, " \t"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Lines lines = linesOf(savedText);
        c.damage(lines);
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        const Snapshot before = Snapshot::now();
        EXPECT_EQ(loadText(text), 0);
        EXPECT_TRUE(Snapshot::now() == before);
    }
}

TEST_F(FileSafety, SoundFilesLoadInEveryWrittenForm)
{
    const struct {
        const char* what;
        std::function<void(std::string&)> edit;
    } cases[] = {
        {"as saved", [](std::string&) {}},
        {"CR LF line ends", [](std::string& t) { replaceAll(t, "\n", "\r\n"); }},
        {"every map line keyed PV:", [](std::string& t) { replaceAll(t, "IG:", "PV:"); }},
        {"blanks between and around the fields",
         [](std::string& t) {
             replaceAll(t, "\t", "  \t ");
             replaceAll(t, "\n", " \t\n ");
         }},
        {"no line end after the last line", [](std::string& t) { t.pop_back(); }},
        {"empty lines after the last line", [](std::string& t) { t += "\n\r\n \t\n"; }},
        {"anything after the 649th line", [](std::string& t) { t += "not\ta map line\n\nQS-RPM\t001\n"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = savedText;
        c.edit(text);
        scramble();
        EXPECT_EQ(loadText(text), 1);
        EXPECT_TRUE(Snapshot::now() == saved);
    }

    // The low-byte rule still lets a pickup of 0 in; a write refuses it.
    std::string text = savedText;
    replaceAll(text, "PickupDeg\t070", "PickupDeg 000");
    EXPECT_EQ(loadText(text), 1);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 0);
}

TEST_F(FileSafety, SaveFollowsLinksAndKeepsFilesPrivate)
{
    restoreSaved();
    const mode_t oldMask = umask(022);
    // A chain of links, one of them relative, to a file with its own mode.
    fs::create_directory(dir / "maps");
    std::ofstream(dir / "maps" / "real.cdi") << "old\n";
    fs::permissions(dir / "maps" / "real.cdi", fs::perms(0640));
    fs::create_symlink("maps/real.cdi", dir / "middle.cdi");
    fs::create_symlink(dir / "middle.cdi", dir / "tune.cdi");
    EXPECT_EQ(saveMapFile((dir / "tune").c_str()), 1);
    EXPECT_TRUE(fs::is_symlink(dir / "tune.cdi"));
    EXPECT_TRUE(fs::is_symlink(dir / "middle.cdi"));
    EXPECT_TRUE(readText(dir / "maps" / "real.cdi") == savedText);
    EXPECT_EQ(modeOf(dir / "maps" / "real.cdi"), 0640u);

    // A link to nothing yet makes its target, private; the new file too.
    fs::create_symlink(dir / "maps" / "later.cdi", dir / "dangling.cdi");
    EXPECT_EQ(saveMapFile((dir / "dangling.cdi").c_str()), 1);
    EXPECT_EQ(modeOf(dir / "maps" / "later.cdi"), 0600u);
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.cdi"));
    EXPECT_EQ(saveMapFile((dir / "new.cdi").c_str()), 1);
    EXPECT_EQ(modeOf(dir / "new.cdi"), 0600u);

    // A loop of links names no file.
    fs::create_symlink(dir / "loop-b.cdi", dir / "loop-a.cdi");
    fs::create_symlink(dir / "loop-a.cdi", dir / "loop-b.cdi");
    EXPECT_EQ(saveMapFile((dir / "loop-a.cdi").c_str()), 0);
    umask(oldMask);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "maps"), fs::directory_iterator()), 2);
}

TEST_F(FileSafety, AutosaveMovesToTheStateFolderWhenItsSharedPlaceIsTaken)
{
    // Nothing anywhere: the temporary folder's place, and no folder made.
    const Snapshot before = Snapshot::now();
    EXPECT_EQ(loadAutosave(), 0);
    EXPECT_TRUE(Snapshot::now() == before);
    EXPECT_EQ(fs::path(autosavePath), tempAutosave());
    EXPECT_FALSE(fs::exists(dir / "state"));
    restoreSaved();
    ASSERT_EQ(saveAutosave(), 1);
    EXPECT_EQ(modeOf(tempAutosave()), 0600u);
    EXPECT_TRUE(readText(tempAutosave()) == savedText);

    const fs::path victim = dir / "victim.cdi";
    std::ofstream(victim) << "not the autosave\n";
    const struct {
        const char* what;
        std::function<void(const fs::path&)> plant;
    } planted[] = {
        {"a link", [&](const fs::path& at) { fs::create_symlink(victim, at); }},
        {"a folder", [](const fs::path& at) { fs::create_directory(at); }},
        {"a FIFO", [](const fs::path& at) { mkfifo(at.c_str(), 0666); }},
    };
    for (const auto& p : planted) {
        SCOPED_TRACE(p.what);
        fs::remove_all(tempAutosave());
        fs::remove_all(dir / "state");
        p.plant(tempAutosave());
        ASSERT_EQ(saveAutosave(), 1);
        EXPECT_EQ(fs::path(autosavePath), stateAutosave());
        EXPECT_EQ(modeOf(dir / "state" / "kvz-cdi"), 0700u);
        EXPECT_EQ(modeOf(stateAutosave()), 0600u);
        EXPECT_EQ(readText(victim), "not the autosave\n");
        scramble();
        EXPECT_EQ(loadAutosave(), 1);
        EXPECT_TRUE(Snapshot::now() == saved);
    }

    // Once the shared place is free again, the state folder's autosave is
    // still found, and the next close saves to the shared place.
    fs::remove_all(tempAutosave());
    scramble();
    EXPECT_EQ(loadAutosave(), 1);
    EXPECT_TRUE(Snapshot::now() == saved);
    EXPECT_EQ(fs::path(autosavePath), tempAutosave());
    ASSERT_EQ(saveAutosave(), 1);
    EXPECT_TRUE(readText(tempAutosave()) == readText(stateAutosave()));

    // A temporary folder whose path leaves no room for the name.
    const fs::path deep = dir / "tmp" / std::string(200, 'd') / std::string(200, 'd') / std::string(200, 'd')
                          / std::string(200, 'd') / std::string(200, 'd');
    fs::create_directories(deep);
    setenv("TMPDIR", deep.c_str(), 1);
    ASSERT_EQ(saveAutosave(), 1);
    EXPECT_EQ(fs::path(autosavePath), stateAutosave());
}

// Two users, A and B, share the temporary folder (sticky and open to all,
// as /tmp is); each has a state folder of their own.
class TwoUsers : public FileSafety {
protected:
    static constexpr uid_t kUserA = 61001, kUserB = 61002;
    fs::path shared;

    void SetUp() override
    {
        FileSafety::SetUp();
        if (geteuid() != 0)
            GTEST_SKIP() << "switching users needs root";
        fs::permissions(dir, fs::perms(0755));
        shared = dir / "shared";
        fs::create_directory(shared);
        fs::permissions(shared, fs::perms(01777));
        for (uid_t user : {kUserA, kUserB}) {
            const fs::path home = homeOf(user);
            fs::create_directory(home);
            ASSERT_EQ(chown(home.c_str(), user, user), 0);
            fs::permissions(home, fs::perms(0700));
        }
    }

    fs::path homeOf(uid_t user) const { return dir / (user == kUserA ? "home-a" : "home-b"); }
    fs::path sharedAutosave() const { return shared / "autosaved.cdi"; }
    fs::path stateAutosaveOf(uid_t user) const { return homeOf(user) / "state" / "kvz-cdi" / "autosaved.cdi"; }

    // Runs `action` as `user` in a child process; its result is the test's.
    bool as(uid_t user, const std::function<bool()>& action)
    {
        const pid_t child = fork();
        if (child == 0) {
            setenv("TMPDIR", shared.c_str(), 1);
            setenv("XDG_STATE_HOME", (homeOf(user) / "state").c_str(), 1);
            const bool switched =
                setgroups(0, nullptr) == 0 && setresgid(user, user, user) == 0 && setresuid(user, user, user) == 0;
            _exit(switched && action() ? 0 : 1);
        }
        int status = -1;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    static bool readable(const fs::path& path)
    {
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0)
            close(fd);
        return fd >= 0;
    }
};

TEST_F(TwoUsers, EachKeepsAnAutosaveThatTheOtherCanNeitherBlockNorRead)
{
    const fs::path sharedFile = sharedAutosave(), stateB = stateAutosaveOf(kUserB);

    // A's autosave takes the shared place; B's goes to B's state folder.
    EXPECT_TRUE(as(kUserA, [&] { return saveAutosave() == 1 && fs::path(autosavePath) == sharedFile; }));
    EXPECT_TRUE(as(kUserB, [&] {
        scramble();
        const Snapshot before = Snapshot::now();
        return loadAutosave() == 0 && Snapshot::now() == before && saveAutosave() == 1
               && fs::path(autosavePath) == stateB && loadAutosave() == 1 && !readable(sharedFile);
    }));
    EXPECT_TRUE(as(kUserA, [&] { return loadAutosave() == 1 && !readable(stateB) && !readable(stateB.parent_path()); }));
    EXPECT_EQ(modeOf(sharedFile), 0600u);
    EXPECT_EQ(modeOf(stateB), 0600u);
    EXPECT_EQ(modeOf(stateB.parent_path()), 0700u);

    // Whatever A plants at the shared place, B's close saves, elsewhere.
    const fs::path aOwn = homeOf(kUserA) / "own.cdi";
    const struct {
        const char* what;
        std::function<bool()> plant;
    } planted[] = {
        {"a file", [&] { return saveAutosave() == 1; }},
        {"a link", [&] { return symlink(aOwn.c_str(), sharedFile.c_str()) == 0; }},
        {"a folder", [&] { return mkdir(sharedFile.c_str(), 0777) == 0; }},
        {"a FIFO", [&] { return mkfifo(sharedFile.c_str(), 0666) == 0; }},
    };
    std::ofstream(aOwn) << "A's own\n";
    ASSERT_EQ(chown(aOwn.c_str(), kUserA, kUserA), 0);
    fs::permissions(aOwn, fs::perms(0666));
    for (const auto& p : planted) {
        SCOPED_TRACE(p.what);
        fs::remove_all(sharedFile);
        fs::remove(stateB);
        ASSERT_TRUE(as(kUserA, p.plant));
        EXPECT_TRUE(as(kUserB, [&] { return saveAutosave() == 1 && fs::path(autosavePath) == stateB; }));
        EXPECT_TRUE(fs::exists(stateB));
        EXPECT_EQ(readText(aOwn), "A's own\n");
        struct stat st = {};
        EXPECT_EQ(lstat(sharedFile.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kUserA);
    }
}

}  // namespace
