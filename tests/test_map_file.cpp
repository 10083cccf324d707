// The .cdi map file: the exact text a save writes, what a load takes from a
// file and what it refuses, and that neither a failed load nor a failed save
// damages anything (where the autosave goes: test_file_safety.cpp). Runs on
// POSIX hosts (links, owners, file-size limits).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "cdi_device.h"
#include "map_file.h"
#include "map_table.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

int refreshCount = 0;
void countRefresh()
{
    ++refreshCount;
}

struct State {
    MapTable ignition;
    MapTable valve;
    ConfigBlock config;
    std::int32_t latency;
};

State capture()
{
    return {ignitionTable, valveTable, cdiDevice.config, cdiDevice.latencyOffset};
}

void expectUnchanged(const State& before)
{
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        EXPECT_EQ(ignitionTable.points[k], before.ignition.points[k]) << "ignition " << k;
        EXPECT_EQ(valveTable.points[k], before.valve.points[k]) << "valve " << k;
    }
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(cdiDevice.config.bytes()[i], before.config.bytes()[i]) << "config byte " << i;
    EXPECT_EQ(cdiDevice.latencyOffset, before.latency);
}

// Every value and byte unlike what any test file holds, the opaque bytes
// included, and a latency offset that matches neither preset.
void fillDistinctState()
{
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        ignitionTable.points[k] = 1.0 + k * 0.01;
        valveTable.points[k] = 2.0 + k * 0.02;
    }
    for (int i = 0; i < 64; ++i)
        cdiDevice.config.bytes()[i] = static_cast<std::uint8_t>(180 + i);
    cdiDevice.latencyOffset = 1234;
}

// A folder path of exactly `length` characters, made of names short enough
// for the file system.
fs::path folderOfLength(const fs::path& base, std::size_t length)
{
    std::string path = base.string();
    while (length - path.size() > 201)
        path += "/" + std::string(200, 'd');
    path += "/" + std::string(length - path.size() - 1, 'e');
    fs::create_directories(path);
    return path;
}

constexpr uid_t kNobody = 65534;
constexpr int kCannotSwitch = 255;

// Runs `action` in a child process that has become the user `nobody`, with
// that user's group and no others, and gives back its result (0..254), or
// kCannotSwitch when this process may not change its user.
template <typename Action>
int asNobody(Action action)
{
    pid_t child = fork();
    if (child == -1)
        return -1;
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(kCannotSwitch);
        _exit(action());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

class MapFile : public ::testing::Test {
protected:
    TempFolder scratch{"kvz-map-file"};
    const fs::path& dir = scratch.path();

    void SetUp() override
    {
        resetMapData();
        onConfigChanged = countRefresh;
        refreshCount = 0;
    }

    void TearDown() override
    {
        onConfigChanged = nullptr;
        autosavePath[0] = '\0';
    }

    int loadText(const std::string& text)
    {
        fs::path path = dir / "input.cdi";
        writeFile(path, text);
        return loadMapFile(path.c_str());
    }
};

TEST_F(MapFile, SaveWritesTheFixedLayout)
{
    ignitionTable.setValue(0, 1, 10.5);
    ignitionTable.points[2] = -3.2;  // out of the clamps, as a device read leaves it
    ignitionTable.setValue(1, 159, 34.9);
    valveTable.points[0] = 255.0;
    valveTable.setValue(1, 159, 120.0);
    ConfigBlock& c = cdiDevice.config;
    c.qsEnablePoint = 120;
    c.qsDelayCount = 1;
    c.qsCutCount = 12;
    c.qsInvalidCount = 100;
    c.revLimit = 120;
    c.pulseType = 2;
    c.pickupDeg = 36;
    c.qsStopSwitch = 0;
    c.qsReverse = 1;

    fs::path path = dir / "tune.cdi";
    ASSERT_EQ(saveMapFile(path.c_str()), 1);
    std::string text = readFile(path);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    ASSERT_EQ(text.back(), '\n');
    std::vector<std::string> lines = splitLines(text);
    ASSERT_EQ(lines.size(), 649u);
    EXPECT_EQ(lines[0], "IG:0\t000\t0.000000");
    EXPECT_EQ(lines[1], "IG:0\t001\t10.500000");
    EXPECT_EQ(lines[2], "IG:0\t002\t-3.200000");
    EXPECT_EQ(lines[159], "IG:0\t159\t0.000000");
    EXPECT_EQ(lines[160], "IG:1\t000\t0.000000");
    EXPECT_EQ(lines[319], "IG:1\t159\t34.900000");
    EXPECT_EQ(lines[320], "PV:0\t000\t255.000000");
    EXPECT_EQ(lines[639], "PV:1\t159\t120.000000");
    const char* tail =
        "QS-RPM\t120\nQS_ONT\t001\nQS-CUT\t012\nQS-DIS\t100\nrev_limit\t120\n"
        "PulseType\t002\nPickupDeg\t036\nQS-STP\t000\nQS-REV\t001\n";
    ASSERT_GE(text.size(), std::strlen(tail));
    EXPECT_EQ(text.substr(text.size() - std::strlen(tail)), tail);
    EXPECT_EQ(listFolder(dir), std::set<std::string>{"tune.cdi"});  // no temporary file left
}

TEST_F(MapFile, SaveThenLoadGivesBackValuesAndOptions)
{
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        ignitionTable.setValue(k / 160, k % 160, std::fmod(k * 0.1093751234, 35.0));
        valveTable.setValue(k / 160, k % 160, k * 0.4987654321);
    }
    const std::uint8_t options[7] = {155, 7, 250, 3, 1, 1, 160};  // bytes 2..8
    std::memcpy(cdiDevice.config.bytes() + 2, options, sizeof options);
    cdiDevice.config.pulseType = 1;
    cdiDevice.config.pickupDeg = 200;
    State saved = capture();
    ASSERT_EQ(saveMapFile((dir / "round").c_str()), 1);

    fillDistinctState();
    State before = capture();
    ASSERT_EQ(loadMapFile((dir / "round.cdi").c_str()), 1);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        EXPECT_NEAR(ignitionTable.points[k], saved.ignition.points[k], 5e-7) << k;
        EXPECT_NEAR(valveTable.points[k], saved.valve.points[k], 5e-7) << k;
    }
    for (int i : {2, 3, 4, 5, 6, 7, 8, 12, 13})
        EXPECT_EQ(cdiDevice.config.bytes()[i], saved.config.bytes()[i]) << "byte " << i;
    EXPECT_EQ(cdiDevice.config.engineConstantValue(), 37500);
    EXPECT_EQ(cdiDevice.latencyOffset, 610);
    for (int i : {0, 1, 9, 14, 40, 63})  // not in the file
        EXPECT_EQ(cdiDevice.config.bytes()[i], before.config.bytes()[i]) << "byte " << i;
    EXPECT_EQ(refreshCount, 1);
}

TEST_F(MapFile, ExtensionIsAddedUnlessThePathEndsInDotCdi)
{
    EXPECT_EQ(saveMapFile((dir / "tune").c_str()), 1);
    EXPECT_EQ(saveMapFile((dir / "song.cdi").c_str()), 1);
    EXPECT_EQ(saveMapFile((dir / "TUNE.CDI").c_str()), 1);
    EXPECT_EQ(listFolder(dir), (std::set<std::string>{"tune.cdi", "song.cdi", "TUNE.CDI.cdi"}));

    // The rule counts the whole path: four characters or fewer stay as given.
    fs::path old = fs::current_path();
    fs::current_path(dir);
    EXPECT_EQ(saveMapFile("abcd"), 1);
    EXPECT_EQ(saveMapFile("m.cd"), 1);
    EXPECT_EQ(saveMapFile("x.cdi"), 1);
    EXPECT_EQ(saveMapFile("y.cdx"), 1);
    fs::current_path(old);
    EXPECT_EQ(listFolder(dir), (std::set<std::string>{"tune.cdi", "song.cdi", "TUNE.CDI.cdi", "abcd", "m.cd", "x.cdi",
                                                   "y.cdx.cdi"}));
    EXPECT_EQ(saveMapFile(""), 0);
    EXPECT_EQ(saveMapFile(nullptr), 0);
}

TEST_F(MapFile, LinesAreTakenByPositionWhateverTheirKey)
{
    std::vector<std::string> lines = mapFileLines();
    for (int k = 0; k < 320; ++k)
        lines[k] = mapLine("PV", 1, 7, sampleIgnition(k));  // keys and indexes all wrong
    ASSERT_EQ(loadText(joinLines(lines)), 1);
    for (int k = 0; k < 320; ++k)
        ASSERT_EQ(ignitionTable.points[k], sampleIgnition(k)) << k;
}

TEST_F(MapFile, LoadStoresThroughTheClampsAndLowBytes)
{
    std::vector<std::string> lines = mapFileLines();
    lines[4] = "IG:0\t004\t40.000000";
    lines[5] = "IG:0\t005\t-1.000000";
    lines[320] = "PV:0\t000\t-5.000000";
    lines[321] = "PV:0\t001\t200.000000";
    lines[640] = "QS-RPM\t2147483647";  // the widest integer still converts
    lines[641] = "QS_ONT\t-2147483648";
    lines[642] = "QS-CUT\t-1";
    lines[644] = "rev_limit\t300";
    ASSERT_EQ(loadText(joinLines(lines)), 1);
    EXPECT_EQ(ignitionTable.points[4], 35.0);
    EXPECT_EQ(ignitionTable.points[5], 0.0);
    EXPECT_EQ(valveTable.points[0], 0.0);
    EXPECT_EQ(valveTable.points[1], 160.0);
    EXPECT_EQ(cdiDevice.config.qsEnablePoint, 255);
    EXPECT_EQ(cdiDevice.config.qsDelayCount, 0);
    EXPECT_EQ(cdiDevice.config.qsCutCount, 255);
    EXPECT_EQ(cdiDevice.config.revLimit, 44);
}

TEST_F(MapFile, PulseTypePickupAndSwitchLines)
{
    struct Case {
        const char* pulse;
        int pulseType, pickup, latency, constant;
    };
    // The pickup line always wins over the preset's pickup.
    for (Case t : {Case{"PulseType\t007", 2, 70, 570, 18750}, Case{"PulseType\t257", 1, 70, 610, 37500},
                   Case{"PulseType\t001", 1, 70, 610, 37500}, Case{"PulseType\t000", 2, 70, 570, 18750}}) {
        SCOPED_TRACE(t.pulse);
        std::vector<std::string> lines = mapFileLines();
        lines[645] = t.pulse;
        ASSERT_EQ(loadText(joinLines(lines)), 1);
        EXPECT_EQ(cdiDevice.config.pulseType, t.pulseType);
        EXPECT_EQ(cdiDevice.config.pickupDeg, t.pickup);
        EXPECT_EQ(cdiDevice.latencyOffset, t.latency);
        EXPECT_EQ(cdiDevice.config.engineConstantValue(), t.constant);
    }

    std::vector<std::string> lines = mapFileLines();
    lines.resize(646);  // "PulseType" 1 and nothing after it
    ASSERT_EQ(loadText(joinLines(lines)), 1);
    EXPECT_EQ(cdiDevice.config.pulseType, 1);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 36);
    EXPECT_EQ(cdiDevice.latencyOffset, 610);
    EXPECT_EQ(cdiDevice.config.engineConstantValue(), 37500);

    for (const char* stop : {"QS-STP\t5", "QS-STP\t256", "QS-STP\t-1"}) {
        SCOPED_TRACE(stop);
        cdiDevice.config.qsStopSwitch = 0;
        lines = mapFileLines();
        lines[647] = stop;
        lines[648] = "QS-REV\t000";
        ASSERT_EQ(loadText(joinLines(lines)), 1);
        EXPECT_EQ(cdiDevice.config.qsStopSwitch, 1);  // 256 has a zero low byte, but is not zero
        EXPECT_EQ(cdiDevice.config.qsReverse, 0);
    }
}

TEST_F(MapFile, FileEndingAfterRevLimitTakesTheDefaults)
{
    applyEnginePreset(1);
    cdiDevice.config.qsStopSwitch = 1;
    cdiDevice.config.qsReverse = 1;
    std::vector<std::string> lines = mapFileLines();
    lines.resize(645);
    ASSERT_EQ(loadText(joinLines(lines)), 1);
    const ConfigBlock& c = cdiDevice.config;
    EXPECT_EQ(c.pulseType, 2);
    EXPECT_EQ(c.pickupDeg, 36);
    EXPECT_EQ(c.engineConstantValue(), 18750);
    EXPECT_EQ(cdiDevice.latencyOffset, 570);
    EXPECT_EQ(c.qsStopSwitch, 0);
    EXPECT_EQ(c.qsReverse, 0);
    EXPECT_EQ(c.qsEnablePoint, 120);
    EXPECT_EQ(c.qsDelayCount, 3);
    EXPECT_EQ(c.qsCutCount, 12);
    EXPECT_EQ(c.qsInvalidCount, 100);
    EXPECT_EQ(c.revLimit, 125);
    EXPECT_EQ(refreshCount, 1);
}

TEST_F(MapFile, CrLfLineEndsAndLeadingZerosAreRead)
{
    std::vector<std::string> lines = mapFileLines();
    lines[643] = "QS-DIS\t089";  // not octal: 8 and 9 would end an octal number
    lines[646] = "PickupDeg\t010";
    ASSERT_EQ(loadText(joinLines(lines, "\r\n")), 1);
    for (int k = 0; k < 320; ++k) {
        ASSERT_EQ(ignitionTable.points[k], sampleIgnition(k)) << k;
        ASSERT_EQ(valveTable.points[k], sampleValve(k)) << k;
    }
    EXPECT_EQ(cdiDevice.config.qsInvalidCount, 89);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 10);
    EXPECT_EQ(cdiDevice.config.qsReverse, 1);
}

TEST_F(MapFile, FaultyFileChangesNothing)
{
    struct Fault {
        const char* what;
        int line;  // replaced by `text`, unless -1
        const char* text;
        int keep;  // lines kept, -1 for all
    };
    const Fault faults[] = {
        {"word in an ignition value", 5, "IG:0\t005\tabc", -1},
        {"word in a valve value", 330, "PV:0\t010\tabc", -1},
        {"word in an option", 642, "QS-CUT\tabc", -1},
        {"word in a tail option", 646, "PickupDeg\tabc", -1},
        {"key with no value", 645, "PulseType", -1},
        {"key with no value at the end", 645, "PulseType", 646},
        {"not a number", 7, "IG:0\t007\tnan", -1},
        {"infinite", 8, "IG:0\t008\t-inf", -1},
        {"too large for a double", 400, "PV:0\t080\t1e999", -1},
        {"index beyond 32 bits", 9, "IG:0\t99999999999\t1.0", -1},
        {"option beyond 32 bits", 644, "rev_limit\t2147483648", -1},
        {"option below 32 bits", 640, "QS-RPM\t-2147483649", -1},
        {"missing value", 10, "IG:0\t010", -1},
        {"ends after line 100", -1, nullptr, 100},
        {"ends before rev_limit", -1, nullptr, 644},
        {"empty", -1, nullptr, 0},
    };
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        std::vector<std::string> lines = mapFileLines();
        if (fault.line >= 0)
            lines[fault.line] = fault.text;
        if (fault.keep >= 0)
            lines.resize(fault.keep);
        fillDistinctState();
        State before = capture();
        refreshCount = 0;
        EXPECT_EQ(loadText(joinLines(lines)), 0);
        expectUnchanged(before);
        EXPECT_EQ(refreshCount, 0);  // a refused file leaves the controls as they are, too
    }
}

TEST_F(MapFile, LongKeysAndBinaryBytesAreHarmless)
{
    std::vector<std::string> lines = mapFileLines();
    lines[0] = std::string(100000, 'K') + "\t000\t1.5";
    lines[1] = std::string("IG\x01\xff\x7f") + "\t001\t2.5";
    ASSERT_EQ(loadText(joinLines(lines)), 1);
    EXPECT_EQ(ignitionTable.points[0], 1.5);
    EXPECT_EQ(ignitionTable.points[1], 2.5);

    fillDistinctState();
    State before = capture();
    lines[2] = std::string("IG:0\t002\t") + '\0' + "3.5";  // a null byte is not a number
    EXPECT_EQ(loadText(joinLines(lines)), 0);
    expectUnchanged(before);
}

TEST_F(MapFile, UnopenableFileIsNotLoadedAndRefreshesNothing)
{
    fs::path path = dir / "locked.cdi";
    writeFile(path, joinLines(mapFileLines()));
    chmod(path.c_str(), 0444);  // the superuser could open it; the mode bits still say no
    fillDistinctState();
    State before = capture();
    EXPECT_EQ(loadMapFile(path.c_str()), 0);
    EXPECT_EQ(loadMapFile((dir / "missing.cdi").c_str()), 0);
    EXPECT_EQ(loadMapFile(dir.c_str()), 0);  // a folder
    EXPECT_EQ(loadMapFile(nullptr), 0);
    expectUnchanged(before);
    EXPECT_EQ(refreshCount, 0);

    chmod(path.c_str(), 0200);  // one write bit is enough
    EXPECT_EQ(loadMapFile(path.c_str()), 1);
    EXPECT_EQ(refreshCount, 1);
}

TEST_F(MapFile, FailedWriteLeavesTheOldFileAsItWas)
{
    // How long a full save is, to put the limit into its option lines too.
    ASSERT_EQ(saveMapFile((dir / "probe.cdi").c_str()), 1);
    const long fullSize = static_cast<long>(fs::file_size(dir / "probe.cdi"));
    fs::remove(dir / "probe.cdi");

    fs::path target = dir / "full.cdi";
    const std::string old = "the old map\n";
    writeFile(target, old);
    for (long limit : {4096L, fullSize - 20}) {
        SCOPED_TRACE(limit);
        pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            // A file-size limit fails the write with EFBIG the way a full disk does.
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit rl = {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
                _exit(2);
            _exit(saveMapFile(target.c_str()));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);  // saveMapFile returned 0
        EXPECT_EQ(readFile(target), old);
        EXPECT_EQ(listFolder(dir), std::set<std::string>{"full.cdi"});
    }
}

TEST_F(MapFile, ReadOnlyTargetIsNotReplaced)
{
    fs::path target = dir / "keep.cdi";
    const std::string old = "the old map\n";
    writeFile(target, old);
    chmod(target.c_str(), 0444);
    EXPECT_EQ(saveMapFile(target.c_str()), 0);
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(listFolder(dir), std::set<std::string>{"keep.cdi"});
}

TEST_F(MapFile, FileAnotherUserMayNotWriteIsNeitherReplacedNorLoaded)
{
    if (geteuid() == kNobody)
        GTEST_SKIP() << "already running as the other user";
    // Anyone may create and rename files in the folder, so only each file's
    // own permissions stand between the other user and it.
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    const std::string text = joinLines(mapFileLines());
    fs::path locked = dir / "locked.cdi";
    fs::path shared = dir / "shared.cdi";
    writeFile(locked, text);
    writeFile(shared, text);
    ASSERT_EQ(chmod(locked.c_str(), 0644), 0);
    ASSERT_EQ(chmod(shared.c_str(), 0666), 0);
    struct stat before;
    ASSERT_EQ(stat(locked.c_str(), &before), 0);

    enum { kSaveRefused = 1, kLoadRefused = 2, kSharedSaved = 4, kSharedLoaded = 8, kNewSaved = 16 };
    int result = asNobody([&] {
        int seen = 0;
        if (loadMapFile(locked.c_str()) == 0)
            seen |= kLoadRefused;
        if (saveMapFile(locked.c_str()) == 0)
            seen |= kSaveRefused;
        // The same user can still load and save where the permissions let
        // it, so the refusals above are not the folder's doing.
        if (loadMapFile(shared.c_str()) == 1)
            seen |= kSharedLoaded;
        if (saveMapFile(shared.c_str()) == 1)
            seen |= kSharedSaved;
        if (saveMapFile((dir / "new.cdi").c_str()) == 1)
            seen |= kNewSaved;
        return seen;
    });
    if (result == kCannotSwitch)
        GTEST_SKIP() << "cannot switch to another user here";
    ASSERT_GE(result, 0);
    EXPECT_TRUE(result & kSaveRefused) << "saved over a file the user may not write";
    EXPECT_TRUE(result & kLoadRefused) << "loaded a file the user may not write";
    EXPECT_TRUE(result & kSharedLoaded);
    EXPECT_TRUE(result & kSharedSaved);
    EXPECT_TRUE(result & kNewSaved);

    EXPECT_TRUE(readFile(locked) == text) << "the file was changed";
    struct stat after;
    ASSERT_EQ(stat(locked.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_mode, before.st_mode);
    ASSERT_EQ(stat(shared.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, kNobody);
    EXPECT_EQ(listFolder(dir), (std::set<std::string>{"locked.cdi", "shared.cdi", "new.cdi"}));  // no temporary left
}

TEST_F(MapFile, PathTooLongForTheBufferIsRefused)
{
    // 1021 characters, 1025 with ".cdi": cut to the buffer it would name
    // "....c" in the same folder.
    fs::path folder = folderOfLength(dir, 800);
    std::size_t nameLength = 1021 - 800 - 1;
    EXPECT_EQ(saveMapFile((folder / std::string(nameLength, 'n')).c_str()), 0);
    EXPECT_EQ(saveMapFile((folder / std::string(nameLength - 1, 'n')).c_str()), 0);  // 1024 and no room for the end
    EXPECT_TRUE(listFolder(folder).empty());

    // 1023 characters with the extension is the longest that fits.
    std::string name(nameLength - 2, 'n');
    EXPECT_EQ(saveMapFile((folder / name).c_str()), 1);
    EXPECT_EQ(listFolder(folder), std::set<std::string>{name + ".cdi"});
    EXPECT_EQ((folder / (name + ".cdi")).string().size(), 1023u);
}

TEST_F(MapFile, NewFileIsPrivateAndAReplacedOneKeepsItsPermissions)
{
    mode_t old = umask(022);
    EXPECT_EQ(saveMapFile((dir / "new.cdi").c_str()), 1);
    writeFile(dir / "shared.cdi", "old");
    ASSERT_EQ(chmod((dir / "shared.cdi").c_str(), 0664), 0);
    EXPECT_EQ(saveMapFile((dir / "shared.cdi").c_str()), 1);
    umask(old);
    struct stat st;
    ASSERT_EQ(stat((dir / "new.cdi").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(stat((dir / "shared.cdi").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
}

}  // namespace
