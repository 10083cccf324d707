// Finding the unit on the bus, and the one exchange of a request and its
// reply that the map transfer and the status poll share.
#include "hid_link.h"

#include <hidapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>
#include <type_traits>

#include "unit_lock.h"

namespace {

// Appends one character as UTF-8. Values that are no character at all
// (surrogates, beyond U+10FFFF) become U+FFFD.
std::size_t encodeUtf8(char32_t c, char out[4])
{
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

long long steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void steadySleepMs(long long ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

long long (*clockMs)() = steadyMs;
void (*sleepMs)(long long) = steadySleepMs;

// Until when a reply this program gave up on may still come, on any of its
// handles or another program's; empty when none may. Only time ends it: a
// report that comes may answer any request, so finding one settles nothing.
std::optional<long long> owedUntil;

long long lateReplyLeftMs()
{
    return *owedUntil - clockMs();
}

bool lateReplyDue()
{
    if (owedUntil && lateReplyLeftMs() <= 0)
        owedUntil.reset();
    return owedUntil.has_value();
}

void printToStandardError(const char* text)
{
    std::fprintf(stderr, "kvz-cdi: %s\n", text);
}

char32_t codeUnit(wchar_t c)
{
    return static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c));
}

// Read at once, before anything else is asked of the handle or it is closed.
std::string errorText(hid_device* handle)
{
    const wchar_t* text = hid_error(handle);
    return text ? toUtf8(text, 1024) : std::string();
}

}  // namespace

void (*hidErrorSink)(const char* text) = printToStandardError;

hid_device* openUnit()
{
    // The path the lock was taken on: the first unit with our ids when the
    // program took it.
    const std::string& path = lockedUnitPath();
    return path.empty() ? nullptr : hid_open_path(path.c_str());
}

bool replyOwed()
{
    return lateReplyDue();
}

void waitOutLateReply()
{
    while (lateReplyDue())
        sleepMs(std::max(1LL, lateReplyLeftMs()));
}

void closeUnit(hid_device* handle)
{
    hid_close(handle);
}

// wchar_t holds UTF-32 on Linux and macOS and UTF-16 on Windows.
std::string toUtf8(const wchar_t* wide, std::size_t limit)
{
    std::string text;
    for (const wchar_t* p = wide; *p; ++p) {
        char32_t c = codeUnit(*p);
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && p[1]) {
            const char32_t low = codeUnit(p[1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++p;
            }
        }
        char bytes[4];
        const std::size_t n = encodeUtf8(c, bytes);
        if (text.size() + n > limit)
            break;
        text.append(bytes, n);
    }
    return text;
}

Exchange exchangeReport(hid_device* handle, const std::uint8_t (&request)[kRequestSize],
                        std::uint8_t (&reply)[kReplySize], const ExchangeRules& rules)
{
    Exchange exchange{Outcome::reply, 0, 0, {}};
    if (lateReplyDue() && !rules.waitsForLateReply) {
        exchange.outcome = Outcome::skipped;
        return exchange;
    }
    waitOutLateReply();
    // Left waiting, a report meant for another handle's request (the poll's
    // status replies pile up here while a command's box is open) would be
    // taken for the reply to this one.
    std::uint8_t stale[kReplySize];
    while (hid_read_timeout(handle, stale, sizeof stale, 0) > 0) {
    }

    exchange.written = hid_write(handle, request, sizeof request);
    if (exchange.written < 0) {
        exchange.outcome = Outcome::writeFailed;
        exchange.error = errorText(handle);
        return exchange;
    }
    if (exchange.written < rules.leastWritten) {
        exchange.outcome = Outcome::notSent;
        return exchange;
    }
    const long long sent = clockMs();
    std::memset(reply, 0, sizeof reply);
    exchange.got = hid_read_timeout(handle, reply, sizeof reply, rules.timeoutMs);
    if (exchange.got < 0) {
        exchange.outcome = Outcome::readFailed;
        exchange.error = errorText(handle);
    } else if (exchange.got == 0) {
        exchange.outcome = Outcome::noReply;
    } else if (exchange.got < kReplySize) {
        exchange.outcome = Outcome::shortReply;
    }
    if (exchange.outcome == Outcome::noReply || exchange.outcome == Outcome::readFailed)
        owedUntil = std::max(owedUntil.value_or(sent), sent + kLateReplyMs);
    return exchange;
}

void waitForQuiet(hid_device* handle, int quietMs, int limitMs)
{
    const long long start = clockMs();
    long long lastHeard = start;
    std::uint8_t report[kReplySize];
    for (long long now = start; now - lastHeard < quietMs && now - start < limitMs; now = clockMs()) {
        const long long left = std::min(lastHeard + quietMs, start + limitMs) - now;
        const int got = hid_read_timeout(handle, report, sizeof report, static_cast<int>(left));
        if (got < 0)
            return;
        if (got > 0)
            lastHeard = clockMs();
    }
}

void setExchangeClock(long long (*nowMs)(), void (*sleep)(long long))
{
    clockMs = nowMs ? nowMs : steadyMs;
    sleepMs = sleep ? sleep : steadySleepMs;
    owedUntil.reset();
}

long long exchangeClockMs()
{
    return clockMs();
}

void printHidError(const Exchange& exchange)
{
    const char* call = exchange.outcome == Outcome::writeFailed ? "hid_write" : "hid_read_timeout";
    hidErrorSink((std::string(call) + " failed: " + exchange.error).c_str());
}
