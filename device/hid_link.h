// How the unit is found and addressed, and what its status reply says.
#pragma once

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

// Background colours of the switch fields, as the toolkit's colour indices.
constexpr unsigned STATUS_CYAN = 223;
constexpr unsigned STATUS_MAGENTA = 248;

// The first unit on the bus, or null when none can be opened.
hid_device* openUnit();
void closeUnit(hid_device* handle);

// What one status poll does to one read-out field of the Device tab:
// nothing when `set` is false; a `colour` of 0 keeps the background.
struct FieldUpdate {
    bool set = false;
    std::string text;
    unsigned colour = 0;
};

// The eight read-out fields, in the order the poll updates them.
struct StatusUpdate {
    FieldUpdate manufacture;
    FieldUpdate product;
    FieldUpdate mapSwitch;
    FieldUpdate quickShifterSwitch;
    FieldUpdate rpm;
    FieldUpdate valveAngle;
    FieldUpdate picDevId;
    FieldUpdate revId;
};

// One status exchange on a handle of its own, opened and closed here.
StatusUpdate queryUnitStatus();
