// One run of the status poll: the unit's identity from the enumeration, then
// one status exchange on a short-lived handle of the poll's own.
#include "status_poll.h"

#include <hidapi.h>

#include <cstddef>

namespace {
// The identity texts are held the way the window's text buffer holds them:
// at most this many bytes, terminator included.
constexpr std::size_t kTextBufferSize = 1024;

// The window does not respond while the poll waits, so the poll does not
// wait out a late reply to an earlier request: it skips its tick.
constexpr bool kStatusWaitsForLateReply = false;

// The poll says on standard error only what changed since the last tick,
// not the same failure twice a second.
Outcome lastOutcome = Outcome::reply;

std::optional<std::string> identityText(const wchar_t* wide)
{
    if (!wide)
        return std::nullopt;
    return toUtf8(wide, kTextBufferSize - 1);
}
}  // namespace

std::optional<UnitIdentity> findUnit()
{
    hid_device_info* units = hid_enumerate(CDI_VENDOR_ID, CDI_PRODUCT_ID);
    if (!units)
        return std::nullopt;
    UnitIdentity unit;
    unit.manufacturer = identityText(units->manufacturer_string);
    unit.product = identityText(units->product_string);
    unit.vendorId = units->vendor_id;
    unit.productId = units->product_id;
    unit.release = units->release_number;
    hid_free_enumeration(units);
    return unit;
}

UnitStatus queryUnitStatus(int timeoutMs)
{
    UnitStatus status;

    if (const std::optional<UnitIdentity> unit = findUnit()) {
        status.enumerated = true;
        status.manufacturer = unit->manufacturer;
        status.product = unit->product;
    }

    hid_device* handle = openUnit();
    if (!handle) {
        // No exchange this tick: the next failure is news again.
        lastOutcome = Outcome::reply;
        return status;
    }
    status.opened = true;

    std::uint8_t request[kRequestSize] = {};
    request[1] = CMD_STATUS;
    std::uint8_t reply[kReplySize];
    const Exchange exchange
        = exchangeReport(handle, request, reply, {timeoutMs, 1, kStatusWaitsForLateReply});
    if (exchange.outcome != lastOutcome && !exchange.error.empty())
        printHidError(exchange);
    lastOutcome = exchange.outcome;
    status.outcome = exchange.outcome;
    if (exchange.outcome == Outcome::reply) {
        status.rpm = static_cast<std::uint16_t>(reply[0] | reply[1] << 8);
        status.mapSwitch = reply[2];
        status.valveAngle = reply[4];
        status.shifterSwitch = reply[10];
    }
    closeUnit(handle);
    return status;
}
