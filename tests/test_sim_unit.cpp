// The simulated unit's own contract: hidapi semantics (handles, queues,
// return values), the three replies, each fault at its exchange only, and
// the control file with its memory image.
#include <gtest/gtest.h>
#include <hidapi.h>

#include <chrono>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <string>
#include <thread>

#include "sim_unit.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

constexpr unsigned short VID = 0x04D8;
constexpr unsigned short PID = 0x003C;

sim::Request request(std::uint8_t command, std::uint8_t block = 0)
{
    sim::Request q{};
    q[1] = command;
    q[2] = block;
    return q;
}

sim::Request writeRequest(std::uint8_t block, std::uint8_t seed)
{
    sim::Request q = request(0x82, block);
    for (int i = 0; i < 32; ++i)
        q[5 + i] = static_cast<std::uint8_t>(seed + i);
    return q;
}

int send(hid_device* h, const sim::Request& q) { return hid_write(h, q.data(), q.size()); }

int receive(hid_device* h, sim::Report& r, int ms = 1000)
{
    r.fill(0xEE);
    return hid_read_timeout(h, r.data(), r.size(), ms);
}

class SimUnit : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        sim::setVirtualTime(true);
    }
    void TearDown() override
    {
        for (hid_device* h : handles)
            hid_close(h);
    }

    // A handle on the unit, closed when the test ends.
    hid_device* open()
    {
        hid_device* h = hid_open(VID, PID, nullptr);
        EXPECT_NE(h, nullptr);
        if (h)
            handles.push_back(h);
        return h;
    }

    std::vector<hid_device*> handles;
};

TEST_F(SimUnit, EnumeratesOneUnitWithIdentity)
{
    hid_device_info* list = hid_enumerate(VID, PID);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->vendor_id, VID);
    EXPECT_EQ(list->product_id, PID);
    ASSERT_NE(list->path, nullptr);
    EXPECT_STRNE(list->path, "");
    ASSERT_NE(list->manufacturer_string, nullptr);
    EXPECT_STREQ(list->manufacturer_string, L"KVZ Electronics");
    ASSERT_NE(list->product_string, nullptr);
    EXPECT_STREQ(list->product_string, L"KVZ-CDI");
    EXPECT_EQ(list->next, nullptr);
    hid_free_enumeration(list);

    hid_device_info* any = hid_enumerate(0, 0);
    EXPECT_NE(any, nullptr);
    hid_free_enumeration(any);
    EXPECT_EQ(hid_enumerate(VID, 0x003D), nullptr);
    EXPECT_EQ(hid_enumerate(0x04D9, PID), nullptr);
    hid_free_enumeration(nullptr);
}

TEST_F(SimUnit, IdentityStringsCanBeNullOrEmpty)
{
    sim::setIdentity(nullptr, L"");
    hid_device_info* list = hid_enumerate(VID, PID);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->manufacturer_string, nullptr);
    ASSERT_NE(list->product_string, nullptr);
    EXPECT_STREQ(list->product_string, L"");
    hid_free_enumeration(list);

    sim::setIdentity(L"M\u00fcller", nullptr);
    list = hid_enumerate(VID, PID);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->manufacturer_string, L"M\u00fcller");
    EXPECT_EQ(list->product_string, nullptr);
    hid_free_enumeration(list);
}

TEST_F(SimUnit, AbsentUnitIsNeitherListedNorOpened)
{
    sim::faults().absent = true;
    EXPECT_EQ(hid_enumerate(VID, PID), nullptr);
    EXPECT_EQ(hid_open(VID, PID, nullptr), nullptr);
    EXPECT_EQ(sim::opens(), 0);
    EXPECT_NE(std::wcslen(hid_error(nullptr)), 0u);
}

TEST_F(SimUnit, OpenFaultStillEnumerates)
{
    sim::faults().openFails = true;
    hid_device_info* list = hid_enumerate(VID, PID);
    EXPECT_NE(list, nullptr);
    hid_free_enumeration(list);
    EXPECT_EQ(hid_open(VID, PID, nullptr), nullptr);
    EXPECT_EQ(sim::opens(), 0);
    EXPECT_EQ(sim::openHandles(), 0);
}

TEST_F(SimUnit, OpenNeedsExactIdsAndNoSerial)
{
    EXPECT_EQ(hid_open(VID, 0x003D, nullptr), nullptr);
    EXPECT_EQ(hid_open(0, 0, nullptr), nullptr);
    EXPECT_EQ(hid_open(VID, PID, L"1234"), nullptr);
    EXPECT_EQ(sim::opens(), 0);
}

TEST_F(SimUnit, OpenAndCloseAreCounted)
{
    hid_device* a = hid_open(VID, PID, nullptr);
    hid_device* b = hid_open(VID, PID, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(sim::opens(), 2);
    EXPECT_EQ(sim::openHandles(), 2);
    hid_close(a);
    EXPECT_EQ(sim::openHandles(), 1);
    EXPECT_EQ(sim::strayCloses(), 0);
    hid_close(a);  // a second close of the same handle is a program fault
    EXPECT_EQ(sim::strayCloses(), 1);
    hid_close(nullptr);
    EXPECT_EQ(sim::strayCloses(), 1);
    EXPECT_EQ(send(a, request(0x83)), -1);  // a closed handle is gone
    hid_close(b);
    EXPECT_EQ(sim::openHandles(), 0);
    EXPECT_EQ(sim::opens(), 2);
}

TEST_F(SimUnit, EveryReplyReachesEveryOpenHandle)
{
    hid_device* a = open();
    hid_device* b = open();
    sim::block(3)[0] = 0x42;
    ASSERT_EQ(send(a, request(0x80, 3)), 65);
    hid_device* late = open();  // opened after the reply

    sim::Report ra, rb, rl;
    ASSERT_EQ(receive(a, ra), 64);
    ASSERT_EQ(receive(b, rb), 64);
    EXPECT_EQ(ra, rb);
    EXPECT_EQ(ra[4], 0x42);
    EXPECT_EQ(receive(late, rl, 0), 0);

    // The second handle's traffic shows up in the first one's queue.
    ASSERT_EQ(send(b, request(0x83)), 65);
    ASSERT_EQ(receive(a, ra), 64);
    ASSERT_EQ(receive(late, rl), 64);
    EXPECT_EQ(ra, rl);
}

TEST_F(SimUnit, QueueKeepsNewest64)
{
    hid_device* writer = open();
    hid_device* idle = open();
    for (int i = 0; i < 70; ++i)
        ASSERT_EQ(send(writer, request(0x80, static_cast<std::uint8_t>(i % 32))), 65);
    sim::Report r;
    for (int i = 6; i < 70; ++i) {
        ASSERT_EQ(receive(idle, r, 0), 64) << "report " << i;
        EXPECT_EQ(r[1], i % 32) << "report " << i;
    }
    EXPECT_EQ(receive(idle, r, 0), 0);
}

TEST_F(SimUnit, ReadTimeoutZeroPollsAndPositiveWaitsTheTimeout)
{
    hid_device* h = open();
    sim::Report r;
    long long before = sim::clockMs();
    EXPECT_EQ(receive(h, r, 0), 0);
    EXPECT_EQ(sim::clockMs(), before);
    EXPECT_EQ(receive(h, r, 1000), 0);
    EXPECT_EQ(sim::clockMs(), before + 1000);
    // hid_read on an empty queue gives up after the blocking limit.
    sim::setBlockingReadLimitMs(250);
    EXPECT_EQ(hid_read(h, r.data(), r.size()), 0);
    EXPECT_EQ(sim::clockMs(), before + 1250);
    EXPECT_EQ(hid_read_timeout(h, r.data(), r.size(), -1), 0);
    EXPECT_EQ(sim::clockMs(), before + 1500);
}

TEST_F(SimUnit, ReadTimeoutInRealTimeWaitsForReal)
{
    sim::setVirtualTime(false);
    hid_device* h = open();
    sim::Report r;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(receive(h, r, 40), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));

    sim::faults().replyDelayMs = 30;
    start = std::chrono::steady_clock::now();
    ASSERT_EQ(send(h, request(0x83)), 65);
    EXPECT_EQ(receive(h, r, 0), 0);  // not there yet
    EXPECT_EQ(receive(h, r, 1000), 64);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

TEST_F(SimUnit, BlockingReadIsWokenByAnotherThread)
{
    sim::setVirtualTime(false);
    hid_device* reader = open();
    hid_device* writer = open();
    sim::status().rpm = 4321;
    std::thread other([writer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        send(writer, request(0x83));
    });
    sim::Report r{};
    EXPECT_EQ(hid_read(reader, r.data(), r.size()), 64);
    other.join();
    EXPECT_EQ(r[0] | r[1] << 8, 4321);
}

TEST_F(SimUnit, ReadBlockReplyLayout)
{
    for (int b = 0; b < 32; ++b)
        for (int i = 0; i < 32; ++i)
            sim::block(b)[i] = static_cast<std::uint8_t>(b * 7 + i + 1);
    hid_device* h = open();
    sim::Request q = writeRequest(5, 0x90);  // stale bytes a read request may carry
    q[1] = 0x80;
    q[2] = 17;
    ASSERT_EQ(send(h, q), 65);
    sim::Report r;
    ASSERT_EQ(receive(h, r), 64);
    EXPECT_EQ(r[0], 0x80);
    EXPECT_EQ(r[1], 17);
    EXPECT_EQ(r[2], 0);
    EXPECT_EQ(r[3], 0);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(r[4 + i], sim::block(17)[i]) << i;
    for (int i = 36; i < 64; ++i)
        EXPECT_EQ(r[i], 0) << i;
}

TEST_F(SimUnit, WriteBlockStoresPayloadAndEchoesRequest)
{
    hid_device* h = open();
    sim::Request q = writeRequest(9, 0x20);
    q[64] = 0x77;  // beyond the payload, still echoed
    ASSERT_EQ(send(h, q), 65);
    sim::Report r;
    ASSERT_EQ(receive(h, r), 64);
    for (int i = 4; i < 64; ++i)
        EXPECT_EQ(r[i], q[i + 1]) << i;
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(sim::block(9)[i], 0x20 + i);
    for (int b = 0; b < 32; ++b) {
        if (b != 9) {
            EXPECT_EQ(sim::block(b)[0], 0) << b;
        }
    }

    // What was written reads back.
    ASSERT_EQ(send(h, request(0x80, 9)), 65);
    ASSERT_EQ(receive(h, r), 64);
    EXPECT_EQ(0, std::memcmp(&r[4], &q[5], 32));
}

TEST_F(SimUnit, StatusReplyLayout)
{
    sim::LiveStatus& s = sim::status();
    s.rpm = 1500;
    s.mapSwitch = 1;
    s.valveAngle = 0xFF;
    s.shifterSwitch = 0;
    sim::block(4)[0] = 0x99;  // memory has no part in a fixed status
    hid_device* h = open();
    ASSERT_EQ(send(h, request(0x83)), 65);
    sim::Report r;
    ASSERT_EQ(receive(h, r), 64);
    sim::Report expected{};
    expected[0] = 0xDC;
    expected[1] = 0x05;
    expected[2] = 1;
    expected[4] = 0xFF;
    expected[10] = 0;
    EXPECT_EQ(r, expected);

    s.rpm = 65535;
    s.shifterSwitch = 1;
    ASSERT_EQ(send(h, request(0x83)), 65);
    ASSERT_EQ(receive(h, r), 64);
    EXPECT_EQ(r[0], 0xFF);
    EXPECT_EQ(r[1], 0xFF);
    EXPECT_EQ(r[10], 1);
}

TEST_F(SimUnit, SweepAndValveFollowingTheMap)
{
    EXPECT_EQ(sim::sweepRpm(0), sim::kSweepLowRpm);
    EXPECT_EQ(sim::sweepRpm(sim::kSweepPeriodMs / 2), sim::kSweepHighRpm);
    EXPECT_EQ(sim::sweepRpm(sim::kSweepPeriodMs), sim::kSweepLowRpm);
    EXPECT_LT(sim::sweepRpm(1000), sim::sweepRpm(2000));
    EXPECT_LT(sim::sweepRpm(sim::kSweepPeriodMs - 1000), sim::sweepRpm(sim::kSweepPeriodMs - 2000));

    for (int k = 0; k < 320; ++k)
        sim::memory()[20 * 32 + k] = static_cast<std::uint8_t>(k < 160 ? k : 255 - (k - 160));
    sim::LiveStatus& s = sim::status();
    s.rpmSweep = true;
    s.valveFollowsMap = true;
    hid_device* h = open();
    sim::Report r;
    sim::advanceMs(4000 - sim::clockMs());
    ASSERT_EQ(send(h, request(0x83)), 65);
    ASSERT_EQ(receive(h, r), 64);
    unsigned rpm = r[0] | r[1] << 8;
    EXPECT_EQ(rpm, sim::sweepRpm(4000));
    EXPECT_EQ(r[4], rpm / 100);  // map 0 point at this rpm

    s.mapSwitch = 1;
    sim::advanceMs(1000);
    ASSERT_EQ(send(h, request(0x83)), 65);
    ASSERT_EQ(receive(h, r), 64);
    unsigned later = r[0] | r[1] << 8;
    EXPECT_GT(later, rpm);
    EXPECT_EQ(r[4], 255 - later / 100);  // map 1
}

// What one block exchange gave: the write's and the read's results.
struct Outcome {
    int written;
    int read;
    sim::Report reply;
};

// Six block exchanges on one handle with a status exchange between each.
std::vector<Outcome> runExchanges(hid_device* h)
{
    std::vector<Outcome> out;
    for (int n = 1; n <= 6; ++n) {
        Outcome o{};
        o.written = send(h, writeRequest(static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n * 16)));
        o.read = o.written < 0 ? 0 : receive(h, o.reply);
        out.push_back(o);
        sim::Report status;
        EXPECT_EQ(send(h, request(0x83)), 65);
        EXPECT_EQ(receive(h, status), 64);
    }
    return out;
}

TEST_F(SimUnit, WriteFaultAtItsExchangeOnly)
{
    sim::faults().writeFailsAt = 4;
    hid_device* h = open();
    std::vector<Outcome> o = runExchanges(h);
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(o[n - 1].written, n == 4 ? -1 : 65) << n;
        EXPECT_EQ(sim::block(n)[0], n == 4 ? 0 : n * 16) << "the unit never saw it";
    }
    EXPECT_NE(std::wstring(hid_error(h)), L"Success");
    EXPECT_EQ(sim::exchanges(), 6);
    EXPECT_EQ(sim::blockRequests().size(), 6u);  // failed writes are recorded
}

TEST_F(SimUnit, ReadFaultAtItsExchangeOnly)
{
    sim::faults().readFailsAt = 3;
    hid_device* h = open();
    hid_device* other = open();
    std::vector<Outcome> o = runExchanges(h);
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(o[n - 1].written, 65) << n;
        EXPECT_EQ(o[n - 1].read, n == 3 ? -1 : 64) << n;
        EXPECT_EQ(sim::block(n)[0], n * 16) << "the unit acted on it";
        if (n != 3) {
            EXPECT_EQ(o[n - 1].reply[1], n) << "no stale reply left behind";
        }
    }
    // The other handle did get the reply of exchange 3: 5 block replies
    // before it, interleaved with status replies.
    sim::Report r;
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(receive(other, r, 0), 64);
    EXPECT_EQ(r[0], 0x82);
    EXPECT_EQ(r[1], 3);
}

TEST_F(SimUnit, NoReplyAtItsExchangeOnly)
{
    sim::faults().noReplyAt = 2;
    hid_device* h = open();
    long long before = sim::clockMs();
    std::vector<Outcome> o = runExchanges(h);
    for (int n = 1; n <= 6; ++n) {
        EXPECT_EQ(o[n - 1].read, n == 2 ? 0 : 64) << n;
        EXPECT_EQ(sim::block(n)[0], n * 16);
    }
    EXPECT_EQ(sim::clockMs() - before, 1000) << "one full timeout, nothing else waited";
}

TEST_F(SimUnit, WrongEchoAtItsBlockOnly)
{
    sim::faults().wrongEchoAtBlock = 5;
    hid_device* h = open();
    std::vector<Outcome> o = runExchanges(h);
    for (int n = 1; n <= 6; ++n) {
        sim::Request q = writeRequest(static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n * 16));
        int differing = 0;
        for (int i = 4; i < 64; ++i)
            differing += o[n - 1].reply[i] != q[i + 1];
        EXPECT_EQ(differing, n == 5 ? 1 : 0) << n;
        EXPECT_EQ(sim::block(n)[0], n * 16) << "stored as sent";
    }
    // Every write to that block, and only writes.
    sim::Report r;
    ASSERT_EQ(send(h, writeRequest(5, 1)), 65);
    ASSERT_EQ(receive(h, r), 64);
    EXPECT_NE(r[4], 1);
    ASSERT_EQ(send(h, request(0x80, 5)), 65);
    ASSERT_EQ(receive(h, r), 64);
    EXPECT_EQ(r[4], 1);
}

TEST_F(SimUnit, LateReplyArrivesAtTheNextRead)
{
    sim::faults().replyDelayMs = 1500;
    hid_device* h = open();
    long long start = sim::clockMs();
    ASSERT_EQ(send(h, request(0x80, 1)), 65);
    sim::Report r;
    EXPECT_EQ(receive(h, r, 1000), 0);
    ASSERT_EQ(send(h, request(0x80, 2)), 65);
    ASSERT_EQ(receive(h, r, 1000), 64);
    EXPECT_EQ(r[1], 1) << "the previous block's late reply";
    EXPECT_EQ(sim::clockMs() - start, 1500);
    EXPECT_EQ(receive(h, r, 500), 0);  // block 2 is due at 2500 ms
    ASSERT_EQ(receive(h, r, 1000), 64);
    EXPECT_EQ(sim::clockMs() - start, 2500);
    EXPECT_EQ(r[1], 2);
}

// As hidraw does, a reply lands in the handles open when it arrives.
TEST_F(SimUnit, LateReplyReachesAHandleOpenedAfterItsRequest)
{
    sim::faults().replyDelayMs = 200;
    hid_device* asking = open();
    ASSERT_EQ(send(asking, request(0x83)), 65);
    hid_close(asking);
    hid_device* later = open();
    sim::Report r;
    ASSERT_EQ(receive(later, r, 300), 64);
    hid_close(later);

    hid_device* gone = open();
    ASSERT_EQ(send(gone, request(0x83)), 65);
    hid_close(gone);
    sim::advanceMs(200);
    hid_device* afterwards = open();
    EXPECT_EQ(receive(afterwards, r, 0), 0) << "arrived before this handle was opened";
}

TEST_F(SimUnit, StatusFaultsLeaveBlocksAlone)
{
    hid_device* h = open();
    sim::Report r;
    sim::faults().statusWriteFails = true;
    EXPECT_EQ(send(h, request(0x83)), -1);
    sim::faults() = sim::Faults{};
    sim::faults().statusNoReply = true;
    EXPECT_EQ(send(h, request(0x83)), 65);
    EXPECT_EQ(receive(h, r), 0);
    sim::faults() = sim::Faults{};
    sim::faults().statusReadFails = true;
    EXPECT_EQ(send(h, request(0x83)), 65);
    EXPECT_EQ(hid_read(h, r.data(), r.size()), -1);
    EXPECT_EQ(send(h, request(0x83)), 65);
    EXPECT_EQ(receive(h, r, 0), -1);

    sim::faults().statusWriteFails = true;
    sim::faults().statusNoReply = true;
    ASSERT_EQ(send(h, request(0x80, 0)), 65);
    EXPECT_EQ(receive(h, r), 64);
    EXPECT_EQ(sim::exchanges(), 1);
}

TEST_F(SimUnit, UnpluggedHandleFailsForGood)
{
    hid_device* h = hid_open(VID, PID, nullptr);
    sim::Report r;
    sim::faults().absent = true;
    EXPECT_EQ(send(h, request(0x83)), -1);
    EXPECT_EQ(receive(h, r), -1);
    sim::faults().absent = false;
    EXPECT_EQ(send(h, request(0x83)), -1);
    hid_device* fresh = hid_open(VID, PID, nullptr);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(send(fresh, request(0x83)), 65);
    EXPECT_EQ(receive(fresh, r), 64);
    hid_close(h);
    hid_close(fresh);
    EXPECT_EQ(sim::openHandles(), 0);
}

TEST_F(SimUnit, IgnoredRequests)
{
    hid_device* h = open();
    sim::Report r;
    EXPECT_EQ(send(h, request(0x80, 32)), 65);
    EXPECT_EQ(receive(h, r, 0), 0);
    EXPECT_EQ(send(h, writeRequest(200, 1)), 65);
    EXPECT_EQ(receive(h, r, 0), 0);
    EXPECT_EQ(sim::exchanges(), 2) << "still block requests";
    EXPECT_EQ(send(h, request(0x81)), 65);
    EXPECT_EQ(receive(h, r, 0), 0);
    EXPECT_EQ(sim::exchanges(), 2);

    sim::Request numbered = request(0x83);
    numbered[0] = 1;
    EXPECT_EQ(send(h, numbered), -1);
    EXPECT_EQ(hid_write(h, nullptr, 65), -1);
    std::uint8_t big[66] = {0, 0x83};
    EXPECT_EQ(hid_write(h, big, sizeof big), -1);
    EXPECT_EQ(hid_write(nullptr, big, 65), -1);
    EXPECT_EQ(hid_read_timeout(nullptr, r.data(), 64, 0), -1);
}

TEST_F(SimUnit, RecordsEveryRequestByteForByte)
{
    hid_device* h = hid_open(VID, PID, nullptr);
    sim::Request w = writeRequest(30, 3);
    sim::Request s = request(0x83);
    sim::Request rd = request(0x80, 31);
    send(h, w);
    send(h, s);
    send(h, rd);
    ASSERT_EQ(sim::requests().size(), 3u);
    EXPECT_EQ(sim::requests()[0], w);
    EXPECT_EQ(sim::requests()[1], s);
    EXPECT_EQ(sim::requests()[2], rd);
    std::vector<sim::Request> blocks = sim::blockRequests();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0], w);
    EXPECT_EQ(blocks[1], rd);
    hid_close(h);

    sim::reset();
    EXPECT_TRUE(sim::requests().empty());
    EXPECT_EQ(sim::exchanges(), 0);
    EXPECT_EQ(sim::opens(), 0);
}

TEST_F(SimUnit, UnsupportedCallsFailPlainly)
{
    hid_device* h = open();
    unsigned char buf[65] = {};
    wchar_t text[64] = {};
    auto saysUnsupported = [](const wchar_t* e) {
        return std::wstring(e).find(L"not supported by the simulated unit") != std::wstring::npos;
    };
    EXPECT_EQ(hid_set_nonblocking(h, 1), -1);
    EXPECT_TRUE(saysUnsupported(hid_error(h)));
    EXPECT_EQ(hid_send_feature_report(h, buf, 65), -1);
    EXPECT_EQ(hid_get_feature_report(h, buf, 65), -1);
    EXPECT_EQ(hid_get_input_report(h, buf, 65), -1);
    EXPECT_EQ(hid_get_manufacturer_string(h, text, 64), -1);
    EXPECT_EQ(hid_get_product_string(h, text, 64), -1);
    EXPECT_EQ(hid_get_serial_number_string(h, text, 64), -1);
    EXPECT_EQ(hid_get_indexed_string(h, 1, text, 64), -1);
    EXPECT_EQ(hid_get_device_info(h), nullptr);
    EXPECT_TRUE(saysUnsupported(hid_error(h)));
    EXPECT_EQ(hid_init(), 0);
    EXPECT_EQ(hid_exit(), 0);
    EXPECT_EQ(hid_version()->major, HID_API_VERSION_MAJOR);
    EXPECT_EQ(hid_version()->minor, HID_API_VERSION_MINOR);
    EXPECT_STREQ(hid_version_str(), HID_API_VERSION_STR);
}

// The enumerated path names a file, so that it can be locked as a node is,
// and opens the unit; no other path does, nor that one while the node is
// missing.
TEST_F(SimUnit, OpensByItsPathWhichNamesAFile)
{
    hid_device_info* list = hid_enumerate(VID, PID);
    ASSERT_NE(list, nullptr);
    const std::string path = list->path;
    hid_free_enumeration(list);
    EXPECT_TRUE(fs::is_regular_file(path));
    hid_device* h = hid_open_path(path.c_str());
    EXPECT_NE(h, nullptr);
    hid_close(h);
    EXPECT_EQ(hid_open_path("/dev/hidraw0"), nullptr);

    sim::faults().nodeMissing = true;
    hid_free_enumeration(hid_enumerate(VID, PID));
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(hid_open_path(path.c_str()), nullptr);
}

// --- The control file ------------------------------------------------------

class ControlFile : public SimUnit {
protected:
    TempFolder scratch{"kvz-sim-test"};
    const fs::path& dir = scratch.path();

    void TearDown() override
    {
        SimUnit::TearDown();
        sim::reset();
    }

    // Replaced in one step, as the README asks of every writer.
    void write(const std::string& name, const std::string& text) { replaceFile(dir / name, text); }
    std::string read(const std::string& name) { return readFile(dir / name); }
    std::string conf() { return (dir / "unit.conf").string(); }

    // The identity as the enumeration gives it; "(null)" for a null string.
    std::pair<std::wstring, std::wstring> identity()
    {
        hid_device_info* list = hid_enumerate(VID, PID);
        if (!list)
            return {L"(absent)", L"(absent)"};
        auto text = [](const wchar_t* s) { return s ? std::wstring(s) : std::wstring(L"(null)"); };
        std::pair<std::wstring, std::wstring> out{text(list->manufacturer_string), text(list->product_string)};
        hid_free_enumeration(list);
        return out;
    }
    sim::Report status()
    {
        sim::Report r{};
        hid_device* h = hid_open(VID, PID, nullptr);
        EXPECT_NE(h, nullptr);
        EXPECT_EQ(send(h, request(0x83)), 65);
        EXPECT_EQ(receive(h, r), 64);
        hid_close(h);
        return r;
    }
};

TEST_F(ControlFile, SetsEveryKey)
{
    write("unit.conf",
          "# a comment\n"
          "\n"
          "present = 1\n"
          "open_fails=1\n"
          "manufacturer=Acme Ign\n"
          "product=\n"
          "rpm=9000\n"
          "map_switch=1\n"
          "valve_angle=77\n"
          "shifter_switch=0\n"
          "write_fails_at=3\n"
          "read_fails_at=4\n"
          "no_reply_at=5\n"
          "wrong_echo_at_block=30\n"
          "reply_delay_ms=20\n"
          "status_write_fails=1\n"
          "status_read_fails=yes\n"
          "status_no_reply=true\n"
          "blocking_read_limit_ms=100\n");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    const sim::Faults& f = sim::faults();
    EXPECT_FALSE(f.absent);
    EXPECT_TRUE(f.openFails);
    EXPECT_EQ(f.writeFailsAt, 3);
    EXPECT_EQ(f.readFailsAt, 4);
    EXPECT_EQ(f.noReplyAt, 5);
    EXPECT_EQ(f.wrongEchoAtBlock, 30);
    EXPECT_EQ(f.replyDelayMs, 20);
    EXPECT_TRUE(f.statusWriteFails);
    EXPECT_TRUE(f.statusReadFails);
    EXPECT_TRUE(f.statusNoReply);
    const sim::LiveStatus& s = sim::status();
    EXPECT_EQ(s.rpm, 9000);
    EXPECT_FALSE(s.rpmSweep);
    EXPECT_EQ(s.mapSwitch, 1);
    EXPECT_EQ(s.valveAngle, 77);
    EXPECT_FALSE(s.valveFollowsMap);
    EXPECT_EQ(s.shifterSwitch, 0);
    EXPECT_EQ(identity(), std::make_pair(std::wstring(L"Acme Ign"), std::wstring(L"")));

    write("unit.conf", "rpm=sweep\nvalve_angle=map\nmanufacturer=null\nproduct=\"null\"\n");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    EXPECT_TRUE(sim::status().rpmSweep);
    EXPECT_TRUE(sim::status().valveFollowsMap);
    EXPECT_FALSE(sim::faults().openFails) << "a key left out is back at its default";
    EXPECT_EQ(sim::faults().wrongEchoAtBlock, -1);
    EXPECT_EQ(identity(), std::make_pair(std::wstring(L"(null)"), std::wstring(L"null")));

    write("unit.conf", "present=0\n");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    EXPECT_EQ(identity().first, L"(absent)");
    write("unit.conf", "");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    EXPECT_EQ(identity(), std::make_pair(std::wstring(L"KVZ Electronics"), std::wstring(L"KVZ-CDI")));
}

TEST_F(ControlFile, ErrorsChangeNothing)
{
    write("unit.conf", "rpm=1200\n");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    for (const char* bad : {"rpm=70000\n", "rpm=fast\n", "rmp=100\n", "map_switch=-1\n",
                            "present=maybe\n", "rpm 100\n", "wrong_echo_at_block=32\n",
                            "map_switch=1\nvalve_angle=12x\n"}) {
        write("unit.conf", bad);
        EXPECT_FALSE(sim::loadControlFile(conf())) << bad;
        EXPECT_EQ(sim::status().rpm, 1200) << bad;
        EXPECT_EQ(sim::status().mapSwitch, 0) << bad;
    }
    EXPECT_FALSE(sim::loadControlFile((dir / "missing.conf").string()));
}

TEST_F(ControlFile, LoadingRestartsTheExchangeCount)
{
    hid_device* h = open();
    sim::Report r;
    for (int i = 0; i < 3; ++i) {
        send(h, request(0x80, 0));
        receive(h, r);
    }
    write("unit.conf", "write_fails_at=2\n");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    EXPECT_EQ(sim::exchanges(), 0);
    EXPECT_EQ(send(h, request(0x80, 0)), 65);
    receive(h, r);
    EXPECT_EQ(send(h, request(0x80, 0)), -1);
}

TEST_F(ControlFile, MemoryImageRoundTrip)
{
    std::string image(1024, '\0');
    for (int i = 0; i < 1024; ++i)
        image[i] = static_cast<char>(i * 13 + 5);
    write("memory.bin", image);
    write("unit.conf", "memory=memory.bin\n");  // relative to the control file
    ASSERT_TRUE(sim::loadControlFile(conf()));
    EXPECT_EQ(0, std::memcmp(sim::memory().data(), image.data(), 1024));

    hid_device* h = open();
    sim::Report r;
    ASSERT_EQ(send(h, request(0x80, 12)), 65);
    ASSERT_EQ(receive(h, r), 64);
    EXPECT_EQ(0, std::memcmp(&r[4], image.data() + 12 * 32, 32));
    EXPECT_EQ(read("memory.bin"), image) << "reading writes nothing back";

    sim::Request q = writeRequest(31, 0xC0);
    ASSERT_EQ(send(h, q), 65);
    ASSERT_EQ(receive(h, r), 64);
    std::string expected = image;
    std::memcpy(&expected[31 * 32], &q[5], 32);
    EXPECT_EQ(read("memory.bin"), expected);
    EXPECT_FALSE(fs::exists(dir / "memory.bin.tmp"));
}

TEST_F(ControlFile, MissingImageIsABlankUnitAndABadOneIsRefused)
{
    std::memset(sim::memory().data(), 0x11, 1024);
    write("unit.conf", "memory=" + (dir / "fresh.bin").string() + "\n");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    EXPECT_EQ(sim::memory()[0], 0);
    EXPECT_FALSE(fs::exists(dir / "fresh.bin"));
    hid_device* h = hid_open(VID, PID, nullptr);
    sim::Report r;
    send(h, writeRequest(0, 1));
    receive(h, r);
    EXPECT_EQ(read("fresh.bin").size(), 1024u);
    EXPECT_EQ(read("fresh.bin")[0], 1);
    hid_close(h);

    std::memset(sim::memory().data(), 0x22, 1024);
    write("short.bin", std::string(1000, 'x'));
    write("unit.conf", "memory=short.bin\n");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    EXPECT_EQ(sim::memory()[0], 0x22) << "a wrong-sized image leaves the memory alone";
}

TEST_F(ControlFile, WatchedFilePlugsUnplugsAndRetunes)
{
    sim::watchControlFile(conf());  // no file yet: nothing plugged in
    EXPECT_EQ(identity().first, L"(absent)");

    write("unit.conf", "rpm=3000\n");
    EXPECT_EQ(identity().first, L"KVZ Electronics");
    sim::Report r = status();
    EXPECT_EQ(r[0] | r[1] << 8, 3000);

    write("unit.conf", "rpm=3001\n");  // same size, likely the same time stamp
    r = status();
    EXPECT_EQ(r[0] | r[1] << 8, 3001);

    write("unit.conf", "present=0\n");
    EXPECT_EQ(hid_open(VID, PID, nullptr), nullptr);
    write("unit.conf", "present=1\nopen_fails=1\n");
    EXPECT_EQ(identity().first, L"KVZ Electronics");
    EXPECT_EQ(hid_open(VID, PID, nullptr), nullptr);

    write("unit.conf", "rpm=800\n");
    fs::remove(dir / "unit.conf");
    EXPECT_EQ(identity().first, L"(absent)") << "file gone, unit gone";
    write("unit.conf", "rpm=800\n");
    r = status();
    EXPECT_EQ(r[0] | r[1] << 8, 800) << "back with the same text";

    write("unit.conf", "rpm=oops\n");  // a broken file keeps the unit as it was
    r = status();
    EXPECT_EQ(r[0] | r[1] << 8, 800);

    sim::watchControlFile("");
    write("unit.conf", "present=0\n");
    EXPECT_EQ(identity().first, L"KVZ Electronics") << "no longer watched";
}

TEST_F(ControlFile, WatchedImageReloadsWhenChangedOnDisk)
{
    write("memory.bin", std::string(1024, '\x01'));
    write("unit.conf", "memory=memory.bin\n");
    sim::watchControlFile(conf());
    EXPECT_EQ(sim::memory()[500], 1);

    write("memory.bin", std::string(1024, '\x02'));
    EXPECT_EQ(sim::memory()[500], 1) << "looked at only on enumerate and open";
    hid_device* h = hid_open(VID, PID, nullptr);
    EXPECT_EQ(sim::memory()[500], 2);

    // The unit's own write-back is not mistaken for a change from outside.
    sim::Report r;
    send(h, writeRequest(0, 9));
    receive(h, r);
    hid_close(h);
    sim::memory()[500] = 7;  // as a test poking the unit in-process would
    hid_free_enumeration(hid_enumerate(VID, PID));
    EXPECT_EQ(sim::memory()[500], 7);
}

TEST_F(ControlFile, RequestLogHasOneLinePerWrite)
{
    write("unit.conf", "request_log=requests.log\n");
    ASSERT_TRUE(sim::loadControlFile(conf()));
    hid_device* h = hid_open(VID, PID, nullptr);
    send(h, request(0x83));
    send(h, writeRequest(2, 0xA0));
    hid_close(h);
    std::string log = read("requests.log");
    std::string status = "00 83";
    for (int i = 2; i < 65; ++i)
        status += " 00";
    ASSERT_EQ(log.substr(0, status.size() + 1), status + "\n");
    std::string second = log.substr(status.size() + 1);
    EXPECT_EQ(second.size(), 65u * 3);
    EXPECT_EQ(second.substr(0, 18), "00 82 02 00 00 A0 ");
}

}  // namespace
