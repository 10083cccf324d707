// Moving both tables and the configuration block between the program and
// the unit, one 32-byte block per request, with every write checked against
// the unit's echo and every report traced (traceStream, standard output by default).
#include "map_transfer.h"

#include <hidapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "dialogs.h"
#include "hid_link.h"
#include "timing_codec.h"
#include "unit_image.h"

namespace {
constexpr int kRequestPayload = 5;  // payload offset in a write request
constexpr int kReplyPayload = 4;    // payload offset in a reply

// Every block exchange of a transfer waits out a late reply to an earlier
// request, and counts any hid_write result of 0 or more as sent.
constexpr ExchangeRules kBlockExchange = {REPLY_TIMEOUT_MS, 0, true};

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

// How one block exchange of a transfer ended.
enum class Block { ok, noHandle, writeFailed, readFailed, noReply };

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

// One request and its reply on the record's handle. A reply that does not come within
// REPLY_TIMEOUT_MS leaves the in report zeroed and gives noReply; so does a
// report shorter than the unit's full 64 bytes, whose zeroed tail would
// otherwise pass for map data or for the zeros of an echo.
Block exchangeBlock(CdiDevice& device)
{
    if (!device.deviceHandle) {
        device.print("Writing fail.\n");
        return Block::noHandle;
    }
    device.outReport[0] = 0;
    const Exchange exchange = exchangeReport(device.deviceHandle, device.outReport, device.inReport, kBlockExchange);
    switch (exchange.outcome) {
    case Outcome::reply:
        return Block::ok;
    case Outcome::writeFailed:
        printHidError(exchange);
        dropHandle(device);
        device.print("\nhid_write() Failed.\n");
        return Block::writeFailed;
    case Outcome::readFailed:
        printHidError(exchange);
        dropHandle(device);
        device.print("\nhid_rea() Failed.\n");
        return Block::readFailed;
    default:
        return Block::noReply;
    }
}

// A read request the unit leaves unanswered has no contents: the zeroed in
// report must never replace the tables or the configuration.
Block exchangeReadBlock(CdiDevice& device)
{
    Block result = exchangeBlock(device);
    if (result == Block::noReply) {
        dropHandle(device);
        device.print("\nhid_rea() Failed.\n");
        result = Block::readFailed;
    }
    return result;
}

void traceExchange(const CdiDevice& device)
{
    if (!traceStream)
        return;
    std::fputs("TX\n", traceStream);
    traceDump(device.outReport);
    std::fputs("RX\n", traceStream);
    traceDump(device.inReport);
}

// The three phases of a read differ on purpose, and the unit's own tool has
// always shown them so; keep the differences.
struct ReadPhase {
    Message error;
    // The configuration and power-valve phases dump the request before the
    // handle check, so it shows even when the exchange then fails.
    bool dumpsRequestFirst;
    // Only the ignition phase gives a beep and a box for a missing handle or
    // a failed hid_write; the other two log it and stop quietly. Every phase
    // reports a failed read.
    bool boxesSendFailure;
};

constexpr ReadPhase kReadConfig = {kReadConfigError, true, false};
constexpr ReadPhase kReadIgnition = {kReadIgnitionError, false, true};
constexpr ReadPhase kReadValve = {kReadValveError, true, false};

// Requests one block and reports a failure as its phase does.
bool readBlock(CdiDevice& device, int block, const ReadPhase& phase)
{
    frameRequest(device, CMD_READ_BLOCK, block);
    if (phase.dumpsRequestFirst)
        traceDump(device.outReport);
    const Block result = exchangeReadBlock(device);
    if (result == Block::ok)
        return true;
    if (result == Block::readFailed || phase.boxesSendFailure)
        report(device, phase.error);
    return false;
}

// Sends the framed write request and checks the echo; reports the phase's
// failure when there is one. Counts the request when the unit may have
// acted on it.
bool writeBlock(CdiDevice& device, const WritePhase& phase, int& requestsSent)
{
    const Block result = exchangeBlock(device);
    if (result != Block::noHandle && result != Block::writeFailed)
        ++requestsSent;
    if (result != Block::ok && result != Block::noReply) {
        report(device, phase.error);
        return false;
    }
    traceExchange(device);
    // An unanswered block of zeros would match the zeroed in report; it was
    // still never confirmed.
    if (result == Block::noReply || !verifyEcho()) {
        report(device, phase.verify);
        return false;
    }
    return true;
}
// Keeps the block the reply carries.
void keepBlock(const CdiDevice& device, int block, UnitImage& image)
{
    std::memcpy(image.block(block), device.inReport + kReplyPayload, kBlockSize);
}

// Writes blocks first..last, each framed, its payload filled by the source,
// kept in `sent` and checked against the echo, a dot per block and "OK\n"
// after the last; a read writes "OK.\n" there.
bool writeBlocks(CdiDevice& device, int first, int last, const WritePhase& phase, const BlockSource& source,
                 UnitImage& sent, int& requestsSent)
{
    std::uint8_t* payload = device.outReport + kRequestPayload;
    for (int block = first; block <= last; ++block) {
        frameRequest(device, CMD_WRITE_BLOCK, block);
        source(block, payload);
        std::memcpy(sent.block(block), payload, kBlockSize);
        if (!writeBlock(device, phase, requestsSent))
            return false;
        device.blockDone(block);
        device.print(".");
    }
    device.print("OK\n");
    return true;
}
}  // namespace

int readUnit(CdiDevice& device, UnitImage& image, UnitContents* contents)
{
    device.print("Reading CONFIG table\n");
    for (int block = kFirstConfigBlock; block <= kLastConfigBlock; ++block) {
        if (!readBlock(device, block, kReadConfig))
            return 0;
        traceDump(device.inReport);  // the configuration's reply is dumped without headings
        keepBlock(device, block, image);
        device.blockDone(block);
        device.print(".");
    }
    // The configuration comes first, so the ignition words can be decoded
    // with the unit's own pickup position and pulse type.
    const ConfigBlock unit = imageConfig(image);
    const TimingReference reference = readReference(unit, device.timerConstant);
    if (contents) {
        contents->config = unit;
        if (contents->config.revLimit == 0)
            contents->config.revLimit = kDefaultRevLimit;
        contents->latencyOffset = reference.latencyOffset;
    }
    // A read ends each phase with "OK.\n", a write with "OK\n".
    device.print("OK.\n");

    device.print("Reading IG table\n");
    for (int block = kFirstIgnitionBlock; block <= kLastIgnitionBlock; ++block) {
        if (!readBlock(device, block, kReadIgnition))
            return 0;
        keepBlock(device, block, image);
        // Stored as decoded: what the unit holds is shown, not clamped.
        for (std::uint32_t k = 16 * block; contents && k < 16u * (block + 1); ++k)
            contents->ignition.points[k] =
                traceDecode(ignitionWord(image, k), static_cast<std::uint16_t>(k % MapTable::kPoints), reference);
        traceExchange(device);
        device.blockDone(block);
        device.print(".");
    }
    device.print("OK.\n");

    // No line end: the dots follow on the same line.
    device.print("Reading PV table");
    for (int block = kFirstValveBlock; block <= kLastValveBlock; ++block) {
        if (!readBlock(device, block, kReadValve))
            return 0;
        traceExchange(device);
        keepBlock(device, block, image);
        for (int j = 0; contents && j < kBlockSize; ++j)
            contents->valve.points[kBlockSize * (block - kFirstValveBlock) + j] = image.block(block)[j];
        device.blockDone(block);
        device.print(".");
    }
    device.print("OK.\n");
    return 1;
}

int rereadUnit(CdiDevice& device, UnitImage& image)
{
    std::FILE* const traced = traceStream;
    traceStream = nullptr;
    int block = kUnitBlocks - 1;
    for (; block >= 0; --block) {
        const ReadPhase& phase = block >= kFirstConfigBlock  ? kReadConfig
                                 : block >= kFirstValveBlock ? kReadValve
                                                             : kReadIgnition;
        if (!readBlock(device, block, phase))
            break;
        keepBlock(device, block, image);
        device.blockDone(block);
    }
    traceStream = traced;
    return block < 0 ? 1 : 0;
}

void storeContents(const UnitContents& contents, CdiDevice& device, MapTable& ignition, MapTable& valve)
{
    std::copy(std::begin(contents.ignition.points), std::end(contents.ignition.points), ignition.points);
    std::copy(std::begin(contents.valve.points), std::end(contents.valve.points), valve.points);
    device.config = contents.config;
    device.latencyOffset = contents.latencyOffset;
}

int readDeviceMaps(CdiDevice& device, MapTable& ignition, MapTable& valve, UnitImage* image)
{
    UnitImage read;
    UnitContents contents;
    if (!readUnit(device, read, &contents))
        return 0;
    storeContents(contents, device, ignition, valve);
    if (image)
        *image = read;
    return 1;
}

BlockSource tableBlocks(const MapTable& ignition, const MapTable& valve, const ConfigBlock& config,
                        const TimingReference& reference)
{
    return [&ignition, &valve, config, reference](int block, std::uint8_t* payload) {
        if (block <= kLastIgnitionBlock) {
            for (int m = 0; m < kBlockSize / 2; ++m) {
                const std::uint32_t k = (kBlockSize / 2) * (block - kFirstIgnitionBlock) + m;
                const TimerWord word =
                    traceEncode(ignition.points[k], static_cast<std::uint16_t>(k % MapTable::kPoints), reference);
                payload[2 * m] = static_cast<std::uint8_t>(word & 0xFF);
                payload[2 * m + 1] = static_cast<std::uint8_t>(word >> 8);
            }
        } else if (block <= kLastValveBlock) {
            for (int j = 0; j < kBlockSize; ++j)
                payload[j] = lowByte(valve.points[kBlockSize * (block - kFirstValveBlock) + j]);
        } else {
            std::memcpy(payload, config.bytes() + kBlockSize * (block - kFirstConfigBlock), kBlockSize);
        }
    };
}

BlockSource imageBlocks(const UnitImage& image)
{
    return [&image](int block, std::uint8_t* payload) { std::memcpy(payload, image.block(block), kBlockSize); };
}

int writeUnit(CdiDevice& device, const BlockSource& source, UnitImage& sent, int& requestsSent)
{
    requestsSent = 0;
    // Bytes 3-4 and 37-64 stay zero for the whole write.
    std::memset(device.outReport, 0, sizeof device.outReport);

    // Only the ignition phase has a heading.
    device.print("Writing IG table\n");
    const bool written =
        writeBlocks(device, kFirstIgnitionBlock, kLastIgnitionBlock, kWriteIgnition, source, sent, requestsSent)
        && writeBlocks(device, kFirstValveBlock, kLastValveBlock, kWriteValve, source, sent, requestsSent)
        && writeBlocks(device, kFirstConfigBlock, kLastConfigBlock, kWriteConfig, source, sent, requestsSent);
    return written ? 1 : 0;
}

int writeDeviceMaps(MapTable& ignition, MapTable& valve)
{
    UnitImage sent;
    int requestsSent = 0;
    return writeUnit(cdiDevice, tableBlocks(ignition, valve, cdiDevice.config, timingReference(cdiDevice)), sent,
                     requestsSent);
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
    if (!traceStream)
        return;
    std::fputs("00-01-02-03-04-05-06-07-08=09-0A-0B-0C-0D-0E-0F\n", traceStream);
    for (int row = 0; row < 4; ++row) {
        const std::uint8_t* bytes = buffer + 16 * row;
        for (int i = 0; i < 16; ++i)
            std::fprintf(traceStream, "%02X ", bytes[i]);
        for (int i = 0; i < 16; ++i)
            std::fputc(bytes[i] >= 0x20 && bytes[i] <= 0x7E ? bytes[i] : '.', traceStream);
        std::fputc('\n', traceStream);
    }
}
