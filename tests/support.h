// What the tests share: captured standard output, scratch files and folders,
// temporary XDG folders, the box recorder, and the program's globals put back
// as start-up leaves them. Each part lives in the source of the layer it
// needs (support.cpp needs none), so a test links only the layers it tests.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class MyChart;

// ---- Standard output (support.cpp) ----

// Runs `action` with standard output captured and gives back what it
// printed: the codec and the transfers trace every step there.
template <class Action>
std::string captureStdout(Action&& action)
{
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

// ---- Map files (support.cpp) ----

// A complete map file as a save writes it, one string a line: ignition
// point k holds sampleIgnition(k), valve point k sampleValve(k), so that a
// line landing in the wrong place shows; options QS-RPM 120, QS_ONT 3,
// QS-CUT 12, QS-DIS 100, rev_limit 125, PulseType 1, PickupDeg 70, QS-STP 1
// and QS-REV 1.
std::vector<std::string> mapFileLines();
double sampleIgnition(int k);
double sampleValve(int k);
// One map line, e.g. mapLine("IG", 0, 7, 1.5) is "IG:0\t007\t1.500000".
std::string mapLine(const char* key, int map, int index, double value);
// The lines, each followed by `eol`.
std::string joinLines(const std::vector<std::string>& lines, const char* eol = "\n");

// ---- Files and folders (support.cpp) ----

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& text);
// Writes beside the file, then renames over it: readers never see half of it.
void replaceFile(const std::filesystem::path& path, const std::string& text);
std::set<std::string> listFolder(const std::filesystem::path& folder);
// The lines of a text without their line ends; a last line without one counts.
std::vector<std::string> splitLines(const std::string& text);

// A fresh folder in the temporary folder, removed with everything in it when
// it goes; write permission taken from it by a test is given back first.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "kvz-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets an environment variable while it lives; the old value, or its
// absence, comes back after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// XDG_DATA_HOME, XDG_STATE_HOME, XDG_RUNTIME_DIR, XDG_CACHE_HOME and TMPDIR
// each pointed at a fresh empty folder of its own while it lives, so that
// the program neither finds nor leaves files of the user's.
class TemporaryXdgFolders {
public:
    TemporaryXdgFolders();

    // The folder a variable points at, e.g. folder("TMPDIR").
    std::filesystem::path folder(const char* variable) const { return root_.path() / variable; }

private:
    TempFolder root_;
    std::deque<ScopedEnv> variables_;
};

// ---- The map data (support_model.cpp) ----

// Empty tables with start-up's clamps (0..35 and 0..160) and a fresh device
// record, logging to `log`.
void resetMapData(void (*log)(const char*) = nullptr);

// ---- The simulated unit (support_sim.cpp) ----

// A fresh unit on its virtual clock, which the exchange's late-reply rule
// then counts by too: a reply that never comes costs no waiting, and no
// earlier test's unanswered request is outstanding.
void resetUnitOnVirtualTime();

// Another program's hold on the unit while it lives: the unit's node locked
// through an open file of its own, as a second process locks it (POSIX).
class OtherProgramsLock {
public:
    OtherProgramsLock();
    ~OtherProgramsLock();
    OtherProgramsLock(const OtherProgramsLock&) = delete;
    OtherProgramsLock& operator=(const OtherProgramsLock&) = delete;

private:
    int fd_ = -1;
};

// ---- Boxes (support_device.cpp) ----

// Stands in for the program's boxes while it lives: every box and question
// is recorded as "error:", "message:", "ask:" or "choose:" (Cancel or Write
// anyway) and its text (a beep alone as "beep"), and questions and choices
// are answered from `answers` in order. A question nobody scripted an answer
// for fails the test and is answered No, as does an answer never asked for.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<std::string> shown;
    std::deque<int> answers;
    // Runs as each one is shown, to note what the window showed meanwhile.
    std::function<void()> onShow;
};

// ---- The window (support_ui.cpp) ----

// The log panel empty and the window titled `title`; null leaves it
// untitled, as it is built.
void resetWindowText(const char* title);

// A key through the program's event dispatch into the main window, as from
// the X server: the key, the modifier state and the text it types.
void pressKey(int key, int state = 0, const char* text = "");

// Both charts on their tables with the ranges and grid steps start-up gives
// them, the cursor at point 80 and no map selected.
void wireCharts(MyChart& ignition, MyChart& valve);

// The two charts of `widgets`: forget their damage, and whether both were
// fully redrawn since, or neither touched.
void clearChartDamage();
bool chartsRedrawn();
bool chartsUntouched();
