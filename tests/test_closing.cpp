// Closing, logout and File Save as a user meets them: the close-time
// autosave is never lost silently, what was typed counts, a signal saves as
// a close does, and a save never replaces a file unasked. Closing ends the
// process, so each case runs the real start-up in a child (a death test)
// that tells on standard error what its boxes showed; the parent looks at
// the files it left.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Int_Input.H>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "cdi_device.h"
#include "device_status.h"
#include "dialogs.h"
#include "main_window.h"
#include "map_file.h"
#include "map_table.h"
#include "startup.h"
#include "support.h"
#include "sim_unit.h"
#include "toolkit_dialogs.h"
#include "unit_lock.h"

namespace fs = std::filesystem;

namespace {

std::string answers;  // 'y' or 'n' for each question, in turn
std::string chosenPath;

void printBox(const char* text)
{
    std::fprintf(stderr, "[box] %s\n", text);
}

int printAndAnswer(const char* question)
{
    const char answer = answers.empty() ? 'n' : answers[0];
    answers.erase(0, 1);
    std::fprintf(stderr, "[question] %s [%c]\n", question, answer);
    return answer == 'y';
}

// No case here has a refusal the user should hear: a beep ends the child
// with a status of its own.
void failOnBeep()
{
    _exit(3);
}

int choosePath(const FileChooserRequest&, std::string& path)
{
    path = chosenPath;
    return 0;
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string quoted(const std::string& text)
{
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

const char kCannotSave[] = "The maps could not be saved to the autosave file. Close anyway?";

class Closing : public testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        std::string pattern = (fs::current_path() / "closing-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        fs::create_directory(dir / "tmp");
        setenv("TMPDIR", (dir / "tmp").c_str(), 1);
        setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path autosave() const { return dir / "tmp" / "autosaved.cdi"; }

    // In the child: the program's start-up, with boxes that print.
    static void start(const char* scriptedAnswers)
    {
        static char name[] = "kvz-cdi";
        static char* argv[] = {name, nullptr};
        startApplication(1, argv);
        dialogs = {printBox, printBox, printAndAnswer, failOnBeep, printAndAnswer};
        chooseFile = choosePath;
        answers = scriptedAnswers;
    }
};

TEST_F(Closing, AFailedAutosaveAsksAndNoKeepsTheWindowOpen)
{
    std::ofstream(autosave()) << "kept\n";
    fs::permissions(autosave(), fs::perms(0444));
    EXPECT_EXIT(
        {
            start("ny");
            onWindowClose(nullptr, nullptr);
            if (widgets.window->shown())
                std::fprintf(stderr, "[still open]\n");
            onWindowClose(nullptr, nullptr);
        },
        testing::ExitedWithCode(0),
        "\\[question\\] " + quoted(kCannotSave) + " \\[n\\]\n\\[still open\\]\n\\[question\\] " + quoted(kCannotSave)
            + " \\[y\\]\n");
    EXPECT_EQ(readText(autosave()), "kept\n");
}

TEST_F(Closing, EveryEndSavesTheMapsAndTheTypedPickup)
{
    // How the run ends (0: the window is closed), and the pickup field's
    // text then, still being typed: the field was never left.
    const struct {
        int signal;
        const char* typed;
        const char* saved;
    } ends[] = {
        {0, " 70", "PickupDeg\t070\n"},
        {0, "0", "PickupDeg\t050\n"},  // refused: the stored value stays, unheard
        {SIGTERM, "44", "PickupDeg\t044\n"},
        {SIGHUP, "44", "PickupDeg\t044\n"},
        {SIGINT, "44", "PickupDeg\t044\n"},
    };
    for (const auto& end : ends) {
        SCOPED_TRACE(std::to_string(end.signal) + " " + end.typed);
        fs::remove(autosave());
        EXPECT_EXIT(
            {
                start("");
                ignitionTable.setValue(0, 5, 12.5);
                cdiDevice.config.pickupDeg = 50;
                widgets.pickup->value(end.typed);
                if (end.signal == 0)
                    onWindowClose(nullptr, nullptr);
                raise(end.signal);
                for (int turn = 0; turn < 50; ++turn)
                    Fl::wait(0.1);
                _exit(7);
            },
            testing::ExitedWithCode(0), "");
        const std::string saved = readText(autosave());
        EXPECT_NE(saved.find("IG:0\t005\t12.500000\n"), std::string::npos);
        EXPECT_NE(saved.find(end.saved), std::string::npos);
    }
}

// A refused autosave: a first start, and the file kept where the log says,
// under a name of its own when one of that second is there already.
TEST_F(Closing, ARefusedAutosaveIsKeptAndTheCloseSavesTheFirstStartOptions)
{
    const std::string damaged = "IG:0\t000\t0.000000\nIG:0\t001\t10.5";  // cut short
    std::ofstream(autosave()) << damaged;
    const fs::path state = dir / "state" / "kvz-cdi";
    fs::create_directories(state);
    for (std::time_t t = std::time(nullptr); t < std::time(nullptr) + 6; ++t) {
        char name[64];
        std::strftime(name, sizeof name, "refused-autosave-%Y%m%d-%H%M%S.cdi", std::gmtime(&t));
        std::ofstream(state / name) << "earlier\n";
        fs::permissions(state / name, fs::perms(0600));
    }
    EXPECT_EXIT(
        {
            start("");
            std::fputs(widgets.log->value(), stderr);
            onWindowClose(nullptr, nullptr);
        },
        testing::ExitedWithCode(0),
        "The autosave could not be loaded; it is kept in " + quoted(state.string())
            + "/refused-autosave-[0-9]{8}-[0-9]{6}-2\\.cdi\\.\n");
    int keptPrivate = 0;
    for (const std::string& name : listFolder(state))
        keptPrivate += readText(state / name) == damaged && fs::status(state / name).permissions() == fs::perms(0600);
    EXPECT_EQ(keptPrivate, 1);
    const std::string firstStart = "QS-RPM\t120\nQS_ONT\t001\nQS-CUT\t012\nQS-DIS\t100\nrev_limit\t120\n";
    EXPECT_NE(readText(autosave()).find(firstStart + "PulseType\t002\nPickupDeg\t036\nQS-STP\t000\nQS-REV\t000\n"),
              std::string::npos);

    // Where it cannot be kept, it stays as it is, and the close asks.
    fs::remove_all(dir / "state");
    std::ofstream(dir / "state") << "a file, not a folder\n";
    std::ofstream(autosave()) << damaged;
    EXPECT_EXIT((start("y"), onWindowClose(nullptr, nullptr)), testing::ExitedWithCode(0),
                "\\[question\\] " + quoted(kCannotSave) + " \\[y\\]\n");
    EXPECT_EQ(readText(autosave()), damaged);
}

// A poll that gave up on its reply keeps the unit's lock: the program does
// not end, by a close or a signal, before that reply can no longer come.
TEST_F(Closing, AnEndWaitsOutAReplyStillOwed)
{
    for (int end : {0, SIGTERM}) {
        SCOPED_TRACE(end);
        EXPECT_EXIT(
            {
                start("");
                resetUnitOnVirtualTime();
                sim::faults().statusNoReply = true;
                pollStatus(nullptr);
                static long long gaveUpAt = sim::clockMs();
                std::atexit([] {
                    std::fprintf(stderr, "[lingers %d, %lld ms later]\n", unitLockLingers(),
                                 sim::clockMs() - gaveUpAt);
                });
                if (end == 0)
                    onWindowClose(nullptr, nullptr);
                raise(end);
                for (int turn = 0; turn < 50; ++turn)
                    Fl::wait(0.1);
                _exit(7);
            },
            testing::ExitedWithCode(0), "\\[lingers 0, 14[0-9][0-9] ms later\\]\n");
    }
}

TEST_F(Closing, FileSaveAsksBeforeReplacingANameTheExtensionMakes)
{
    std::ofstream(dir / "tune.cdi") << "old tune\n";
    std::ofstream(dir / "100%s.cdi") << "old\n";
    const std::string tune = (dir / "tune").string(), percent = (dir / "100%s").string();
    EXPECT_EXIT(
        {
            start("ny");
            // ".cdi" makes the first two names those of existing files; the
            // chooser itself asked about the last.
            for (const fs::path& path : {dir / "tune", dir / "100%s", dir / "fresh", dir / "asked.cdi"}) {
                chosenPath = path.string();
                widgets.fileSave->do_callback();
            }
            std::fprintf(stderr, "[done]\n");
            std::exit(0);
        },
        testing::ExitedWithCode(0),
        "\\[question\\] " + quoted(tune) + "\\.cdi already exists\\. Replace it\\? \\[n\\]\n\\[question\\] "
            + quoted(percent) + "\\.cdi already exists\\. Replace it\\? \\[y\\]\n\\[done\\]\n");
    EXPECT_EQ(readText(dir / "tune.cdi"), "old tune\n");
    EXPECT_EQ(readText(dir / "100%s.cdi").size(), readText(dir / "fresh.cdi").size());
    EXPECT_TRUE(fs::exists(dir / "asked.cdi"));
}

}  // namespace
