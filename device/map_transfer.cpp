// Moving both tables and the configuration block between the program and
// the unit, one 32-byte block per request, with every write checked against
// the unit's echo and every report traced on standard output.
#include "map_transfer.h"

#include <hidapi.h>

#include <cstdio>
#include <cstring>

#include "dialogs.h"
#include "hid_link.h"
#include "timing_codec.h"

namespace {
constexpr int kBlockSize = 32;
constexpr int kRequestPayload = 5;  // payload offset in a write request
constexpr int kReplyPayload = 4;    // payload offset in a reply

constexpr int kFirstIgnitionBlock = 0;
constexpr int kLastIgnitionBlock = 19;
constexpr int kFirstValveBlock = 20;
constexpr int kLastValveBlock = 29;
constexpr int kFirstConfigBlock = 30;
constexpr int kLastConfigBlock = 31;

constexpr std::uint8_t kDefaultRevLimit = 70;  // hundreds of rpm

// A failure as the log and the box say it.
struct Message {
    const char* line;
    const char* box;
};

constexpr Message kReadConfigError = {"Error occured on reading config data.\n",
                                      "Error occured on reading config data."};
constexpr Message kReadIgnitionError = {"Error occured on reading IG data.\n",
                                        "Error occured on reading IG data."};
constexpr Message kReadValveError = {"Error occured on reading PV data.\n",
                                     "Error occured on reading PV data."};

struct WritePhase {
    Message error;
    Message verify;
};

constexpr WritePhase kWriteIgnition = {
    {"Error occured on writing IG data.\n", "Error occured on writing IG data."},
    {"Writing IG data verify failed.\n", "Writing IG data verify failed."}};
constexpr WritePhase kWriteValve = {
    {"Error occured on writing PV data.\n", "Error occured on writing PV data."},
    {"Writing PV data verify failed.\n", "Writing PV data verify failed."}};
constexpr WritePhase kWriteConfig = {
    {"Error occured on writing config data.\n", "Error occured on writing config data."},
    {"Writing config data verify failed.\n", "Writing config data verify failed."}};

enum class Exchange { ok, noHandle, writeFailed, readFailed, noReply };

int report(const CdiDevice& device, const Message& message)
{
    device.print(message.line);
    dialogs.errorBox(message.box);
    return 0;
}

void frameRequest(CdiDevice& device, std::uint8_t command, int block)
{
    device.outReport[1] = command;
    device.outReport[2] = static_cast<std::uint8_t>(block);
}

// Once an exchange has failed the handle is of no further use; closing it
// here means nothing leaks and the next command can open the unit afresh.
void dropHandle(CdiDevice& device)
{
    hid_close(device.deviceHandle);
    device.deviceHandle = nullptr;
}

// Every open handle receives every input report of the unit, so the status
// replies the poll collects while a command's box is open are queued on the
// transfer's handle too. Left there, they would be taken for the reply to
// the next request.
void discardWaitingInput(hid_device* handle)
{
    std::uint8_t stale[64];
    while (hid_read_timeout(handle, stale, sizeof stale, 0) > 0) {
    }
}

// One request and its reply on the record's handle. A reply that does not
// come within REPLY_TIMEOUT_MS leaves the in report zeroed and gives noReply;
// so does a report shorter than the unit's full 64 bytes, whose zeroed tail
// would otherwise pass for map data or for the zeros of an echo.
Exchange exchangeBlock(CdiDevice& device)
{
    if (!device.deviceHandle) {
        device.print("Writing fail.\n");
        return Exchange::noHandle;
    }
    discardWaitingInput(device.deviceHandle);
    device.outReport[0] = 0;
    if (hid_write(device.deviceHandle, device.outReport, sizeof device.outReport) < 0) {
        dropHandle(device);
        device.print("\nhid_write() Failed.\n");
        return Exchange::writeFailed;
    }
    std::memset(device.inReport, 0, sizeof device.inReport);
    const int got = hid_read_timeout(device.deviceHandle, device.inReport,
                                     sizeof device.inReport, REPLY_TIMEOUT_MS);
    if (got < 0) {
        dropHandle(device);
        device.print("\nhid_rea() Failed.\n");
        return Exchange::readFailed;
    }
    return got == static_cast<int>(sizeof device.inReport) ? Exchange::ok : Exchange::noReply;
}

// A read request the unit leaves unanswered has no contents: the zeroed in
// report must never replace the tables or the configuration.
Exchange exchangeReadBlock(CdiDevice& device)
{
    Exchange result = exchangeBlock(device);
    if (result == Exchange::noReply) {
        dropHandle(device);
        device.print("\nhid_rea() Failed.\n");
        result = Exchange::readFailed;
    }
    return result;
}

void traceExchange(const CdiDevice& device)
{
    std::printf("TX\n");
    traceDump(device.outReport);
    std::printf("RX\n");
    traceDump(device.inReport);
}

// Sends the framed write request and checks the echo; reports the phase's
// failure when there is one.
bool writeBlock(CdiDevice& device, const WritePhase& phase)
{
    const Exchange result = exchangeBlock(device);
    if (result != Exchange::ok && result != Exchange::noReply) {
        report(device, phase.error);
        return false;
    }
    traceExchange(device);
    // An unanswered block of zeros would match the zeroed in report; it was
    // still never confirmed.
    if (result == Exchange::noReply || !verifyEcho()) {
        report(device, phase.verify);
        return false;
    }
    return true;
}
}

int readDeviceMaps(CdiDevice& device, MapTable& ignition, MapTable& valve)
{
    device.print("Reading CONFIG table\n");
    for (int block = kFirstConfigBlock; block <= kLastConfigBlock; ++block) {
        frameRequest(device, CMD_READ_BLOCK, block);
        traceDump(device.outReport);
        const Exchange result = exchangeReadBlock(device);
        if (result == Exchange::readFailed)
            return report(device, kReadConfigError);
        if (result != Exchange::ok)
            return 0;
        traceDump(device.inReport);
        std::memcpy(device.config.bytes() + kBlockSize * (block - kFirstConfigBlock),
                    device.inReport + kReplyPayload, kBlockSize);
        device.print(".");
    }
    // 0 is no usable rev limit; 7000 rpm stands in for it.
    if (device.config.revLimit == 0)
        device.config.revLimit = kDefaultRevLimit;
    device.print("OK.\n");

    device.print("Reading IG table\n");
    std::uint32_t k = 0;
    for (int block = kFirstIgnitionBlock; block <= kLastIgnitionBlock; ++block) {
        frameRequest(device, CMD_READ_BLOCK, block);
        if (exchangeReadBlock(device) != Exchange::ok)
            return report(device, kReadIgnitionError);
        for (int m = 0; m < kBlockSize / 2; ++m, ++k) {
            const std::uint8_t* word = device.inReport + kReplyPayload + 2 * m;
            const TimerWord value = static_cast<TimerWord>(word[0] | word[1] << 8);
            // Stored as decoded: what the unit holds is shown, not clamped.
            ignition.points[k] = device.decodeTiming(value, static_cast<std::uint16_t>(k % MapTable::kPoints));
        }
        traceExchange(device);
        device.print(".");
    }
    device.print("OK.\n");

    device.print("Reading PV table");
    for (int block = kFirstValveBlock; block <= kLastValveBlock; ++block) {
        frameRequest(device, CMD_READ_BLOCK, block);
        traceDump(device.outReport);
        const Exchange result = exchangeReadBlock(device);
        if (result == Exchange::readFailed)
            return report(device, kReadValveError);
        if (result != Exchange::ok)
            return 0;
        traceExchange(device);
        for (int j = 0; j < kBlockSize; ++j)
            valve.points[kBlockSize * (block - kFirstValveBlock) + j] = device.inReport[kReplyPayload + j];
        device.print(".");
    }
    device.print("OK.\n");
    return 1;
}

int writeDeviceMaps(MapTable& ignition, MapTable& valve)
{
    CdiDevice& device = cdiDevice;
    // Bytes 3-4 and 37-64 stay zero for the whole write.
    std::memset(device.outReport, 0, sizeof device.outReport);

    device.print("Writing IG table\n");
    std::uint32_t k = 0;
    for (int block = kFirstIgnitionBlock; block <= kLastIgnitionBlock; ++block) {
        frameRequest(device, CMD_WRITE_BLOCK, block);
        for (int m = 0; m < kBlockSize / 2; ++m, ++k) {
            const TimerWord word = encodeTiming(ignition.points[k], static_cast<std::uint16_t>(k % MapTable::kPoints));
            device.outReport[kRequestPayload + 2 * m] = static_cast<std::uint8_t>(word & 0xFF);
            device.outReport[kRequestPayload + 2 * m + 1] = static_cast<std::uint8_t>(word >> 8);
        }
        if (!writeBlock(device, kWriteIgnition))
            return 0;
        device.print(".");
    }
    device.print("OK\n");

    for (int block = kFirstValveBlock; block <= kLastValveBlock; ++block) {
        frameRequest(device, CMD_WRITE_BLOCK, block);
        for (int j = 0; j < kBlockSize; ++j)
            device.outReport[kRequestPayload + j] = lowByte(valve.points[kBlockSize * (block - kFirstValveBlock) + j]);
        if (!writeBlock(device, kWriteValve))
            return 0;
        device.print(".");
    }
    device.print("OK\n");

    for (int block = kFirstConfigBlock; block <= kLastConfigBlock; ++block) {
        frameRequest(device, CMD_WRITE_BLOCK, block);
        std::memcpy(device.outReport + kRequestPayload,
                    device.config.bytes() + kBlockSize * (block - kFirstConfigBlock), kBlockSize);
        if (!writeBlock(device, kWriteConfig))
            return 0;
        device.print(".");
    }
    device.print("OK\n");
    return 1;
}

bool verifyEcho()
{
    // The out report carries the report id in front, so the unit's byte i
    // answers out-report byte i + 1. Bytes 0..3 of the reply are its own.
    for (int i = 4; i < 64; ++i) {
        if (cdiDevice.inReport[i] != cdiDevice.outReport[i + 1])
            return false;
    }
    return true;
}

void traceDump(const std::uint8_t* buffer)
{
    std::printf("00-01-02-03-04-05-06-07-08=09-0A-0B-0C-0D-0E-0F\n");
    for (int row = 0; row < 4; ++row) {
        const std::uint8_t* bytes = buffer + 16 * row;
        for (int i = 0; i < 16; ++i)
            std::printf("%02X ", bytes[i]);
        for (int i = 0; i < 16; ++i)
            std::putchar(bytes[i] >= 0x20 && bytes[i] <= 0x7E ? bytes[i] : '.');
        std::putchar('\n');
    }
}
