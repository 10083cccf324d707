// The simulated unit as every device test starts it.
#include "support.h"

#include "hid_link.h"
#include "sim_unit.h"

void resetUnitOnVirtualTime()
{
    sim::reset();
    sim::setVirtualTime(true);
    setExchangeClock(sim::clockMs);
}
