// The simulated ignition unit, driven in-process by the tests. It stands in
// for the hidapi library: the program's device code calls hid_* exactly as
// it would with a real unit, and this unit answers.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Request = std::array<std::uint8_t, 65>;  // as handed to hid_write
using Memory = std::array<std::uint8_t, 32 * 32>;  // 32 blocks x 32 bytes

// Faults, each off when 0 (exchanges and blocks count from 1 and 0 here:
// `exchange` is the 1-based count of block requests, read or write, since
// the last reset; status requests are not counted).
struct Faults {
    bool absent = false;          // not on the bus: enumeration empty, open fails
    bool openFails = false;       // enumerated, but hid_open returns null
    int writeFailsAt = 0;         // hid_write returns -1 at this exchange
    int readFailsAt = 0;          // hid_read_timeout returns -1 after this exchange
    int noReplyAt = 0;            // the unit does not answer this exchange
    int wrongEchoAtBlock = -1;    // a write to this block is echoed with one byte changed
    int replyDelayMs = 0;         // every reply arrives this late
    bool statusWriteFails = false; // hid_write of a status request returns -1
    bool statusNoReply = false;   // status requests get no reply
};

struct Status {
    std::uint16_t rpm = 0;
    std::uint8_t mapSwitch = 0;    // reply byte 2
    std::uint8_t valveAngle = 0;   // reply byte 4
    std::uint8_t shifterSwitch = 1; // reply byte 10: 0 = on
};

// Plugged in, answering, memory all zero, no faults, default identity
// ("KVZ Electronics" / "KVZ-CDI"), no handle open, logs empty.
void reset();

Faults& faults();
Status& status();
Memory& memory();
std::uint8_t* block(int number);  // 32 bytes of memory

// Identity strings; a null pointer makes the string null in the enumeration.
void setIdentity(const wchar_t* manufacturer, const wchar_t* product);

// Every request written to any handle since the reset, status ones included.
const std::vector<Request>& requests();
// Block requests only (command 0x80 or 0x82), in order.
std::vector<Request> blockRequests();

int openHandles();   // handles opened and not yet closed
int opens();         // hid_open calls that returned a handle since the reset

// Replays a control file (see sim/README) into the unit: faults, status,
// identity and, if named, the memory image. Returns false when unreadable.
bool loadControlFile(const std::string& path);

}  // namespace sim
