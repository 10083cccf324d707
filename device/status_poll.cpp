// One run of the status poll: the unit's identity from the enumeration, then
// one status exchange on a short-lived handle of the poll's own. The result
// says what becomes of each read-out field; the window applies it.
#include <hidapi.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "hid_link.h"

namespace {
// The identity texts are held the way the window's text buffer holds them:
// at most this many bytes, terminator included.
constexpr std::size_t kTextBufferSize = 1024;

// The window does not respond while the poll waits, and the poll runs twice
// a second, so the wait must stay short. The unit answers on its interrupt
// endpoint within a few milliseconds; 100 ms leaves ample room for a busy
// bus and still keeps an unanswering unit from freezing the window for more
// than a fifth of each period.
constexpr int kStatusTimeoutMs = 100;

// Every byte the poll reads, up to the quick-shifter switch at offset 10.
// A shorter reply lacks that byte, and taking it as 0 would show the switch
// as on, so such a reply is treated as no reply.
constexpr int kStatusReplyMinimum = 11;

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

// Wide text as UTF-8, cut after the last whole character that fits into the
// text buffer. wchar_t holds UTF-32 on Linux and macOS and UTF-16 on Windows.
std::string toUtf8(const wchar_t* wide)
{
    std::string text;
    for (const wchar_t* p = wide; *p; ++p) {
        char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(*p));
        if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && p[1]) {
            const char32_t low = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(p[1]));
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++p;
            }
        }
        char bytes[4];
        const std::size_t n = encodeUtf8(c, bytes);
        if (text.size() + n > kTextBufferSize - 1)
            break;
        text.append(bytes, n);
    }
    return text;
}

void setText(FieldUpdate& field, std::string text, unsigned colour = 0)
{
    field.set = true;
    field.text = std::move(text);
    field.colour = colour;
}
}

StatusUpdate queryUnitStatus()
{
    StatusUpdate update;

    hid_device_info* units = hid_enumerate(CDI_VENDOR_ID, CDI_PRODUCT_ID);
    if (units) {
        if (units->manufacturer_string)
            setText(update.manufacture, toUtf8(units->manufacturer_string));
        if (units->product_string)
            setText(update.product, toUtf8(units->product_string));
        hid_free_enumeration(units);
    } else {
        setText(update.manufacture, "");
        setText(update.product, "");
    }

    hid_device* handle = openUnit();
    if (!handle) {
        // The switch fields keep their last colour: only the texts go.
        setText(update.mapSwitch, "");
        setText(update.quickShifterSwitch, "");
        setText(update.rpm, "");
        setText(update.valveAngle, "");
        setText(update.picDevId, "");
        setText(update.revId, "");
        return update;
    }

    std::uint8_t request[65] = {};
    request[1] = CMD_STATUS;
    std::uint8_t reply[64] = {};
    if (hid_write(handle, request, sizeof request) > 0
        && hid_read_timeout(handle, reply, sizeof reply, kStatusTimeoutMs) >= kStatusReplyMinimum) {
        if (reply[2] != 0)
            setText(update.mapSwitch, "MAP1", STATUS_CYAN);
        else
            setText(update.mapSwitch, "MAP0", STATUS_MAGENTA);
        if (reply[10] != 0)
            setText(update.quickShifterSwitch, "QSSW OFF", STATUS_MAGENTA);
        else
            setText(update.quickShifterSwitch, "QSSW ON", STATUS_CYAN);
        setText(update.rpm, std::to_string(reply[0] | reply[1] << 8));
        setText(update.valveAngle, std::to_string(reply[4]));
    }
    // The unit reports no ids of its own; an open unit always shows these.
    setText(update.picDevId, "00");
    setText(update.revId, "00");
    hid_close(handle);
    return update;
}
