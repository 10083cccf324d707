// The simulated unit as every device test starts it.
#include "support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <hidapi.h>

#include "hid_link.h"
#include "sim_unit.h"
#include "unit_lock.h"

void resetUnitOnVirtualTime()
{
    sim::reset();
    sim::setVirtualTime(true);
    setExchangeClock(sim::clockMs, sim::advanceMs);
    // No reply is owed on the new clock: a lock an earlier test kept for one goes.
    settleUnitLock(false);
}

#ifndef _WIN32
OtherProgramsLock::OtherProgramsLock()
{
    hid_free_enumeration(hid_enumerate(CDI_VENDOR_ID, CDI_PRODUCT_ID));  // makes the node
    fd_ = open(sim::nodePath().c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0) << sim::nodePath();
}

OtherProgramsLock::~OtherProgramsLock()
{
    close(fd_);
}
#endif
