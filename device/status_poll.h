// One run of the status poll: the unit's identity from the enumeration and
// its live state from one status exchange on a short-lived handle of the
// poll's own. The fields are the reply's; the window decides how they look.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hid_link.h"

// The first unit on the bus as the enumeration describes it.
struct UnitIdentity {
    // Its strings as UTF-8; empty where hidapi gave none.
    std::optional<std::string> manufacturer;
    std::optional<std::string> product;
    unsigned short vendorId = 0;
    unsigned short productId = 0;
    unsigned short release = 0;  // binary-coded decimal, 0x0100 is 1.00
};

// Enumerates only: nothing is sent to the unit.
std::optional<UnitIdentity> findUnit();

struct UnitStatus {
    bool enumerated = false;
    // The first unit's strings as UTF-8; empty where hidapi gave none.
    std::optional<std::string> manufacturer;
    std::optional<std::string> product;

    bool opened = false;  // the poll's handle could be opened
    // What became of the status exchange, when opened. The live values
    // below are the reply's only when a whole reply came.
    Outcome outcome = Outcome::notSent;
    std::uint16_t rpm = 0;
    std::uint8_t mapSwitch = 0;      // 0 is map 0, anything else map 1
    std::uint8_t valveAngle = 0;
    std::uint8_t shifterSwitch = 0;  // 0 is on, anything else off
};

// The window waits this long for a status reply. It does not respond while
// the poll waits, and the poll runs twice a second, so the wait must stay
// short. The unit answers on its interrupt endpoint within a few
// milliseconds; 100 ms leaves ample room for a busy bus and still keeps an
// unanswering unit from freezing the window for more than a fifth of each
// period.
constexpr int kPollStatusTimeoutMs = 100;

// Enumerates, opens, exchanges once and closes, waiting up to `timeoutMs`
// for the reply. The unit is opened only while the program holds its lock
// (unit_lock.h): without it the poll's handle counts as not opened. A late
// reply to an earlier request is not waited out: the exchange is skipped.
UnitStatus queryUnitStatus(int timeoutMs = kPollStatusTimeoutMs);
