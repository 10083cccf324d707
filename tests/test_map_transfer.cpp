// Map transfer against the simulated unit: the exact requests, the unit's
// memory after a write, the tables after a read, the log and trace text, and
// every failure at the first, a middle and the last block of each phase.
#include <gtest/gtest.h>

#include <hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "hid_link.h"
#include "unit_lock.h"
#include "map_transfer.h"
#include "sim_unit.h"
#include "support.h"
#include "timing_codec.h"

namespace {
std::vector<std::string> logged;  // log fragments, one per call

void recordLog(const char* text) { logged.push_back(text); }

std::vector<std::string> repeat(const std::string& text, int count)
{
    return std::vector<std::string>(static_cast<std::size_t>(count), text);
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A report dump as the trace shows it: heading, then 4 rows of hex and text.
std::string dump(const std::uint8_t* bytes)
{
    std::string text = "00-01-02-03-04-05-06-07-08=09-0A-0B-0C-0D-0E-0F\n";
    for (int row = 0; row < 4; ++row) {
        std::string chars;
        for (int i = 0; i < 16; ++i) {
            const std::uint8_t b = bytes[row * 16 + i];
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X ", b);
            text += hex;
            chars += (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
        }
        text += chars + "\n";
    }
    return text;
}

// The simulated unit answers a read with command and block in front and the
// block from byte 4, and a write with the request less its report id.
sim::Report unitReply(const std::uint8_t* request)
{
    sim::Report reply{};
    if (request[1] == 0x80) {
        reply[0] = request[1];
        reply[1] = request[2];
        std::memcpy(&reply[4], sim::block(request[2]), 32);
    } else {
        std::memcpy(reply.data(), request + 1, reply.size());
    }
    return reply;
}

// What encodeTiming gives and prints for each ignition point, taken on its
// own before the transfer runs.
struct Encoded {
    std::vector<TimerWord> words;
    std::vector<std::string> lines;
};

Encoded encodeAll(const MapTable& ignition)
{
    Encoded e;
    e.lines = splitLines(captureStdout([&] {
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
            e.words.push_back(encodeTiming(ignition.points[k], static_cast<std::uint16_t>(k % 160)));
    }));
    return e;
}

// What each ignition point of a unit's memory reads as, with `device`'s
// pickup position and latency offset, and the lines decoding prints.
struct Decoded {
    std::vector<double> values;
    std::vector<std::string> lines;
};

Decoded decodeAll(const CdiDevice& device, const sim::Memory& unit)
{
    Decoded d;
    d.lines = splitLines(captureStdout([&] {
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
            d.values.push_back(device.decodeTiming(static_cast<TimerWord>(unit[2 * k] | unit[2 * k + 1] << 8),
                                                   static_cast<std::uint16_t>(k % 160)));
    }));
    return d;
}

// The unit's memory image of what a write sends.
sim::Memory imageOf(const MapTable& ignition, const MapTable& valve, const ConfigBlock& config)
{
    const Encoded e = encodeAll(ignition);
    sim::Memory image{};
    for (std::size_t k = 0; k < MapTable::kRun; ++k) {
        image[2 * k] = static_cast<std::uint8_t>(e.words[k] & 0xFF);
        image[2 * k + 1] = static_cast<std::uint8_t>(e.words[k] >> 8);
    }
    for (std::size_t k = 0; k < MapTable::kRun; ++k)
        image[20 * 32 + k] = static_cast<std::uint8_t>(static_cast<long long>(valve.points[k]) & 0xFF);
    std::memcpy(image.data() + 30 * 32, config.bytes(), 64);
    return image;
}

// Blocks in the order each operation sends them.
const std::vector<int> kWriteOrder = [] {
    std::vector<int> order;
    for (int b = 0; b < 32; ++b)
        order.push_back(b);
    return order;
}();
const std::vector<int> kReadOrder = [] {
    std::vector<int> order = {30, 31};
    for (int b = 0; b < 30; ++b)
        order.push_back(b);
    return order;
}();

class MapTransfer : public testing::Test {
protected:
    void SetUp() override
    {
        resetUnitOnVirtualTime();
        resetMapData(recordLog);
        logged.clear();
    }

    void TearDown() override
    {
        closeTransferHandle();
        releaseUnitLock(lock);
    }

    UnitLock lock;

    void openTransferHandle()
    {
        ASSERT_EQ(takeUnitLock(lock, 0), LockResult::taken);
        cdiDevice.deviceHandle = openUnit();
        ASSERT_NE(cdiDevice.deviceHandle, nullptr);
    }

    void closeTransferHandle()
    {
        if (cdiDevice.deviceHandle)
            hid_close(cdiDevice.deviceHandle);
        cdiDevice.deviceHandle = nullptr;
    }

    int read()
    {
        int result = 0;
        trace = captureStdout([&] { result = readDeviceMaps(cdiDevice, ignitionTable, valveTable); });
        return result;
    }

    int write()
    {
        int result = 0;
        trace = captureStdout([&] { result = writeDeviceMaps(ignitionTable, valveTable); });
        return result;
    }

    // Tables and configuration with something different in every byte that
    // goes to the unit.
    void fillProgramData()
    {
        for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
            ignitionTable.points[k] = (k * 37 % 351) / 10.0;
            valveTable.points[k] = (k * 53 % 1601) / 10.0;
        }
        valveTable.points[5] = 37.9;
        valveTable.points[6] = 160.0;
        for (int i = 0; i < 64; ++i)
            cdiDevice.config.bytes()[i] = static_cast<std::uint8_t>(0xA0 + i);
        applyEnginePreset(2);
        cdiDevice.config.revLimit = 0;
    }

    BoxRecorder boxes;
    std::string trace;
};
}

TEST(EchoRule, FirstFourReplyBytesAreNotCompared)
{
    cdiDevice = CdiDevice();
    for (int i = 0; i < 65; ++i)
        cdiDevice.outReport[i] = static_cast<std::uint8_t>(i * 7 + 1);
    for (int i = 0; i < 64; ++i)
        cdiDevice.inReport[i] = cdiDevice.outReport[i + 1];
    EXPECT_TRUE(verifyEcho());
    for (int i = 0; i < 4; ++i)
        cdiDevice.inReport[i] ^= 0xFF;
    EXPECT_TRUE(verifyEcho());
    // Out-report byte 64 has no reply byte to answer it beyond 63.
    cdiDevice.outReport[4] ^= 0xFF;
    EXPECT_TRUE(verifyEcho());
}

TEST(EchoRule, OneDifferingByteFromFourOnFails)
{
    cdiDevice = CdiDevice();
    for (int i = 0; i < 65; ++i)
        cdiDevice.outReport[i] = static_cast<std::uint8_t>(i * 7 + 1);
    for (int i = 4; i < 64; ++i) {
        for (int j = 0; j < 64; ++j)
            cdiDevice.inReport[j] = cdiDevice.outReport[j + 1];
        cdiDevice.inReport[i] ^= 0x01;
        EXPECT_FALSE(verifyEcho()) << "reply byte " << i;
        // The unit's byte i answers out-report byte i + 1, not byte i.
        cdiDevice.inReport[i] ^= 0x01;
        cdiDevice.outReport[i + 1] ^= 0x01;
        EXPECT_FALSE(verifyEcho()) << "out-report byte " << i + 1;
        cdiDevice.outReport[i + 1] ^= 0x01;
    }
}

TEST(TraceDump, HeadingThenFourRowsOfHexAndText)
{
    std::uint8_t buffer[65];
    for (int i = 0; i < 65; ++i)
        buffer[i] = static_cast<std::uint8_t>(0x10 + i * 3);
    buffer[16] = 0x1F;
    buffer[17] = 0x20;
    buffer[18] = 0x7E;
    buffer[19] = 0x7F;
    EXPECT_EQ(captureStdout([&] { traceDump(buffer); }),
              "00-01-02-03-04-05-06-07-08=09-0A-0B-0C-0D-0E-0F\n"
              "10 13 16 19 1C 1F 22 25 28 2B 2E 31 34 37 3A 3D ......\"%(+.147:=\n"
              "1F 20 7E 7F 4C 4F 52 55 58 5B 5E 61 64 67 6A 6D . ~.LORUX[^adgjm\n"
              "70 73 76 79 7C 7F 82 85 88 8B 8E 91 94 97 9A 9D psvy|...........\n"
              "A0 A3 A6 A9 AC AF B2 B5 B8 BB BE C1 C4 C7 CA CD ................\n");
}

TEST_F(MapTransfer, WriteThenReadBackIsSixtyFourCheckedExchanges)
{
    fillProgramData();
    const sim::Memory image = imageOf(ignitionTable, valveTable, cdiDevice.config);
    const ConfigBlock written = cdiDevice.config;

    openTransferHandle();
    ASSERT_EQ(write(), 1);
    EXPECT_EQ(sim::memory(), image);
    EXPECT_EQ(sim::block(20)[5], 0x25);  // 37.9
    EXPECT_EQ(sim::block(20)[6], 0xA0);  // 160.0

    for (int i = 0; i < 64; ++i)
        cdiDevice.config.bytes()[i] = 0;
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        ignitionTable.points[k] = valveTable.points[k] = -99.0;
    ASSERT_EQ(read(), 1);
    EXPECT_TRUE(boxes.shown.empty());

    const std::vector<sim::Request> requests = sim::blockRequests();
    ASSERT_EQ(requests.size(), 64u);
    for (int n = 0; n < 32; ++n) {
        const sim::Request& r = requests[static_cast<std::size_t>(n)];
        const int block = kWriteOrder[static_cast<std::size_t>(n)];
        EXPECT_EQ(r[0], 0);
        EXPECT_EQ(r[1], 0x82);
        EXPECT_EQ(r[2], block);
        EXPECT_EQ(r[3], 0);
        EXPECT_EQ(r[4], 0);
        for (int j = 0; j < 32; ++j)
            EXPECT_EQ(r[5 + j], image[block * 32 + j]) << "block " << block << " byte " << j;
        for (int i = 37; i < 65; ++i)
            EXPECT_EQ(r[i], 0) << "block " << block << " byte " << i;
    }
    // Read requests carry bytes 3..64 of the last write request.
    const sim::Request& lastWrite = requests[31];
    for (int n = 0; n < 32; ++n) {
        const sim::Request& r = requests[32 + static_cast<std::size_t>(n)];
        EXPECT_EQ(r[0], 0);
        EXPECT_EQ(r[1], 0x80);
        EXPECT_EQ(r[2], kReadOrder[static_cast<std::size_t>(n)]);
        for (int i = 3; i < 65; ++i)
            EXPECT_EQ(r[i], lastWrite[i]) << "read " << n << " byte " << i;
    }

    // Everything comes back as the unit holds it, with the rev limit fixed up.
    ConfigBlock expected = written;
    expected.revLimit = 70;
    EXPECT_EQ(std::memcmp(cdiDevice.config.bytes(), expected.bytes(), 64), 0);
    const std::vector<double> decoded = decodeAll(cdiDevice, image).values;
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        EXPECT_EQ(ignitionTable.points[k], decoded[k]) << k;
        EXPECT_EQ(valveTable.points[k], image[640 + k]) << k;
    }
    EXPECT_EQ(sim::openHandles(), 1);
}

TEST_F(MapTransfer, ReadStoresWhatTheUnitHoldsWithoutClamping)
{
    std::uint8_t* ig = sim::memory().data();
    // Point 0 (index 0): any nonzero word reads as the pickup position.
    ig[0] = 0xD8;
    ig[1] = 0x2D;
    // Point 30: the worked example 0x2DD8 at index 30 reads as 10.1.
    ig[60] = 0xD8;
    ig[61] = 0x2D;
    // Point 159: 0x7FFF at index 159 decodes far below zero.
    ig[318] = 0xFF;
    ig[319] = 0x7F;
    // Point 160 is map 1 at index 0.
    ig[320] = 0x82;
    ig[321] = 0x04;
    sim::block(20)[7] = 200;
    sim::block(29)[31] = 255;
    sim::block(30)[8] = 55;
    sim::block(30)[13] = 36;
    sim::block(31)[31] = 0x5A;

    openTransferHandle();
    ASSERT_EQ(read(), 1);
    EXPECT_EQ(ignitionTable.points[0], 36.0);
    EXPECT_EQ(ignitionTable.points[30], 10.1);
    EXPECT_NEAR(ignitionTable.points[159], -6205.3, 1e-9);
    EXPECT_EQ(ignitionTable.points[160], 36.0);
    EXPECT_EQ(ignitionTable.points[1], 0.0);
    EXPECT_EQ(valveTable.points[7], 200.0);
    EXPECT_EQ(valveTable.points[319], 255.0);
    EXPECT_EQ(cdiDevice.config.revLimit, 55);  // only 0 is replaced
    EXPECT_EQ(cdiDevice.config.bytes()[63], 0x5A);
    EXPECT_EQ(cdiDevice.latencyOffset, 570);

    // Written back, the out-of-range values go to the unit as they are.
    closeTransferHandle();
    sim::reset();
    openTransferHandle();
    ASSERT_EQ(write(), 1);
    EXPECT_EQ(sim::block(20)[7], 200);
    EXPECT_EQ(sim::block(29)[31], 255);
}

TEST_F(MapTransfer, RevLimitZeroBecomesSeventy)
{
    openTransferHandle();
    ASSERT_EQ(read(), 1);
    EXPECT_EQ(cdiDevice.config.revLimit, 70);
    EXPECT_EQ(sim::block(30)[8], 0);  // the unit itself is not changed
}

TEST_F(MapTransfer, ValveBytesAreTheLowByteOfTheIntegerPart)
{
    // Beyond int's range too: 1e12 = 0xE8D4A51000, 3e9 = 0xB2D05E00, and
    // 1e300 is a multiple of 256.
    const double values[] = {37.9, 160.0, 0.99, 255.5, 256.0, 511.7, -1.0, -0.5, -256.0,
                             1e12 + 3.0, -1e12 - 3.0, 3e9, 3e9 + 7.9, 1e300};
    const std::uint8_t bytes[] = {37, 160, 0, 255, 0, 255, 255, 0, 0,
                                  0x03, 0xFD, 0x00, 0x07, 0};
    for (std::size_t i = 0; i < sizeof values / sizeof values[0]; ++i)
        valveTable.points[i] = values[i];
    openTransferHandle();
    ASSERT_EQ(write(), 1);
    for (std::size_t i = 0; i < sizeof values / sizeof values[0]; ++i)
        EXPECT_EQ(sim::block(20)[i], bytes[i]) << values[i];
}

TEST_F(MapTransfer, WholeReadLogAndTrace)
{
    sim::Memory& memory = sim::memory();
    for (std::size_t i = 0; i < memory.size(); ++i)
        memory[i] = static_cast<std::uint8_t>(i * 13 + 5);
    sim::block(30)[13] = 36;  // a sane pickup position
    // The out report as a previous write left it: reads carry bytes 3..64.
    for (int i = 3; i < 65; ++i)
        cdiDevice.outReport[i] = static_cast<std::uint8_t>(0x30 + i);

    // The codec lines the read must interleave, in its order.
    CdiDevice decoder = cdiDevice;
    std::memcpy(decoder.config.bytes(), sim::block(30), 64);
    if (decoder.config.revLimit == 0)
        decoder.config.revLimit = 70;
    const std::vector<std::string> codec = decodeAll(decoder, memory).lines;
    ASSERT_EQ(codec.size(), 320u);

    std::uint8_t request[65];
    std::memcpy(request, cdiDevice.outReport, sizeof request);
    request[0] = 0;
    request[1] = 0x80;

    openTransferHandle();
    ASSERT_EQ(read(), 1);

    std::string expected;
    for (int block : kReadOrder) {
        request[2] = static_cast<std::uint8_t>(block);
        const std::string reply = dump(unitReply(request).data());
        if (block >= 30) {
            expected += dump(request) + reply;
        } else if (block < 20) {
            for (int m = 0; m < 16; ++m)
                expected += codec[static_cast<std::size_t>(block * 16 + m)] + "\n";
            expected += "TX\n" + dump(request) + "RX\n" + reply;
        } else {
            expected += dump(request) + "TX\n" + dump(request) + "RX\n" + reply;
        }
    }
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(logged, join({{"Reading CONFIG table\n"}, repeat(".", 2), {"OK.\n", "Reading IG table\n"},
                            repeat(".", 20), {"OK.\n", "Reading PV table"}, repeat(".", 10), {"OK.\n"}}));
}

TEST_F(MapTransfer, WholeWriteLogAndTrace)
{
    fillProgramData();
    const sim::Memory image = imageOf(ignitionTable, valveTable, cdiDevice.config);
    const Encoded encoded = encodeAll(ignitionTable);

    openTransferHandle();
    ASSERT_EQ(write(), 1);

    std::uint8_t request[65] = {};
    request[1] = 0x82;
    std::string expected;
    for (int block : kWriteOrder) {
        request[2] = static_cast<std::uint8_t>(block);
        std::memcpy(request + 5, image.data() + block * 32, 32);
        if (block < 20) {
            for (int m = 0; m < 16; ++m)
                expected += encoded.lines[static_cast<std::size_t>(block * 16 + m)] + "\n";
        }
        expected += "TX\n" + dump(request) + "RX\n" + dump(unitReply(request).data());
    }
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(logged, join({{"Writing IG table\n"}, repeat(".", 20), {"OK\n"}, repeat(".", 10), {"OK\n"},
                            repeat(".", 2), {"OK\n"}}));
}

TEST_F(MapTransfer, NoLogSinkStillBeepsAndShowsTheBox)
{
    cdiDevice.log = nullptr;
    sim::faults().readFailsAt = 9;
    openTransferHandle();
    EXPECT_EQ(read(), 0);
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:Error occured on reading IG data."});
}

// A failed hidapi call leaves one line with hidapi's own words on standard
// error, read before the handle is dropped; a reply that does not come
// leaves none.
TEST_F(MapTransfer, FailedCallsAreToldOnStandardErrorWithHidapisText)
{
    const struct {
        int* fault;
        const char* line;
    } cases[] = {{&sim::faults().writeFailsAt, "kvz-cdi: hid_write failed: simulated write fault\n"},
                 {&sim::faults().readFailsAt, "kvz-cdi: hid_read_timeout failed: simulated read fault\n"},
                 {&sim::faults().noReplyAt, ""}};
    for (const auto& c : cases) {
        resetUnitOnVirtualTime();
        *c.fault = 3;
        openTransferHandle();
        testing::internal::CaptureStderr();
        EXPECT_EQ(read(), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
        closeTransferHandle();
    }
}

TEST_F(MapTransfer, NoHandleIsReportedPerPhase)
{
    // No handle at all: the first exchange of each operation fails.
    EXPECT_EQ(read(), 0);
    EXPECT_EQ(logged, (std::vector<std::string>{"Reading CONFIG table\n", "Writing fail.\n"}));
    EXPECT_TRUE(boxes.shown.empty());
    // The request was still traced before the handle was looked at.
    std::uint8_t request[65] = {};
    request[1] = 0x80;
    request[2] = 30;
    EXPECT_EQ(trace, dump(request));

    logged.clear();
    EXPECT_EQ(write(), 0);
    EXPECT_EQ(logged, (std::vector<std::string>{"Writing IG table\n", "Writing fail.\n",
                                                "Error occured on writing IG data.\n"}));
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:Error occured on writing IG data."});
    EXPECT_TRUE(sim::blockRequests().empty());
}

// Each fault at the first, a middle and the last block of every phase.
namespace {
enum class Fault { writeFails, readFails, noReply, wrongEcho };

// A fault and the exchange (1-based, in the order the blocks are sent) it
// strikes.
using FaultAt = std::tuple<Fault, int>;

std::string faultName(const testing::TestParamInfo<FaultAt>& info)
{
    static const char* const names[] = {"WriteFails", "ReadFails", "NoReply", "WrongEcho"};
    const auto [fault, exchange] = info.param;
    return names[static_cast<int>(fault)] + std::string("At") + std::to_string(exchange);
}

void inject(Fault f, int exchange)
{
    switch (f) {
    case Fault::writeFails: sim::faults().writeFailsAt = exchange; break;
    case Fault::readFails: sim::faults().readFailsAt = exchange; break;
    case Fault::noReply: sim::faults().noReplyAt = exchange; break;
    case Fault::wrongEcho: sim::faults().wrongEchoAtBlock = exchange - 1; break;  // writes go in block order
    }
}

const char* hidLine(Fault f) { return f == Fault::writeFails ? "\nhid_write() Failed.\n" : "\nhid_rea() Failed.\n"; }

class ReadFaults : public MapTransfer, public testing::WithParamInterface<FaultAt> {};
class WriteFaults : public MapTransfer, public testing::WithParamInterface<FaultAt> {};
}

// A read sends the configuration blocks (exchanges 1-2), the ignition blocks
// (3-22), then the power-valve blocks (23-32).
TEST_P(ReadFaults, ChangeNothingAndReportThePhase)
{
    const auto [fault, exchange] = GetParam();
    sim::Memory unit{};
    for (std::size_t i = 0; i < unit.size(); ++i)
        unit[i] = static_cast<std::uint8_t>(i * 29 + 3);
    unit[30 * 32 + 8] = 0;    // rev limit, fixed up once the phase is through
    unit[30 * 32 + 13] = 36;  // pickup
    sim::memory() = unit;
    const double sentinel = -99.0;
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        ignitionTable.points[k] = valveTable.points[k] = sentinel;
    const ConfigBlock oldConfig = cdiDevice.config;
    inject(fault, exchange);
    openTransferHandle();

    EXPECT_EQ(read(), 0);
    EXPECT_EQ(sim::blockRequests().size(), static_cast<std::size_t>(exchange));
    EXPECT_EQ(cdiDevice.deviceHandle, nullptr);
    EXPECT_EQ(sim::openHandles(), 0);
    EXPECT_EQ(sim::strayCloses(), 0);

    const int done = exchange - 1;  // blocks read before the failing one
    std::vector<std::string> log = {"Reading CONFIG table\n"};
    std::vector<std::string> shown;
    if (exchange <= 2) {
        log = join({log, repeat(".", done), {hidLine(fault)}});
        if (fault != Fault::writeFails) {
            log.push_back("Error occured on reading config data.\n");
            shown.push_back("error:Error occured on reading config data.");
        }
    } else {
        log = join({log, repeat(".", 2), {"OK.\n", "Reading IG table\n"}});
        if (exchange <= 22) {
            log = join({log, repeat(".", done - 2), {hidLine(fault), "Error occured on reading IG data.\n"}});
            shown.push_back("error:Error occured on reading IG data.");
        } else {
            log = join({log, repeat(".", 20), {"OK.\n", "Reading PV table"}, repeat(".", done - 22), {hidLine(fault)}});
            if (fault != Fault::writeFails) {
                log.push_back("Error occured on reading PV data.\n");
                shown.push_back("error:Error occured on reading PV data.");
            }
        }
    }
    EXPECT_EQ(logged, log);
    EXPECT_EQ(boxes.shown, shown);

    // A read that stops part-way changes neither table nor the record.
    EXPECT_EQ(std::memcmp(cdiDevice.config.bytes(), oldConfig.bytes(), 64), 0);
    EXPECT_EQ(cdiDevice.latencyOffset, 570);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        EXPECT_EQ(ignitionTable.points[k], sentinel) << "ignition point " << k;
        EXPECT_EQ(valveTable.points[k], sentinel) << "valve point " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleAndLastOfEachPhase, ReadFaults,
                         testing::Combine(testing::Values(Fault::writeFails, Fault::readFails, Fault::noReply),
                                          testing::Values(1, 2, 3, 12, 22, 23, 27, 32)),
                         faultName);

// A write sends the ignition blocks (exchanges 1-20), the power-valve blocks
// (21-30), then the configuration blocks (31-32).
TEST_P(WriteFaults, LeaveLaterBlocksUntouchedAndReportThePhase)
{
    const auto [fault, exchange] = GetParam();
    struct Phase {
        const char* error;
        const char* verify;
    };
    const Phase phase = exchange <= 20   ? Phase{"Error occured on writing IG data.", "Writing IG data verify failed."}
                        : exchange <= 30 ? Phase{"Error occured on writing PV data.", "Writing PV data verify failed."}
                                         : Phase{"Error occured on writing config data.",
                                                 "Writing config data verify failed."};
    fillProgramData();
    const sim::Memory image = imageOf(ignitionTable, valveTable, cdiDevice.config);
    sim::Memory unit{};
    unit.fill(0xEE);
    sim::memory() = unit;
    inject(fault, exchange);
    openTransferHandle();

    EXPECT_EQ(write(), 0);
    EXPECT_EQ(sim::blockRequests().size(), static_cast<std::size_t>(exchange));

    const int done = exchange - 1;
    std::vector<std::string> log = {"Writing IG table\n"};
    log = join({log, repeat(".", std::min(done, 20))});
    if (done >= 20)
        log = join({log, {"OK\n"}, repeat(".", std::min(done - 20, 10))});
    if (done >= 30)
        log = join({log, {"OK\n"}, repeat(".", done - 30)});
    const bool verify = fault == Fault::noReply || fault == Fault::wrongEcho;
    if (verify) {
        log.push_back(std::string(phase.verify) + "\n");
        EXPECT_EQ(boxes.shown, std::vector<std::string>{std::string("error:") + phase.verify});
        // A failed check leaves the handle to the caller.
        EXPECT_NE(cdiDevice.deviceHandle, nullptr);
        EXPECT_EQ(sim::openHandles(), 1);
    } else {
        log.push_back(hidLine(fault));
        log.push_back(std::string(phase.error) + "\n");
        EXPECT_EQ(boxes.shown, std::vector<std::string>{std::string("error:") + phase.error});
        EXPECT_EQ(cdiDevice.deviceHandle, nullptr);
        EXPECT_EQ(sim::openHandles(), 0);
    }
    EXPECT_EQ(logged, log);
    EXPECT_EQ(sim::strayCloses(), 0);

    // Blocks before the failing one are on the unit, later ones untouched.
    for (int block = 0; block < 32; ++block) {
        if (block == done)
            continue;
        const sim::Memory& expected = block < done ? image : unit;
        EXPECT_EQ(std::memcmp(sim::block(block), expected.data() + block * 32, 32), 0) << "block " << block;
    }
}

INSTANTIATE_TEST_SUITE_P(FirstMiddleAndLastOfEachPhase, WriteFaults,
                         testing::Combine(testing::Values(Fault::writeFails, Fault::readFails, Fault::noReply,
                                                          Fault::wrongEcho),
                                          testing::Values(1, 10, 20, 21, 25, 30, 31, 32)),
                         faultName);

TEST_F(MapTransfer, UnansweredWriteOfZerosIsAVerifyFailure)
{
    // All-zero ignition points encode to all-zero blocks, which a zeroed in
    // report would echo perfectly.
    sim::faults().noReplyAt = 1;
    openTransferHandle();
    EXPECT_EQ(write(), 0);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:Writing IG data verify failed."});
    EXPECT_EQ(logged, (std::vector<std::string>{"Writing IG table\n", "Writing IG data verify failed.\n"}));
    EXPECT_EQ(sim::blockRequests().size(), 1u);
}

TEST_F(MapTransfer, RepliesUpToASecondLateAreWaitedFor)
{
    // A busy unit may take most of the second each block exchange waits.
    sim::faults().replyDelayMs = 990;
    fillProgramData();
    const sim::Memory image = imageOf(ignitionTable, valveTable, cdiDevice.config);
    openTransferHandle();
    ASSERT_EQ(write(), 1);
    EXPECT_EQ(sim::memory(), image);
    ASSERT_EQ(read(), 1);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(sim::clockMs(), 64 * 990) << "every reply came late and was waited for";
}

TEST_F(MapTransfer, UnansweredReadKeepsTheTables)
{
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        valveTable.points[k] = 42.0;
    sim::memory().fill(7);
    sim::faults().noReplyAt = 23;  // the first power-valve block
    openTransferHandle();
    EXPECT_EQ(read(), 0);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        ASSERT_EQ(valveTable.points[k], 42.0) << k;
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:Error occured on reading PV data."});
}

TEST_F(MapTransfer, ShortReplyIsNoReply)
{
    // The payload of a read fits in 36 bytes, and the echo of a write block
    // of zeros would match a zeroed tail; neither may count as a reply.
    sim::faults().replyLength = 36;
    openTransferHandle();
    ignitionTable.points[3] = 12.5;
    EXPECT_EQ(read(), 0);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:Error occured on reading config data."});
    EXPECT_EQ(ignitionTable.points[3], 12.5);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 36);

    boxes.shown.clear();
    ignitionTable = MapTable();
    openTransferHandle();
    EXPECT_EQ(write(), 0);
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"error:Writing IG data verify failed."});
    EXPECT_EQ(sim::blockRequests().size(), 2u);
}

// Status exchanges on a handle of their own, as the poll makes them while a
// command's box is open; every reply also lands on the transfer's handle.
void exchangeStatusOnSecondHandle(int count)
{
    hid_device* poll = openUnit();
    ASSERT_NE(poll, nullptr);
    for (int i = 0; i < count; ++i) {
        std::uint8_t request[65] = {};
        request[1] = CMD_STATUS;
        std::uint8_t reply[64];
        ASSERT_GT(hid_write(poll, request, sizeof request), 0);
        ASSERT_GT(hid_read_timeout(poll, reply, sizeof reply, 100), 0);
    }
    hid_close(poll);
}

TEST_F(MapTransfer, StaleStatusRepliesAreDiscardedBeforeEachRequest)
{
    fillProgramData();
    const sim::Memory image = imageOf(ignitionTable, valveTable, cdiDevice.config);
    sim::status().rpm = 0x4141;
    openTransferHandle();

    // The poll's exchanges on a handle of its own, as during the question box.
    exchangeStatusOnSecondHandle(5);

    ASSERT_EQ(write(), 1);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(sim::memory(), image);

    // The same for a read: the status replies must not be taken for blocks.
    exchangeStatusOnSecondHandle(5);
    cdiDevice.config = ConfigBlock{};
    ASSERT_EQ(read(), 1);
    EXPECT_EQ(std::memcmp(cdiDevice.config.bytes() + 14, image.data() + 30 * 32 + 14, 50), 0);
    for (std::uint32_t k = 0; k < MapTable::kRun; ++k)
        ASSERT_EQ(valveTable.points[k], image[640 + k]) << k;
}

TEST_F(MapTransfer, StatusRepliesReachEveryOpenHandle)
{
    // The premise of the discarding: another handle's reply is queued here too.
    openTransferHandle();
    exchangeStatusOnSecondHandle(1);
    std::uint8_t reply[64];
    EXPECT_GT(hid_read_timeout(cdiDevice.deviceHandle, reply, sizeof reply, 0), 0);
}
