// kvz-cdi-cli's commands run in-process against the simulated unit, one
// grouped test per command family: what each prints, the exit status, the
// files it leaves, and what the unit saw.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <hidapi.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "hid_link.h"
#include "restore_points.h"
#include "signals.h"
#include "sim_unit.h"
#include "support.h"
#include "timing_codec.h"
#include "unit_image.h"
#include "unit_lock.h"

namespace {
namespace fs = std::filesystem;

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::string contents(std::FILE* file)
{
    std::rewind(file);
    std::string text;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, got);
    std::fclose(file);
    return text;
}

unsigned modeOf(const fs::path& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

std::vector<std::uint8_t> unitMemory()
{
    return {sim::memory().begin(), sim::memory().end()};
}

std::vector<std::uint8_t> bytesOf(const fs::path& path)
{
    const std::string text = readFile(path);
    return {text.begin(), text.end()};
}

class Cli : public testing::Test {
protected:
    // A unit holding maps and a whole configuration, its own bytes set, and
    // points no load would take: 35.9 and -6205.3 degrees, valve 200.
    void SetUp() override
    {
        resetUnitOnVirtualTime();
        const TimingReference twoPulse = {36, 570, 666.666667};
        for (std::uint32_t k = 0; k < 320; ++k) {
            const TimerWord word = encodeAdvance(sampleIgnition(k), k % 160, twoPulse).word;
            sim::memory()[2 * k] = word & 0xFF;
            sim::memory()[2 * k + 1] = word >> 8;
            sim::memory()[20 * 32 + k] = static_cast<std::uint8_t>(k * 7 % 161);
        }
        sim::memory()[2] = 0x00, sim::memory()[3] = 0x04;
        sim::memory()[4] = 0xFF, sim::memory()[5] = 0x7F;
        sim::memory()[20 * 32 + 5] = 200;
        const std::uint8_t config[14] = {0xA5, 0x5A, 60, 1, 12, 100, 0, 1, 120, 0x33, 0x3E, 0x49, 2, 36};
        std::memcpy(sim::block(30), config, sizeof config);
        for (int i = 14; i < 64; ++i)
            sim::block(30)[i] = static_cast<std::uint8_t>(i);
    }

    Result run(const std::vector<std::string>& arguments, const std::string& typed = "", bool terminal = false,
               std::FILE* given = nullptr)
    {
        std::FILE* in = given ? given : std::tmpfile();
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        std::fwrite(typed.data(), 1, typed.size(), in);
        std::rewind(in);
        const int status = runCli(arguments, {in, out, err, terminal, terminal});
        std::fclose(in);
        return {status, contents(out), contents(err)};
    }

    std::string path(const char* name) const { return (scratch.path() / name).string(); }

    // A map file's lines with some changed.
    void editMapFile(const char* from, const char* to, const std::vector<std::pair<std::size_t, std::string>>& edits)
    {
        std::vector<std::string> lines = splitLines(readFile(path(from)));
        for (const auto& [line, text] : edits)
            lines.at(line) = text;
        writeFile(path(to), joinLines(lines));
    }

    // The value on a map line of a file (line 0 is the first).
    double valueAt(const char* file, std::size_t line) const
    {
        const std::string text = splitLines(readFile(path(file))).at(line);
        return std::stod(text.substr(text.rfind('\t') + 1));
    }

    TemporaryXdgFolders xdg;
    TempFolder scratch;
};

// Runs `action` while writes beyond `bytes` fail (EFBIG), as on a full disk.
template <class Action>
void onAFullDisk(rlim_t bytes, Action&& action)
{
    rlimit before, limit;
    getrlimit(RLIMIT_FSIZE, &before);
    limit = {bytes, before.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    action();
    setrlimit(RLIMIT_FSIZE, &before);
}

// One line on standard error, starting with the program's name.
void expectOneLine(const Result& r, const std::string& says)
{
    EXPECT_EQ(r.err.rfind("kvz-cdi-cli: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
}

// The program's own streams, as main() hands them over, results on
// standard error too, for a death test to see.
const Console kOwnStreams = {stdin, stderr, stderr, false, false};

// Sends the process `sig` in `ms` milliseconds, from a timer: to whichever
// thread does not hold it off.
timer_t signalAfterMs(int ms, int sig)
{
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = sig;
    timer_t timer;
    const itimerspec when = {{0, 0}, {ms / 1000, ms % 1000 * 1000000L}};
    timer_create(CLOCK_MONOTONIC, &event, &timer);
    timer_settime(timer, 0, &when, nullptr);
    return timer;
}

// Runs `action`; SIGUSR1 ends the test program, failed, when it has not
// returned within `seconds`: a signal that never comes must not hang it.
template <class Action>
void within(int seconds, Action&& action)
{
    const timer_t bound = signalAfterMs(1000 * seconds, SIGUSR1);
    action();
    timer_delete(bound);
}
}  // namespace

TEST_F(Cli, ReadThenDiffAgainstTheUnitIsEqualAndAnEditShowsExactlyItsPoints)
{
    sim::block(30)[6] = 222, sim::block(30)[7] = 80;  // switch bytes that no load would store
    const Result read = run({"read", path("a.cdi"), "--image", path("a.bin")});
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.err, "");
    const std::vector<std::string> points = listRestorePoints();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(read.out, "restore point: " + points[0] + "\n");
    EXPECT_EQ(bytesOf(path("a.bin")), unitMemory());
    EXPECT_EQ(modeOf(path("a.cdi")), 0600u);
    EXPECT_EQ(modeOf(path("a.bin")), 0600u);
    // Written as read, without the clamps.
    EXPECT_EQ(valueAt("a.cdi", 1), 35.9);
    EXPECT_LT(valueAt("a.cdi", 2), -40.0);
    EXPECT_EQ(valueAt("a.cdi", 325), 200.0);

    for (const char* file : {"a.cdi", "a.bin"})
        for (const char* exact : {"--exact", "--"}) {
            // --exact: a map file's values as written, which a read need not give back.
            if (std::string(file) == "a.cdi" && std::string(exact) == "--exact")
                continue;
            const Result diff = run({"diff", path(file), "unit", exact});
            EXPECT_EQ(diff.status, 0) << file << diff.out << diff.err;
            EXPECT_EQ(diff.out + diff.err, "");
        }

    // Within the codec's tenth a point is the same, within two tenths when
    // either side has one pulse a rotation; beyond, it is shown. A valve
    // point is the byte that is sent.
    const double at60 = valueAt("a.cdi", 60);
    const double at100 = valueAt("a.cdi", 320 + 260);
    char changed[256];
    std::snprintf(changed, sizeof changed, "ign_map0 6000 rpm: %g %g (-0.3)\n", at60 + 0.3, at60);
    char changedPlus[256];
    std::snprintf(changedPlus, sizeof changedPlus, "ign_map0 6200 rpm: %g %g (-0.15)\n",
                  valueAt("a.cdi", 62) + 0.15, valueAt("a.cdi", 62));
    char valve[256];
    std::snprintf(valve, sizeof valve, "pv_map1 10000 rpm: %g %g (-1.5)\nrev_limit: 125 120 (-5)\n", at100 + 1.5,
                  at100);
    editMapFile("a.cdi", "b.cdi",
                {{60, mapLine("IG", 0, 60, at60 + 0.3)},
                 {61, mapLine("IG", 0, 61, valueAt("a.cdi", 61) + 0.1)},
                 {62, mapLine("IG", 0, 62, valueAt("a.cdi", 62) + 0.15)},
                 {320 + 260, mapLine("PV", 1, 100, at100 + 1.5)},
                 {320 + 261, mapLine("PV", 1, 101, valueAt("a.cdi", 320 + 261) + 0.9)},
                 {644, "rev_limit\t125"}});
    editMapFile("b.cdi", "one-pulse.cdi", {{645, "PulseType\t001"}});
    const Result twoPulses = run({"diff", path("b.cdi"), "unit"});
    EXPECT_EQ(twoPulses.status, 1);
    EXPECT_EQ(twoPulses.out, std::string(changed) + changedPlus + valve);
    EXPECT_EQ(twoPulses.err, "");
    EXPECT_EQ(run({"diff", path("one-pulse.cdi"), "unit"}).out,
              std::string(changed) + valve + "PulseType: 1 2 (+1)\n");
    // A tenth more at 6100 rpm is a timer step or more there.
    EXPECT_NE(run({"diff", path("b.cdi"), "unit", "--exact"}).out.find("\nign_map0 6100 rpm: "), std::string::npos);
    EXPECT_EQ(listRestorePoints().size(), 1u) << "diff keeps no restore point";
    // Option lines left out count as the load's defaults: 2 pulses, pickup 36, switches 0.
    std::vector<std::string> short_ = splitLines(readFile(path("a.cdi")));
    short_.resize(645);
    writeFile(path("short.cdi"), joinLines(short_));
    sim::block(30)[12] = 0;
    EXPECT_EQ(run({"diff", path("short.cdi"), "unit"}).out,
              "PulseType: 2 0 (-2)\nQS-STP: 0 222 (+222)\nQS-REV: 0 80 (+80)\n");
    sim::block(30)[12] = 2;

    // A pickup position of 0 is decoded and stored as its pulse type's,
    // with the window's warning as one line; the read still succeeds.
    sim::block(30)[13] = 0;
    const Result warned = run({"read", path("c.cdi")});
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.err, "kvz-cdi-cli: WARNNING:Pickup degree is zero! Check your config.\n");
    EXPECT_EQ(splitLines(readFile(path("c.cdi")))[646], "PickupDeg\t036");
    EXPECT_EQ(run({"diff", path("c.cdi"), path("a.cdi")}).out, "");
    EXPECT_EQ(run({"diff", path("c.cdi"), "unit"}).out, "PickupDeg: 36 0 (-36)\n");
}

TEST_F(Cli, DumpThenRestoreGivesTheUnitItsImageBackByteForByte)
{
    // Onto standard output byte for byte; the message goes to standard error.
    const Result dumped = run({"dump", "-"});
    ASSERT_EQ(dumped.status, 0);
    const std::vector<std::uint8_t> original = unitMemory();
    EXPECT_EQ(std::vector<std::uint8_t>(dumped.out.begin(), dumped.out.end()), original);
    EXPECT_EQ(dumped.err, "restore point: " + listRestorePoints()[0] + "\n");
    writeFile(path("a.bin"), dumped.out);

    for (std::uint8_t& byte : sim::memory())
        byte ^= 0x5A;
    const std::vector<std::uint8_t> scribbled = unitMemory();
    ASSERT_EQ(run({"dump", path("c.bin")}).status, 0);
    // Two images differ in the unit's own bytes too.
    const Result diff = run({"diff", path("a.bin"), path("c.bin")});
    EXPECT_EQ(diff.status, 1);
    EXPECT_NE(diff.out.find("\nconfig byte 0: 0xA5 0xFF\nconfig byte 1: 0x5A 0x00\nconfig byte 9: 0x33 0x69\n"),
              std::string::npos)
        << diff.out;
    // Raw, the pickup a read would put in place of 0 included.
    std::string pickupZero = readFile(path("a.bin"));
    pickupZero[30 * 32 + 13] = 0;
    writeFile(path("p.bin"), pickupZero);
    const Result pickup = run({"diff", path("a.bin"), path("p.bin")});
    EXPECT_EQ(pickup.status, 1);
    EXPECT_EQ(pickup.out, "PickupDeg: 36 0 (-36)\n");

    // Standard input is taken as an image when it is no map file.
    EXPECT_EQ(run({"diff", path("c.bin"), "-"}, dumped.out).status, 1);
    const Result restore = run({"restore", "-", "-y"}, dumped.out);
    ASSERT_EQ(restore.status, 0) << restore.err;
    EXPECT_EQ(unitMemory(), original);
    EXPECT_EQ(run({"diff", "-", "unit"}, dumped.out).out, "");
    // Newest first: the read-back, what the unit held before, the dumps.
    const std::vector<std::string> points = listRestorePoints();
    ASSERT_EQ(points.size(), 4u);
    EXPECT_NE(points[0].find("-after-write"), std::string::npos);
    EXPECT_NE(points[1].find("-before-write"), std::string::npos);
    EXPECT_EQ(restore.out, "restore point: " + points[1] + "\n");
    EXPECT_EQ(bytesOf(points[1]), scribbled);
    EXPECT_EQ(run({"backups"}).out, points[0] + "\n" + points[1] + "\n" + points[2] + "\n" + points[3] + "\n");

    // An image no unit may be given is sent only with --force.
    std::vector<std::uint8_t> noEngine = original;
    noEngine[30 * 32 + 12] = 0;
    writeFile(path("z.bin"), std::string(noEngine.begin(), noEngine.end()));
    const std::size_t sent = sim::requests().size();
    const Result refused = run({"restore", path("z.bin"), "--yes"});
    EXPECT_EQ(refused.status, 6);
    expectOneLine(refused, "Engine type is not set");
    EXPECT_EQ(sim::requests().size(), sent);
    EXPECT_EQ(run({"restore", path("z.bin"), "--yes", "--force"}).status, 0);
    EXPECT_EQ(unitMemory(), noEngine);

    // One kind in one second: "-2", "-3"; a failed one names its folder, no "/" at the end.
    const fs::path backups = xdg.folder("XDG_DATA_HOME") / "kvz-cdi" / "backups";
    std::string kept;
    for (const char* suffix : {"", "-2", "-3"}) {
        ASSERT_TRUE(keepRestorePoint(UnitImage(), "read", 1700000000, kept));  // 2023-11-14 22:13:20 UTC
        EXPECT_EQ(kept, (backups / (std::string("20231114-221320-read") + suffix)).string() + ".bin");
    }
    onAFullDisk(100, [&] { EXPECT_FALSE(keepRestorePoint(UnitImage(), "read", 1700000000, kept)); });
    EXPECT_EQ(kept, backups.string());
    // What a program killed while it wrote one left goes once a minute old.
    writeFile(backups / ".kvz-cdi-killed", ""), writeFile(backups / ".kvz-cdi-recent", "");
    fs::last_write_time(backups / ".kvz-cdi-killed", fs::file_time_type::clock::now() - std::chrono::seconds(61));
    ASSERT_TRUE(keepRestorePoint(UnitImage(), "read", 1700000000, kept));
    EXPECT_TRUE(!fs::exists(backups / ".kvz-cdi-killed") && fs::exists(backups / ".kvz-cdi-recent"));
}

TEST_F(Cli, WriteAsksOrRefusesAndSaysWhereTheRestorePointWent)
{
    ASSERT_EQ(run({"read", path("a.cdi")}).status, 0);
    editMapFile("a.cdi", "b.cdi",
                {{0, mapLine("IG", 0, 0, 5.0)}, {60, mapLine("IG", 0, 60, 30.0)}, {644, "rev_limit\t300"},
                 {647, "QS-STP\t005"}});
    editMapFile("b.cdi", "zero.cdi", {{646, "PickupDeg\t000"}});
    writeFile(path("damaged.cdi"), joinLines(mapFileLines()).substr(0, 5000));
    const std::size_t sent = sim::requests().size();

    struct Refusal {
        std::vector<std::string> arguments;
        std::string typed;
        bool terminal;
        int status;
        std::string says;
    };
    for (const Refusal& refusal : std::vector<Refusal>{
             {{"write", path("b.cdi")}, "y\n", false, 2, "give --yes"},
             {{"write", path("b.cdi")}, "n\n", true, 6, "nothing was written"},
             {{"write", path("b.cdi")}, "", true, 6, "nothing was written"},
             {{"write", path("zero.cdi"), "--yes"}, "", false, 6, "Pick up coil position is 0"},
             {{"write", path("damaged.cdi"), "--yes"}, "", false, 5, "cannot be read as a map file"},
         }) {
        const Result r = run(refusal.arguments, refusal.typed, refusal.terminal);
        EXPECT_EQ(r.status, refusal.status) << refusal.arguments[1];
        const std::string question = refusal.terminal ? "Write " + path("b.cdi") + " to the unit? [y/N] " : "";
        EXPECT_EQ(r.err.substr(0, question.size()), question);
        expectOneLine({r.status, r.out, r.err.substr(question.size())}, refusal.says);
        EXPECT_EQ(sim::requests().size(), sent) << "sent to the unit";
    }

    // Without a place for the restore point, nothing is written.
    fs::remove_all(xdg.folder("XDG_DATA_HOME"));
    writeFile(xdg.folder("XDG_DATA_HOME"), "");
    const Result noRestorePoint = run({"write", path("b.cdi"), "--yes"});
    EXPECT_EQ(noRestorePoint.status, 5);
    expectOneLine(noRestorePoint, "Cannot write a restore point to ");
    for (const sim::Request& request : sim::blockRequests())
        EXPECT_NE(request[1], 0x82) << "a block was written";
    fs::remove(xdg.folder("XDG_DATA_HOME"));

    const Result written = run({"write", path("b.cdi")}, "y\n", true);
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out, "restore point: " + listRestorePoints()[1] + "\n");
    // The unit holds what the file means: its values beyond the clamps
    // clamped, 0 at 0 rpm, the low byte of 300, a switch of 5 as 1.
    const Result same = run({"diff", path("b.cdi"), "unit"});
    EXPECT_EQ(same.status, 0);
    EXPECT_EQ(same.out + same.err, "");
    EXPECT_EQ(sim::block(30)[0], 0xA5) << "the unit's own bytes stay";
    EXPECT_EQ(sim::block(30)[8], 44);

    // The second block of the write fails: the unit holds part new, part old.
    sim::faults().writeFailsAt = sim::exchanges() + 64 + 2;
    const Result stopped = run({"write", path("a.cdi"), "--yes"});
    EXPECT_EQ(stopped.status, 4);
    expectOneLine(stopped, "part new and part old data; what the unit held before is in " + listRestorePoints()[0]);
    EXPECT_NE(stopped.err.find("hid_write failed"), std::string::npos);
}

// A dry run reads the unit, keeps a restore point and says what a write
// would change, sending no write; a write lists the points the unit will
// not run as the file shows before it asks.
TEST_F(Cli, DryRunSaysWhatAWriteWouldChangeAndWritesNothing)
{
    ASSERT_EQ(run({"read", path("a.cdi")}).status, 0);
    editMapFile("a.cdi", "b.cdi",
                {{60, mapLine("IG", 0, 60, 20.0)}, {130, mapLine("IG", 0, 130, 30.0)}, {644, "rev_limit\t125"}});
    const std::string limits = "These points will run differently on the unit than the maps show:\n"
                               "IGN MAP0 13000 rpm: 30.0 runs as 24.8\n";
    std::size_t sent = sim::blockRequests().size();
    const Result differs = run({"write", "--dry-run", path("b.cdi")});
    EXPECT_EQ(differs.status, 1) << differs.err;
    // The unit's own words come back as they were read, a few of them by a
    // hair, as diff --exact shows; beyond the clamps they come back clamped.
    for (const char* record : {"ign_map0 6000 rpm: 25.1 20 (-5.1)\n", "ign_map0 200 rpm: -42.5 0 (+42.5)\n",
                               "pv_map0 500 rpm: 200 160 (-40)\nrev_limit: 120 125 (+5)\n" })
        EXPECT_NE(differs.out.find(record), std::string::npos) << record;
    EXPECT_EQ(differs.out.substr(differs.out.size() - limits.size()), limits);
    EXPECT_EQ(differs.err, "restore point: " + listRestorePoints()[0] + "\n");
    const Result asJson = run({"write", path("b.cdi"), "--dry-run", "--json"});
    EXPECT_TRUE(asJson.status == 1 && nlohmann::json::parse(asJson.out)["equal"] == false);
    EXPECT_NE(asJson.err.find(limits), std::string::npos);
    EXPECT_EQ(sim::blockRequests().size() - sent, 2 * 64u) << "a whole read of two passes each, and no write";

    const Result written = run({"write", path("b.cdi"), "--yes"});
    ASSERT_EQ(written.status, 0);
    EXPECT_EQ(written.err.substr(0, limits.size()), limits);
    sent = sim::blockRequests().size();
    const Result same = run({"write", "--dry-run", path("b.cdi")});
    EXPECT_TRUE(same.status == 0 && same.out == limits) << same.out;
    // What the unit held first differs from what it holds now.
    EXPECT_EQ(run({"restore", "--dry-run", listRestorePoints().back()}).status, 1);
    EXPECT_EQ(sim::blockRequests().size() - sent, 2 * 64u);
}

TEST_F(Cli, ExportAndImportRoundTripAndADamagedCsvChangesNothing)
{
    ASSERT_EQ(run({"read", path("a.cdi")}).status, 0);
    ASSERT_EQ(run({"export", path("a.cdi"), path("a.csv")}).status, 0);
    const std::vector<std::string> csv = splitLines(readFile(path("a.csv")));
    ASSERT_EQ(csv.size(), 1u + 160 + 1 + 9);
    EXPECT_EQ(csv[0], "rpm,ign_map0,ign_map1,pv_map0,pv_map1");
    EXPECT_EQ(csv[2].substr(0, 14), "100,35.900000,");
    EXPECT_EQ(csv[161], "");
    EXPECT_EQ(csv[162], "QS-RPM,60");
    EXPECT_EQ(csv[170], "QS-REV,1");
    EXPECT_EQ(readFile(path("a.csv")).find('\r'), std::string::npos);

    // Through the loader's clamps; everything else as it was.
    ASSERT_EQ(run({"import", path("a.csv"), path("b.cdi")}).status, 0);
    editMapFile("a.cdi", "clamped.cdi",
                {{1, mapLine("IG", 0, 1, 35.0)}, {2, mapLine("IG", 0, 2, 0.0)}, {325, mapLine("PV", 0, 5, 160.0)}});
    EXPECT_EQ(readFile(path("b.cdi")), readFile(path("clamped.cdi")));
    // CR LF, a byte order mark, and no optional options are read too.
    std::vector<std::string> short_(csv.begin(), csv.end() - 4);
    writeFile(path("crlf.csv"), "\xEF\xBB\xBF" + joinLines(short_, "\r\n"));
    EXPECT_EQ(run({"import", path("crlf.csv"), path("c.cdi")}).status, 0);

    struct Damage {
        std::size_t line;
        std::string text;
    };
    for (const Damage& damage : std::vector<Damage>{{0, "rpm,ign_map0,ign_map1,pv_map0"},
                                                     {4, "250,1,2,3,4"},
                                                     {4, "300,1,2,3"},
                                                     {4, "300,1,2,3,4,5"},
                                                     {4, "300,1,x,3,4"},
                                                     {4, "300,1,inf,3,4"},
                                                     {161, "-"},
                                                     {166, "rev-limit,120"},
                                                     {170, "QS-REV,1.5"},
                                                     {170, "QS-REV,1\nQS-REV,1"}}) {
        std::vector<std::string> lines = csv;
        lines[damage.line] = damage.text;
        writeFile(path("bad.csv"), joinLines(lines));
        writeFile(path("old.cdi"), "old\n");
        const Result r = run({"import", path("bad.csv"), path("old.cdi")});
        EXPECT_EQ(r.status, 5) << damage.text;
        expectOneLine(r, "cannot be read as a map CSV file");
        EXPECT_EQ(readFile(path("old.cdi")), "old\n");
    }
}

// Every input is read and every output looked at before the unit is
// touched; a failure says why, on one line, names from outside escaped.
TEST_F(Cli, NothingIsSentOrWrittenUntilEveryFileNamedPassesItsChecks)
{
    const fs::path cwd = fs::current_path();
    fs::current_path(scratch.path());
    ASSERT_EQ(run({"read", "a.cdi"}).status, 0);
    ASSERT_EQ(run({"export", "a.cdi", "b.csv"}).status, 0);
    fs::create_symlink("b.csv", "link.csv");
    std::vector<std::string> csv = splitLines(readFile("b.csv"));
    csv[11] = "1000,1,x,3,4";
    writeFile("bad.csv", joinLines(csv));
    const std::set<std::string> files = listFolder(".");
    const std::string map = readFile("a.cdi");
    const std::size_t sent = sim::requests().size();
    for (const auto& [arguments, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"diff", "unit", "none.cdi"}, "none.cdi cannot be read as a map file: No such file or directory"},
             {{"read", "/nonexistent/x.cdi"}, "cannot write /nonexistent/x.cdi: No such file or directory"},
             {{"read", "r.cdi", "--image", "."}, "cannot write .: Is a directory"},
             {{"dump", ""}, "cannot write '': No such file or directory"},
             {{"read", "x", "--image", "./x"}, "the output ./x is the same file as the output x"},
             {{"export", "a.cdi", "a.cdi"}, "the output a.cdi is the same file as the input a.cdi"},
             {{"import", "b.csv", "link.csv"}, "the output link.csv is the same file as the input b.csv"},
             {{"import", "bad.csv", "c.cdi"}, "bad.csv cannot be read as a map CSV file: line 12: not a number"},
             {{"write", "\x1B\n\xFF", "-y"}, "\\x1B\\x0A\\xFF cannot be read as a map file: No such file or directory"},
         }) {
        const Result r = run(arguments);
        EXPECT_EQ(r.status, 5) << says;
        EXPECT_EQ(r.err, "kvz-cdi-cli: " + says + "\n");
    }
    EXPECT_EQ(sim::requests().size(), sent) << "sent to the unit";
    EXPECT_EQ(listFolder("."), files);
    EXPECT_EQ(readFile("a.cdi"), map);
    fs::current_path(cwd);
    // The unit's strings too, a C1 control included.
    sim::setIdentity(L"KVZ\x1B[31m", L"CDI\x85");
    EXPECT_EQ(run({"detect"}).out, "ids: 04d8:003c\nmaker: KVZ\\x1B[31m\nproduct: CDI\\xC2\\x85\nrelease: 1.00\n");
}

TEST_F(Cli, EveryUnitCommandWithoutAUnitSaysSoOnOneLine)
{
    ASSERT_EQ(run({"read", path("a.cdi"), "--image", path("a.bin")}).status, 0);
    sim::faults().absent = true;
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"detect"},
             {"read", path("b.cdi")},
             {"dump", path("b.bin")},
             {"write", path("a.cdi"), "--yes"},
             {"restore", path("a.bin"), "--yes"},
             {"diff", path("a.cdi"), "unit"},
             {"status"}}) {
        const Result r = run(arguments);
        EXPECT_EQ(r.status, 3) << arguments[0];
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "kvz-cdi-cli: no unit found\n");
    }
    EXPECT_FALSE(fs::exists(path("b.cdi")) || fs::exists(path("b.bin")));
}

// Five seconds, whatever signals the program was started with blocked;
// Ctrl+C ends the wait at once, and the program by it.
TEST_F(Cli, AnotherProgramTalkingToTheUnitIsWaitedForThenSaid)
{
    const OtherProgramsLock window;
    sigset_t alarm, before;
    sigemptyset(&alarm), sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, &before);
    auto started = std::chrono::steady_clock::now();
    Result r;
    within(10, [&] { r = run({"read", path("a.cdi")}); });
    const auto waited = std::chrono::steady_clock::now() - started;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    EXPECT_TRUE(waited >= std::chrono::milliseconds(5000) && waited < std::chrono::milliseconds(5150));
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "kvz-cdi-cli: the unit is in use by another program\n");
    EXPECT_TRUE(sim::requests().empty());

    started = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            signalAfterMs(300, SIGINT);
            runCli({"dump", path("d.bin")}, kOwnStreams);
            std::_Exit(0);
        },
        testing::KilledBySignal(SIGINT), "^kvz-cdi-cli: interrupted before the unit was opened\n$");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2000));
}

// A signal during a write is held off: the write finishes and says so, then
// the program ends by the signal (SIGQUIT would dump core where allowed).
class SignalInWrite : public Cli, public testing::WithParamInterface<int> {};

TEST_P(SignalInWrite, FinishesTheWriteThenEndsTheProgram)
{
    ASSERT_EQ(run({"read", path("a.cdi")}).status, 0);
    EXPECT_EXIT(
        {
            const rlimit noCore{};
            setrlimit(RLIMIT_CORE, &noCore);
            sim::setVirtualTime(false);
            setExchangeClock(nullptr);
            sim::faults().replyDelayMs = 4;  // 128 exchanges: half a second
            signalAfterMs(100, GetParam());
            runCli({"write", path("a.cdi"), "--yes"}, kOwnStreams);
            actOnHeldSignal(stderr);
            std::_Exit(0);
        },
        testing::KilledBySignal(GetParam()),
        "^restore point: [^\n]*\nkvz-cdi-cli: interrupted: the transfer was finished first\n$");
}

INSTANTIATE_TEST_SUITE_P(HeldOff, SignalInWrite, testing::Values(SIGHUP, SIGINT, SIGQUIT, SIGTERM));

// Another program's status request, answered 1.6 s late as this one starts,
// shifts every reply of its first read by one. Neither the image nor what a
// write keeps of it (the unit's own configuration bytes) may come from that.
TEST_F(Cli, AReplyAnotherProgramGaveUpOnIsNeverTakenForTheUnitsImage)
{
    ASSERT_EQ(run({"read", path("a.cdi")}).status, 0);
    sim::faults().replyDelayMs = 5;
    sim::faults().statusReplyDelayMs = 1600;
    const std::vector<std::uint8_t> held = unitMemory();
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"dump", path("d.bin")}, {"write", path("a.cdi"), "--yes"}}) {
        sim::advanceMs(kLateReplyMs);  // nothing of this program's own is owed
        hid_device* other = hid_open(CDI_VENDOR_ID, CDI_PRODUCT_ID, nullptr);
        const std::uint8_t request[65] = {0, CMD_STATUS};
        hid_write(other, request, sizeof request);
        hid_close(other);
        sim::advanceMs(1599);
        const std::size_t before = sim::blockRequests().size();
        ASSERT_EQ(run(command).status, 0) << command[0];
        EXPECT_EQ(sim::blockRequests().size() - before, command[0] == "dump" ? 128u : 192u) << "read again";
        EXPECT_TRUE(std::equal(held.begin() + 30 * 32, held.begin() + 30 * 32 + 2, sim::block(30)));
        EXPECT_TRUE(std::equal(held.begin() + 30 * 32 + 14, held.end(), sim::block(30) + 14));
    }
    EXPECT_EQ(bytesOf(path("d.bin")), held);
}

TEST_F(Cli, DetectAndStatusOnceOrWatchedUntilCtrlC)
{
    EXPECT_EQ(run({"detect"}).out, "ids: 04d8:003c\nmaker: KVZ Electronics\nproduct: KVZ-CDI\nrelease: 1.00\n");
    sim::status() = {4321, 1, 77, 0};
    const Result once = run({"status"});
    EXPECT_EQ(once.status, 0);
    EXPECT_EQ(once.out, "rpm: 4321\nvalve_angle: 77\nmap_switch: 1\nqs_switch: 1\n");
    sim::faults().statusNoReply = true;
    expectOneLine(run({"status"}), "the unit gave no status reply");
    EXPECT_EQ(run({"status"}).status, 4);
    sim::faults().statusNoReply = false;
    sim::advanceMs(kLateReplyMs);  // no reply can come any more

    // Ctrl+C once three rows are in the file; with no unit the rows go on,
    // their fields empty.
    for (bool absent : {false, true}) {
        sim::faults().absent = absent;
        std::thread ctrlC([&] {
            while (splitLines(readFile(path("live.csv"))).size() < 5)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            kill(getpid(), SIGINT);
        });
        Result watched;
        within(10, [&] { watched = run({"status", "--csv", path("live.csv"), "--interval", "0.05"}); });
        ctrlC.join();
        EXPECT_EQ(watched.status, 0);
        EXPECT_EQ(watched.out + watched.err, "");
        const std::vector<std::string> rows = splitLines(readFile(path("live.csv")));
        EXPECT_EQ(rows[0], std::string("# kvz-cdi-cli 1.2.0, unit ")
                               + (absent ? "not found" : "KVZ Electronics KVZ-CDI"));
        EXPECT_EQ(rows[1], "time,rpm,valve_angle,map_switch,qs_switch");
        for (std::size_t i = 2; i < rows.size(); ++i)
            EXPECT_TRUE(testing::internal::RE::FullMatch(
                rows[i], absent ? "20..-..-..T..:..:..\\....Z,,,," : "20..-..-..T..:..:..\\....Z,4321,77,1,1"))
                << rows[i];
        EXPECT_EQ(modeOf(path("live.csv")), 0600u);
        fs::remove(path("live.csv"));
    }

    // The disk fills mid-row: the file ends with its last whole row.
    Result full;
    onAFullDisk(200, [&] { full = run({"status", "--csv", path("full.csv"), "--interval", "0.05"}); });
    EXPECT_EQ(full.status, 5);
    expectOneLine(full, "cannot write " + path("full.csv"));
    EXPECT_EQ(readFile(path("full.csv")).back(), '\n');
}

TEST_F(Cli, HelpVersionUsageTraceAndProgress)
{
    EXPECT_EQ(run({"--version"}).out, "kvz-cdi-cli 1.2.0\n");
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("  6  refused by a safety rule, or answered No\n"), std::string::npos);
    for (const char* command :
         {"detect", "read", "write", "dump", "restore", "diff", "export", "import", "status", "backups"}) {
        const Result r = run({command, "--help"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind(std::string("Usage: kvz-cdi-cli ") + command, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("Exit status:"), std::string::npos);
    }
    // Usage errors, a terminal there to answer or not.
    for (const auto& [wrong, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{}, "no command given"},
             {{"frobnicate"}, "unknown command frobnicate"},
             {{"--bogus"}, "unknown option --bogus"},
             {{"read"}, "read: missing FILE.cdi"},
             {{"read", "a", "b", "c"}, "read: too many arguments: b c"},
             {{"read", "a", "--yes"}, "read: unknown option --yes"},
             {{"read", "a", "--image"}, "read: --image needs a value"},
             {{"read", "a", "--image", "b", "--image=c"}, "read: --image given more than once"},
             {{"write", "a.cdi", "--yes=no"}, "write: --yes takes no value"},
             {{"detect", "--json="}, "detect: --json takes no value"},
             {{"read", "-", "--image", "-"}, "standard output can carry only one of the files"},
             {{"diff", "-", "-"}, "standard input can carry only one of the two sides"},
             {{"write", "-"}, "standard input carries the file, not an answer: give --yes"},
             {{"restore", "-", "--force"}, "standard input carries the file, not an answer: give --yes"},
             {{"status", "--json", "--csv=x"}, "status: --json does not go with --csv"},
             {{"status", "--interval", "0.01"}, "--interval takes seconds, from 0.05 to 86400"}}) {
        const Result r = run(wrong, "", true);
        EXPECT_EQ(r.status, 2);
        expectOneLine(r, "kvz-cdi-cli: " + says);
        EXPECT_EQ(r.err.substr(r.err.size() - 26), " (see kvz-cdi-cli --help)\n");
    }
    // -h and -V as --help and --version; --option=value; options after the
    // file names; after --, a word that looks like an option or a command is
    // a file name.
    EXPECT_EQ(run({"-V"}).out, "kvz-cdi-cli 1.2.0\n");
    EXPECT_EQ(run({"-h"}).out, help.out);
    EXPECT_EQ(run({"diff", "a", "-h", "b"}).out, run({"diff", "--help"}).out);
    ASSERT_EQ(run({"read", "--image=" + path("a.bin"), path("a.cdi")}).status, 0);
    const Result piped = run({"read", "-", "--image", path("b.bin")});
    EXPECT_EQ(piped.out, readFile(path("a.cdi")));
    EXPECT_EQ(piped.err.rfind("restore point: ", 0), 0u) << "with a file on standard output";
    EXPECT_EQ(run({"restore", path("a.bin"), "-y", "--force"}).status, 0);
    const fs::path cwd = fs::current_path();
    fs::current_path(scratch.path());
    fs::copy_file("a.cdi", "-a.cdi");
    EXPECT_EQ(run({"export", "--", "-a.cdi", "status"}).status, 0);
    fs::current_path(cwd);
    EXPECT_EQ(readFile(path("status")).rfind("rpm,ign_map0,", 0), 0u);

    // The trace only with --trace, and then on standard error; progress
    // only on a terminal.
    const std::string quiet = captureStdout([&] { EXPECT_EQ(run({"read", path("a.cdi")}).err, ""); });
    EXPECT_EQ(quiet, "");
    const Result traced = run({"--trace", "read", path("a.cdi")});
    EXPECT_NE(traced.err.find("00-01-02-03-04-05-06-07-08=09-0A-0B-0C-0D-0E-0F\n"), std::string::npos);
    EXPECT_NE(traced.err.find("RPM: 60 DEG: "), std::string::npos);
    EXPECT_EQ(traced.out.rfind("restore point: ", 0), 0u);
    const Result shown = run({"read", path("a.cdi")}, "", true);
    EXPECT_NE(shown.err.find("\rkvz-cdi-cli: 64/64 blocks"), std::string::npos);
    EXPECT_EQ(shown.err.back(), '\r');
}

TEST_F(Cli, AnOutputThatIsNoRegularFileIsWrittenInPlaceOrRefused)
{
    ASSERT_EQ(run({"read", path("a.cdi")}).status, 0);
    const std::string csv = run({"export", path("a.cdi"), "-"}).out;
    // Through a link to a FIFO, which gets the data and stays a FIFO.
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    fs::create_symlink("fifo", path("link"));
    // The reader is there first, and the CSV fits in the pipe's buffer.
    const int reader = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
    EXPECT_EQ(run({"export", path("a.cdi"), path("link")}).status, 0);
    std::string got(csv.size() + 1, '\0');
    got.resize(std::max<ssize_t>(read(reader, &got[0], got.size()), 0));
    close(reader);
    EXPECT_EQ(got, csv);
    EXPECT_TRUE(fs::is_fifo(path("fifo")) && fs::is_symlink(path("link")));
    // A reader that comes late is waited for with the unit let go, so that
    // another program may use it (and Ctrl+C is not held off).
    bool unitFree = false;
    std::thread lateReader([&] {
        const int node = open(sim::nodePath().c_str(), O_RDONLY | O_CLOEXEC);
        for (int tries = 0; tries < 300 && !unitFree; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            unitFree = listRestorePoints().size() == 2 && flock(node, LOCK_EX | LOCK_NB) == 0;
        }
        close(node);
        EXPECT_EQ(readFile(path("fifo")), readFile(path("a.cdi")));
    });
    EXPECT_EQ(run({"read", path("fifo")}).status, 0);
    lateReader.join();
    EXPECT_TRUE(unitFree);
    expectOneLine(run({"dump", scratch.path().string()}), "cannot write ");
    // Standard output that cannot be written: said of the file it carried.
    std::FILE* full = std::fopen("/dev/full", "w");
    static char buffer[1 << 16];  // all of it fits: only the flush fails
    std::setvbuf(full, buffer, _IOFBF, sizeof buffer);
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(runCli({"export", path("a.cdi"), "-"}, {stdin, full, err, false, false}), 5);
    std::fclose(full);
    EXPECT_EQ(contents(err), "kvz-cdi-cli: cannot write standard output: No space left on device\n");

    // Devices like /dev/null and /dev/full stay devices, whether the write
    // succeeds or fails.
    for (const auto& [name, minor, status] : {std::tuple{"null", 3u, 0}, std::tuple{"full", 7u, 5}}) {
        if (mknod(path(name).c_str(), S_IFCHR | 0666, makedev(1, minor)) != 0)
            GTEST_SKIP() << "mknod refused: " << std::strerror(errno);
        EXPECT_EQ(run({"dump", path(name)}).status, status) << name;
        EXPECT_EQ(run({"read", path("b.cdi"), "--image", path(name)}).status, status) << name;
        EXPECT_TRUE(fs::is_character_file(path(name))) << name;
    }
}

TEST_F(Cli, AnInputThatIsAPipeOrAPathToStandardInputIsReadAsMinusIs)
{
    ASSERT_EQ(run({"read", path("a.cdi")}).status, 0);
    ASSERT_EQ(run({"export", path("a.cdi"), path("a.csv")}).status, 0);
    ASSERT_EQ(run({"import", path("a.csv"), path("want.cdi")}).status, 0);
    const std::string csv = readFile(path("a.csv"));
    // The first file a pipe holding `bytes`, named as bash's <(...) names it.
    const auto withPipe = [&](std::vector<std::string> arguments, const std::string& bytes, bool isStdin) {
        int fds[2];
        EXPECT_TRUE(pipe(fds) == 0 && write(fds[1], bytes.data(), bytes.size()) == ssize_t(bytes.size()));
        close(fds[1]);
        arguments.insert(arguments.begin() + 1, "/dev/fd/" + std::to_string(fds[0]));
        const Result r = run(arguments, "", true, isStdin ? fdopen(fds[0], "r") : nullptr);
        if (!isStdin)
            close(fds[0]);
        return r;
    };
    // Read whole, as a FIFO; a diff side so read has no name to tell an image by.
    EXPECT_EQ(withPipe({"import", path("b.cdi")}, csv, false).status, 0);
    EXPECT_EQ(readFile(path("b.cdi")), readFile(path("want.cdi")));
    EXPECT_EQ(withPipe({"diff", "unit"}, run({"dump", "-"}).out, false).status, 0);
    // A path to standard input is standard input: read as - is, and once.
    EXPECT_EQ(withPipe({"import", path("c.cdi")}, csv, true).status, 0);
    EXPECT_EQ(readFile(path("c.cdi")), readFile(path("want.cdi")));
    expectOneLine(withPipe({"diff", "-"}, csv, true), "standard input can carry only one of the two sides");
    expectOneLine(withPipe({"write"}, readFile(path("a.cdi")), true), "standard input carries the file, not an answer");
    const Result folder = run({"import", scratch.path().string(), path("d.cdi")});
    EXPECT_EQ(folder.status, 5);
    expectOneLine(folder, "cannot be read as a map CSV file");
}

TEST_F(Cli, JsonResultsReadBackAsTheyArePrinted)
{
    using json = nlohmann::json;
    EXPECT_EQ(json::parse(run({"detect", "--json"}).out),
              json::parse(R"({"vendor_id": 1240, "product_id": 60, "manufacturer": "KVZ Electronics",
                             "product": "KVZ-CDI", "release": "1.00"})"));
    // Each sample's time in UTC with milliseconds, its values or nulls.
    const auto expectSample = [](const std::string& line, const char* values) {
        json sample = json::parse(line);
        EXPECT_TRUE(testing::internal::RE::FullMatch(sample["time"].get<std::string>(), "20..-..-..T..:..:..\\....Z"));
        sample.erase("time");
        EXPECT_EQ(sample, json::parse(values)) << line;
    };
    sim::status() = {4321, 1, 77, 0};
    expectSample(run({"status", "--json"}).out, R"({"rpm": 4321, "valve_angle": 77, "map_switch": 1, "qs_switch": 1})");

    // Watched without a unit: one object a line and nothing else.
    sim::faults().absent = true;
    signalAfterMs(300, SIGINT);
    Result watched;
    within(10, [&] { watched = run({"status", "--watch", "--json", "--interval=0.05"}); });
    const std::vector<std::string> lines = splitLines(watched.out);
    EXPECT_GE(lines.size(), 2u) << watched.err;
    for (const std::string& line : lines)
        expectSample(line, R"({"rpm": null, "valve_angle": null, "map_switch": null, "qs_switch": null})");
    sim::faults().absent = false;

    // diff's records: a point and an option of a map file, a byte of an image.
    ASSERT_EQ(run({"read", path("a.cdi")}).status, 0);
    EXPECT_EQ(json::parse(run({"diff", path("a.cdi"), "unit", "--json"}).out),
              json::parse(R"({"equal": true, "points": [], "options": [], "bytes": []})"));
    editMapFile("a.cdi", "b.cdi", {{60, mapLine("IG", 0, 60, 30.0)}, {644, "rev_limit\t125"}});
    json expected = json::parse(R"({"equal": false, "points": [{"map": "ign_map0", "rpm": 6000, "a": 30.0}],
                                    "options": [{"key": "rev_limit", "a": 125, "b": 120}], "bytes": []})");
    expected["points"][0]["b"] = valueAt("a.cdi", 60);
    const Result diff = run({"diff", path("b.cdi"), "unit", "--json"});
    EXPECT_EQ(diff.status, 1);
    EXPECT_EQ(json::parse(diff.out), expected);
    std::string image = run({"dump", "-"}).out;
    image[30 * 32] = 0;
    EXPECT_EQ(json::parse(run({"diff", "-", "unit", "--json"}, image).out)["bytes"],
              json::parse(R"([{"byte": 0, "a": 0, "b": 165}])"));

    // A name that is not UTF-8 is replaced, not refused.
    ScopedEnv data("XDG_DATA_HOME", path("d\xFF"));
    ASSERT_EQ(run({"dump", path("a.bin")}).status, 0);
    const json backups = json::parse(run({"backups", "--json"}).out);
    ASSERT_EQ(backups.size(), 1u);
    const std::string point = backups[0]["image"];
    EXPECT_EQ(point, path("d\xEF\xBF\xBD") + point.substr(path("d").size() + 3));
    EXPECT_EQ(backups[0]["map_file"], point.substr(0, point.size() - 3) + "cdi");
    EXPECT_EQ(backups[0]["kind"], "read");
    EXPECT_TRUE(testing::internal::RE::FullMatch(backups[0]["time"].get<std::string>(), "20..-..-..T..:..:..Z"));
}
