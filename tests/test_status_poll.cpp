// The status poll against the simulated unit: what each of the eight
// read-out fields shows, their colours, the re-arming and the poll's handle.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Window.H>
#include <FL/Fl_Output.H>
#include <FL/fl_draw.H>

#include "sim_unit.h"

#include <functional>
#include <string>
#include <vector>

#include "device_status.h"
#include "hid_link.h"
#include "main_window.h"
#include "support.h"
#include "unit_lock.h"

namespace {
constexpr Fl_Color kStartColour = FL_WHITE;

// Counts its draws, so a test can wait until it has been drawn.
class TestWindow : public Fl_Window {
public:
    TestWindow(int w, int h) : Fl_Window(w, h, "poll") {}
    void draw() override
    {
        Fl_Window::draw();
        ++draws;
    }
    int draws = 0;
};

class StatusPoll : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The unit's node in a temporary folder of this program's own.
        folders = new TemporaryXdgFolders;
        window = new TestWindow(400, 300);
        Fl_Output** fields[] = {&widgets.manufacture, &widgets.product, &widgets.mapSwitch,
                                &widgets.quickShifterSwitch, &widgets.rpm, &widgets.valveAngle,
                                &widgets.picDevId, &widgets.revId};
        int y = 5;
        for (Fl_Output** field : fields) {
            *field = new Fl_Output(100, y, 200, 30);
            y += 35;
        }
        window->end();
    }

    void SetUp() override
    {
        resetUnitOnVirtualTime();
        Fl::remove_timeout(pollStatus);
        for (Fl_Output* field : all()) {
            field->value("old");
            field->color(kStartColour);
        }
    }

    void TearDown() override { Fl::remove_timeout(pollStatus); }
    static void TearDownTestSuite() { delete folders; }

    static std::vector<Fl_Output*> all()
    {
        return {widgets.manufacture, widgets.product, widgets.mapSwitch, widgets.quickShifterSwitch,
                widgets.rpm, widgets.valveAngle, widgets.picDevId, widgets.revId};
    }

    // One run, then the re-arming it must leave behind.
    void poll()
    {
        Fl::remove_timeout(pollStatus);
        const int handlesBefore = sim::openHandles();
        pollStatus(nullptr);
        EXPECT_TRUE(Fl::has_timeout(pollStatus));
        EXPECT_EQ(sim::openHandles(), handlesBefore);
        Fl::remove_timeout(pollStatus);
    }

    // The unit's time to answer a request it may yet answer, the tick that
    // then lets the lock go, and the other programs' turn after it.
    void letLateReplyPass()
    {
        sim::advanceMs(kLateReplyMs);
        poll();
        sim::advanceMs(kTurnForOthersMs);
    }

    static std::string text(Fl_Output* field) { return field->value(); }

    static TestWindow* window;
    static TemporaryXdgFolders* folders;
};
TestWindow* StatusPoll::window = nullptr;
TemporaryXdgFolders* StatusPoll::folders = nullptr;
}

TEST_F(StatusPoll, NoUnitEmptiesEveryField)
{
    sim::faults().absent = true;
    poll();
    for (Fl_Output* field : all()) {
        EXPECT_EQ(text(field), "");
        EXPECT_EQ(field->color(), kStartColour);
    }
    EXPECT_EQ(sim::opens(), 0);
}

TEST_F(StatusPoll, ReadOutFromTheReply)
{
    sim::status().rpm = 1500;  // DC 05
    sim::status().valveAngle = 0xFF;
    poll();
    EXPECT_EQ(text(widgets.rpm), "1500");
    EXPECT_EQ(text(widgets.valveAngle), "255");
    EXPECT_EQ(text(widgets.manufacture), "KVZ Electronics");
    EXPECT_EQ(text(widgets.product), "KVZ-CDI");
    EXPECT_EQ(text(widgets.picDevId), "00");
    EXPECT_EQ(text(widgets.revId), "00");

    sim::status().rpm = 0xFFFF;
    sim::status().valveAngle = 0;
    poll();
    EXPECT_EQ(text(widgets.rpm), "65535");
    EXPECT_EQ(text(widgets.valveAngle), "0");
    sim::status().rpm = 0;
    poll();
    EXPECT_EQ(text(widgets.rpm), "0");

    // One status request per run: command 0x83, every other byte 0.
    const sim::Request& request = sim::requests().back();
    for (std::size_t i = 0; i < request.size(); ++i)
        EXPECT_EQ(request[i], i == 1 ? 0x83 : 0) << i;
    EXPECT_EQ(sim::requests().size(), 3u);
    EXPECT_EQ(sim::opens(), 3);
}

TEST_F(StatusPoll, SwitchTextsAndColours)
{
    const struct {
        std::uint8_t mapSwitch, shifterSwitch;
        const char* mapText;
        unsigned mapColour;
        const char* shifterText;
        unsigned shifterColour;
    } cases[] = {
        {1, 0, "MAP1", 223, "QSSW ON", 223},
        {0, 1, "MAP0", 248, "QSSW OFF", 248},
        {0x80, 0xFF, "MAP1", 223, "QSSW OFF", 248},  // any value other than 0 counts
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.mapSwitch) + " " + std::to_string(c.shifterSwitch));
        sim::status().mapSwitch = c.mapSwitch;
        sim::status().shifterSwitch = c.shifterSwitch;
        poll();
        EXPECT_EQ(text(widgets.mapSwitch), c.mapText);
        EXPECT_EQ(widgets.mapSwitch->color(), c.mapColour);
        EXPECT_EQ(text(widgets.quickShifterSwitch), c.shifterText);
        EXPECT_EQ(widgets.quickShifterSwitch->color(), c.shifterColour);
    }
}

TEST_F(StatusPoll, SwitchColoursAreDrawn)
{
    sim::status().mapSwitch = 1;
    sim::status().shifterSwitch = 1;
    poll();
    window->show();
    Fl::remove_timeout(pollStatus);
    // The window draws itself once the server exposes it.
    while (window->draws == 0)
        Fl::wait(0.05);

    // Right inside each field's frame, away from its text.
    struct Expect {
        Fl_Output* field;
        uchar rgb[3];
    } expects[] = {{widgets.mapSwitch, {0x00, 0xFF, 0xFF}}, {widgets.quickShifterSwitch, {0xFF, 0x00, 0xFF}}};
    window->make_current();
    for (const Expect& e : expects) {
        uchar pixel[3];
        fl_read_image(pixel, e.field->x() + e.field->w() - 6, e.field->y() + e.field->h() / 2, 1, 1);
        EXPECT_EQ(pixel[0], e.rgb[0]);
        EXPECT_EQ(pixel[1], e.rgb[1]);
        EXPECT_EQ(pixel[2], e.rgb[2]);
    }
    window->hide();
    Fl::check();
}

TEST_F(StatusPoll, NullIdentityStringKeepsItsField)
{
    sim::setIdentity(L"Maker", nullptr);
    poll();
    EXPECT_EQ(text(widgets.manufacture), "Maker");
    EXPECT_EQ(text(widgets.product), "old");
    sim::setIdentity(nullptr, L"Unit");
    poll();
    EXPECT_EQ(text(widgets.manufacture), "Maker");
    EXPECT_EQ(text(widgets.product), "Unit");
}

TEST_F(StatusPoll, IdentityIsUtf8WithinTheTextBuffer)
{
    sim::setIdentity(L"Z\u00fcndung \u20ac \U0001F3CD", L"x");
    poll();
    EXPECT_EQ(text(widgets.manufacture), "Z\xC3\xBC" "ndung \xE2\x82\xAC \xF0\x9F\x8F\x8D");

    // 1023 bytes at most, and never part of a character.
    const std::wstring ascii(2000, L'a');
    const std::wstring twoByte(2000, L'\u00e9');
    const std::wstring threeByte(2000, L'\u20ac');
    const std::wstring fourByte(2000, L'\U0001F3CD');
    struct Case {
        const std::wstring* wide;
        std::size_t bytes;
    } cases[] = {{&ascii, 1023}, {&twoByte, 1022}, {&threeByte, 1023}, {&fourByte, 1020}};
    for (const Case& c : cases) {
        sim::setIdentity(c.wide->c_str(), L"x");
        poll();
        const std::string shown = text(widgets.manufacture);
        EXPECT_EQ(shown.size(), c.bytes);
        // Ends on a whole character: the last lead byte has all its continuation bytes.
        std::size_t lead = shown.size();
        while (lead > 0 && (static_cast<unsigned char>(shown[lead - 1]) & 0xC0) == 0x80)
            --lead;
        ASSERT_GT(lead, 0u);
        const unsigned char first = static_cast<unsigned char>(shown[lead - 1]);
        const std::size_t length = first < 0x80 ? 1 : first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
        EXPECT_EQ(shown.size() - (lead - 1), length);
    }
}

// A node that cannot be opened, and so not locked, counts as a failed open.
TEST_F(StatusPoll, OpenFailureEmptiesTheStateButShowsTheIdentity)
{
    for (const bool nodeMissing : {false, true}) {
        sim::faults().openFails = !nodeMissing;
        sim::faults().nodeMissing = nodeMissing;
        testing::internal::CaptureStderr();
        poll();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(text(widgets.manufacture), "KVZ Electronics");
        EXPECT_EQ(text(widgets.product), "KVZ-CDI");
        for (Fl_Output* field : {widgets.mapSwitch, widgets.quickShifterSwitch, widgets.rpm, widgets.valveAngle,
                                 widgets.picDevId, widgets.revId})
            EXPECT_EQ(text(field), "") << nodeMissing;
    }
    EXPECT_TRUE(sim::requests().empty());
}

// A unit that stays plugged in but gives no full reply shows no live values:
// the four state fields are emptied, the colours stay, the ids show.
TEST_F(StatusPoll, NoFullReplyEmptiesTheStateAndShowsTheIds)
{
    bool& writeFails = sim::faults().statusWriteFails;
    bool& noReply = sim::faults().statusNoReply;
    bool& readFails = sim::faults().statusReadFails;
    int& replyLength = sim::faults().replyLength;
    const std::function<void()> faults[] = {
        [&] { writeFails = true; }, [&] { noReply = true; }, [&] { readFails = true; },
        [&] { replyLength = 10; },  [&] { replyLength = 63; },
    };
    for (const auto& inject : faults) {
        sim::faults() = sim::Faults();
        sim::status().rpm = 3000;
        sim::status().mapSwitch = 1;
        poll();
        ASSERT_EQ(text(widgets.rpm), "3000");

        inject();
        widgets.picDevId->value("");
        poll();
        for (Fl_Output* field : {widgets.mapSwitch, widgets.quickShifterSwitch, widgets.rpm, widgets.valveAngle})
            EXPECT_EQ(text(field), "");
        EXPECT_EQ(widgets.mapSwitch->color(), 223u);
        EXPECT_EQ(text(widgets.picDevId), "00");
        letLateReplyPass();
    }
    EXPECT_EQ(sim::strayCloses(), 0);
}

// Twice a second the same failure is not news: the poll tells standard
// error only what changed since the last tick.
TEST_F(StatusPoll, TellsAFailedCallOnceUntilItsOutcomeChanges)
{
    poll();
    testing::internal::CaptureStderr();
    sim::faults().statusWriteFails = true;
    poll();
    poll();
    sim::faults().statusWriteFails = false;
    sim::faults().statusReadFails = true;
    poll();
    sim::faults().statusReadFails = false;
    letLateReplyPass();
    poll();
    sim::faults().statusWriteFails = true;
    poll();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kvz-cdi: hid_write failed: simulated write fault\n"
              "kvz-cdi: hid_read_timeout failed: simulated read fault\n"
              "kvz-cdi: hid_write failed: simulated write fault\n");
}

// After a request whose reply never came, the poll sends nothing until the
// unit has had its time: it skips its tick and leaves the fields alone,
// keeping the lock. The first tick after lets the lock go and sends
// nothing, and the window leaves the unit to others for half a second.
TEST_F(StatusPoll, SkipsItsTickWhileAReplyMayStillCome)
{
    sim::status().rpm = 3000;
    sim::faults().statusNoReply = true;
    poll();
    sim::faults().statusNoReply = false;
    const std::size_t sent = sim::requests().size();

    // 1500 ms from the request, of which the poll's own wait took 100.
    widgets.rpm->value("kept");
    sim::advanceMs(1399);
    poll();
    EXPECT_EQ(sim::requests().size(), sent);
    EXPECT_EQ(text(widgets.rpm), "kept");
    EXPECT_EQ(text(widgets.picDevId), "00");

    EXPECT_TRUE(unitLockLingers());

    sim::advanceMs(1);
    poll();
    EXPECT_FALSE(unitLockLingers());
    { const OtherProgramsLock cli; }
    sim::advanceMs(499);  // the half second the window leaves others, less 1 ms
    poll();
    EXPECT_EQ(sim::requests().size(), sent);
    EXPECT_EQ(text(widgets.rpm), "kept");

    sim::advanceMs(1);
    poll();
    EXPECT_EQ(sim::requests().size(), sent + 1);
    EXPECT_EQ(text(widgets.rpm), "3000");
}

// The command-line program holds the unit lock for a whole transfer; the
// poll then sends nothing and leaves every field as it was.
TEST_F(StatusPoll, SkipsItsTickWhileAnotherProgramHasTheUnit)
{
    sim::status().rpm = 3000;
    {
        const OtherProgramsLock cli;
        poll();
        EXPECT_TRUE(sim::requests().empty());
        for (Fl_Output* field : all())
            EXPECT_EQ(text(field), "old");
    }
    poll();
    EXPECT_EQ(sim::requests().size(), 1u);
    EXPECT_EQ(text(widgets.rpm), "3000");
}

TEST_F(StatusPoll, UnpluggingEmptiesTheStateAndKeepsTheColours)
{
    sim::status().mapSwitch = 1;
    sim::status().shifterSwitch = 1;
    sim::status().rpm = 1200;
    poll();
    ASSERT_EQ(widgets.mapSwitch->color(), 223u);
    ASSERT_EQ(widgets.quickShifterSwitch->color(), 248u);

    sim::faults().absent = true;
    poll();
    for (Fl_Output* field : all())
        EXPECT_EQ(text(field), "");
    EXPECT_EQ(widgets.mapSwitch->color(), 223u);
    EXPECT_EQ(widgets.quickShifterSwitch->color(), 248u);

    // Plugged in again, the next run shows it.
    sim::faults().absent = false;
    poll();
    EXPECT_EQ(text(widgets.rpm), "1200");
    EXPECT_EQ(text(widgets.product), "KVZ-CDI");
}

TEST_F(StatusPoll, ReArmsItselfFromTheTimer)
{
    // Run from the event loop as start-up arms it: each run arms the next.
    sim::status().rpm = 777;
    Fl::add_timeout(0.0, pollStatus);
    for (int i = 0; i < 50 && sim::opens() < 2; ++i)
        Fl::wait(0.6);
    EXPECT_GE(sim::opens(), 2);
    EXPECT_TRUE(Fl::has_timeout(pollStatus));
    EXPECT_EQ(text(widgets.rpm), "777");
    EXPECT_EQ(sim::openHandles(), 0);
}
