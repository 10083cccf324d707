// What Device Read and Device Write do around the transfers, for the window
// and the command line alike: the refusals, the restore points, the
// read-back and its comparison with what was sent. Boxes go through the
// seam, progress lines to the record's log.
#pragma once

#include <string>

#include "cdi_device.h"
#include "map_table.h"

// A configuration no unit may be given: a pulse type other than 1 or 2, or
// a pickup position of 0. Shows the box that says why and returns true.
bool refuseUnsafeWrite(const ConfigBlock& config);

// readDeviceMaps on the record's open handle, and when it succeeded the
// image kept as a restore point; a log line says where it went, or that it
// could not be kept. `restorePoint` gets its path. 1 when the read succeeded.
int readKeepingRestorePoint(CdiDevice& device, MapTable& ignition, MapTable& valve, std::string& restorePoint);

struct WriteReport {
    bool readBackRan = false;  // the tables and record now hold the read-back
    std::string beforeWrite;   // the restore point of what the unit held
    std::string afterWrite;
};

// Device Write once the user said yes, on the record's open handle: reads
// the whole unit and keeps it as a restore point (nothing is written unless
// both worked); writes both tables and the record's named configuration
// fields over the unit's own configuration bytes; reads everything back
// into the tables and the record, keeps that too, and compares it with what
// was sent. 1 when the unit holds exactly what was sent.
int writeKeepingRestorePoints(CdiDevice& device, MapTable& ignition, MapTable& valve, WriteReport& report);
