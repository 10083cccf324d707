// Hooks between the simulated unit and its control file; internal to sim/.
// The unit calls them with its lock held.
#pragma once

#include <optional>
#include <string>

#include "sim_unit.h"

namespace sim::detail {

// At every hid_enumerate and hid_open: reload the watched control file and
// the memory image when their contents changed.
void refreshFromControlFile();
// After the unit stored a written block: write the memory image back.
void afterBlockWrite();
// Every request handed to hid_write, for the request log file.
void logRequest(const Request& request);
// Forget the watched file, the memory image and the request log.
void resetControlFile();

void restartExchangeCount();

// What the unit remembers of its control file and memory image, for a
// shared unit to share.
struct SharedControl {
    bool& seen;
    std::optional<std::string>& text;
    std::optional<std::string>& image;
};
SharedControl sharedControl();

}  // namespace sim::detail
