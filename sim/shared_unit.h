// One simulated unit for every process that opens it, as a device is: the
// preload library keeps the unit's state (memory, exchange count, every
// open handle's queue, the replies on their way) in a file beside the
// control file, read and written back under a lock of its own around every
// hidapi call. The in-process unit of the tests keeps all of it to itself.
// Internal to sim/.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "sim_unit.h"

namespace sim::detail {

// What the unit keeps of one open handle, in whichever process.
struct Port {
    long pid = 0;                 // the process that holds it
    bool dead = false;            // used while the unit was unplugged
    bool readFailPending = false;
    std::deque<Report> queue;
};

// A reply on its way: it lands, when it arrives, in every handle open then,
// but for one that is to lose it (0: none).
struct InFlight {
    Report report;
    long long arrivesUs;  // on the unit's clock
    std::uint64_t except;
};

// The parts of the unit every process shares.
struct SharedFields {
    std::uint64_t& nextId;
    int& exchanges;
    Memory& memory;
    std::map<std::uint64_t, Port>& ports;
    std::deque<InFlight>& inFlight;
    bool& controlSeen;                          // the control file looked at once
    std::optional<std::string>& controlText;    // as last applied; null while missing
    std::optional<std::string>& image;          // the memory image as last loaded or written
};
SharedFields sharedFields();  // sim_unit.cpp

// How often a read that waits looks for a reply another process's request
// brought.
constexpr long long kSharedLookUs = 2000;

// Held around every hidapi call: loads the shared state on entering and
// writes it back on leaving. Does nothing in the in-process unit.
class SharedSession {
public:
    SharedSession() { enter(); }
    ~SharedSession() { leave(); }
    SharedSession(const SharedSession&) = delete;
    SharedSession& operator=(const SharedSession&) = delete;

    bool active() const { return fd_ != -1; }
    void enter();
    void leave();

private:
    int fd_ = -1;
};

// The control file the preload library follows (KVZ_SIM_UNIT); empty in
// the in-process unit until a test watches one.
const std::string& watchedControlFile();

// The file the unit's path names: the control folder's unit.node for the
// shared unit, a file of the process's own in the temporary folder for the
// in-process one.
std::string sharedNodePath();
std::string inProcessNodePath();

long processId();

}  // namespace sim::detail
