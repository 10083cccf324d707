// The simulated ignition unit. It stands in for the hidapi library: the
// program's device code calls hid_* exactly as it would with a real unit,
// and this unit answers from 32 blocks of 32 bytes of its own memory.
// Tests drive it in-process through this interface; the preload library
// drives it from a control file (see sim/README.md).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Request = std::array<std::uint8_t, 65>;  // as handed to hid_write
using Report = std::array<std::uint8_t, 64>;   // as hid_read delivers it
using Memory = std::array<std::uint8_t, 32 * 32>;  // 32 blocks x 32 bytes

constexpr unsigned short kVendorId = 0x04D8;
constexpr unsigned short kProductId = 0x003C;
constexpr int kBlocks = 32;
constexpr int kBlockSize = 32;
constexpr int kQueueLimit = 64;  // reports kept per handle, as hidraw does

// Faults, each off when 0 (or false, or -1 for the block). `exchange` is the
// 1-based count of block requests (command 0x80 or 0x82) handed to hid_write
// since the last reset or control-file load, failed writes included; status
// requests are not counted, so the poll never shifts a fault.
struct Faults {
    bool absent = false;          // not on the bus: enumeration empty, open fails,
                                  // handles already open fail for good
    bool openFails = false;       // enumerated, but hid_open returns null
    bool nodeMissing = false;     // enumerated, but its path names no file: the
                                  // node cannot be opened, nor hid_open_path
    int writeFailsAt = 0;         // hid_write returns -1 at this exchange; the
                                  // unit never sees the request
    int readFailsAt = 0;          // the unit acts on this exchange, but the next
                                  // read on the writing handle returns -1 and
                                  // that handle never gets the reply
    int noReplyAt = 0;            // the unit acts on this exchange but never answers
    int wrongEchoAtBlock = -1;    // every write to this block is stored as sent
                                  // but echoed with reply byte 4 inverted
    int storesWrongAtBlock = -1;  // every write to this block is echoed as sent
                                  // but stored with its first byte inverted
    int replyDelayMs = 0;         // every reply (status too) arrives this late
    int statusReplyDelayMs = -1;  // status replies arrive this late instead
                                  // (-1: as every reply)
    int replyLength = 64;         // bytes a read delivers of each reply (1..64)
    bool statusWriteFails = false; // hid_write of a status request returns -1
    bool statusReadFails = false;  // the read after a status request returns -1
    bool statusNoReply = false;    // status requests get no reply
};

// What the status reply reports.
struct LiveStatus {
    std::uint16_t rpm = 0;          // reply bytes 0-1, little-endian
    std::uint8_t mapSwitch = 0;     // reply byte 2: 0 = map 0
    std::uint8_t valveAngle = 0;    // reply byte 4
    std::uint8_t shifterSwitch = 1; // reply byte 10: 0 = on
    bool rpmSweep = false;          // rpm runs up and down on the unit's clock
    bool valveFollowsMap = false;   // valve angle = the active power-valve map
                                    // (memory blocks 20-24 or 25-29) at the rpm
};

// The sweep: a triangle from low to high and back, once per period.
constexpr std::uint16_t kSweepLowRpm = 1000;
constexpr std::uint16_t kSweepHighRpm = 12500;
constexpr long long kSweepPeriodMs = 16000;
std::uint16_t sweepRpm(long long clockMs);

// Plugged in, answering, memory all zero, no faults, default identity
// ("KVZ Electronics" / "KVZ-CDI"), no handle open, logs and counts empty,
// real time, no control file watched or memory image bound.
void reset();

Faults& faults();
LiveStatus& status();
Memory& memory();
std::uint8_t* block(int number);  // 32 bytes of memory; null outside 0..31

// The path the enumeration gives, which names a file while the node is not
// missing, so that it can be opened and locked as a device node: a file of
// the process's own in the temporary folder, or for the preload library's
// unit, shared by every process, unit.node beside its control file.
std::string nodePath();

// Identity strings; a null pointer makes the string null in the enumeration.
void setIdentity(const wchar_t* manufacturer, const wchar_t* product);

// Every request handed to hid_write on a handle of the unit since the reset,
// status ones and failed ones included.
const std::vector<Request>& requests();
// Block requests only (command 0x80 or 0x82), in order: element N-1 is
// exchange N.
std::vector<Request> blockRequests();
int exchanges();     // block requests since the reset or control-file load

int openHandles();   // handles opened and not yet closed
int opens();         // hid_open calls that returned a handle since the reset
int strayCloses();   // hid_close calls on a handle that was not open

// Time. Real by default: reads sleep until a reply arrives or the timeout
// passes. Virtual time makes every wait return at once with the clock moved
// on by what the wait would have taken, so a "no reply" costs nothing.
void setVirtualTime(bool on);
void advanceMs(long long ms);  // virtual time only; ignored in real time
long long clockMs();           // the unit's clock, ms since the reset

// hid_read blocks until a report arrives. The unit only ever answers a
// request, so on an empty queue nothing can come unless another thread
// writes; after this long (default 5000 ms) hid_read gives up and returns 0.
void setBlockingReadLimitMs(int ms);

// Replays a control file (sim/README.md) into the unit once: every setting
// it names or leaves at its default, the identity and, if it names one, the
// memory image, which from then on is written back after every block write.
// Restarts the exchange count. Returns false, changing nothing, when the
// file is unreadable or has an error (reported on standard error).
bool loadControlFile(const std::string& path);

// Loads the control file now and again whenever its contents change, checked
// at every hid_enumerate and hid_open; the memory image likewise. A missing
// file means the unit is unplugged. An empty path stops watching.
void watchControlFile(const std::string& path);

}  // namespace sim
