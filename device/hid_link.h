// How the unit is found and addressed, and the one request-and-reply
// exchange that every talk with it goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct hid_device_;
typedef struct hid_device_ hid_device;

constexpr unsigned short CDI_VENDOR_ID = 0x04D8;
constexpr unsigned short CDI_PRODUCT_ID = 0x003C;

constexpr std::uint8_t CMD_READ_BLOCK = 0x80;
constexpr std::uint8_t CMD_WRITE_BLOCK = 0x82;
constexpr std::uint8_t CMD_STATUS = 0x83;

// How long a block exchange waits for the unit's reply.
constexpr int REPLY_TIMEOUT_MS = 1000;

// A request as hid_write takes it (report id 0 in front) and a reply as
// hid_read delivers it.
constexpr int kRequestSize = 65;
constexpr int kReplySize = 64;

// The unit whose lock the program holds (unit_lock.h), opened by its path;
// null without the lock, or when it cannot be opened.
hid_device* openUnit();
void closeUnit(hid_device* handle);

// What became of one request and its reply.
enum class Outcome {
    reply,        // a whole report came
    shortReply,   // a report shorter than the unit's 64 bytes came
    noReply,      // nothing came in time
    readFailed,   // hid_read_timeout returned -1
    notSent,      // hid_write returned less than the caller counts as sent
    writeFailed,  // hid_write returned -1
    skipped,      // an earlier request may still be answered: nothing sent
};

// How a caller exchanges.
struct ExchangeRules {
    int timeoutMs;           // how long to wait for the reply
    int leastWritten;        // the smallest hid_write result that counts as sent
    bool waitsForLateReply;  // waits out an earlier unanswered request, or skips
};

// After a request whose reply was not read, the unit may still answer it,
// into every handle open at that moment, of this program or another: the
// program owes that reply until this long after the request went out,
// whichever of its exchanges gave up on it, and nothing it receives in the
// meantime settles that, since replies carry nothing to tell them apart.
constexpr int kLateReplyMs = 1500;

// True while a reply the program gave up on may still come.
bool replyOwed();
// Waits until no reply is owed any more.
void waitOutLateReply();

// The clock that rule counts by, in milliseconds, and how a wait passes
// on it: steady time unless set. Tests that run the simulated unit on its
// virtual clock set them to that one's; setting a clock forgets any request
// still outstanding.
void setExchangeClock(long long (*nowMs)(), void (*sleepMs)(long long) = nullptr);
long long exchangeClockMs();

struct Exchange {
    Outcome outcome;
    int written;        // what hid_write returned
    int got;            // what hid_read_timeout returned
    std::string error;  // hid_error()'s text when a call returned -1
};

// While a reply is owed, skips (nothing sent) or waits until none is, as
// the rules say; then discards input already waiting on the handle (every
// handle gets every report of the unit), sends the request and waits for
// the reply, which lands in `reply` (zeroed first). Replies are never
// matched by their content, which is not fixed: every exchange gets its own
// reply by time alone. Prints nothing and never closes the handle.
Exchange exchangeReport(hid_device* handle, const std::uint8_t (&request)[kRequestSize],
                        std::uint8_t (&reply)[kReplySize], const ExchangeRules& rules);

// Reads and discards what comes on the handle until nothing has come for
// `quietMs`, or `limitMs` have passed, or a read fails.
void waitForQuiet(hid_device* handle, int quietMs, int limitMs);

// Wide text from hidapi as UTF-8, cut after the last whole character that
// fits in `limit` bytes.
std::string toUtf8(const wchar_t* wide, std::size_t limit);

// The call that failed and hid_error()'s text, for an exchange whose
// hid_write or hid_read_timeout returned -1, to the sink below.
void printHidError(const Exchange& exchange);

// Where printHidError's text goes: by default one line on standard error,
// "kvz-cdi: " in front. The command-line program puts it in its own line.
extern void (*hidErrorSink)(const char* text);
