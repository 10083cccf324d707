// The maps and options as CSV, for a spreadsheet:
//   rpm,ign_map0,ign_map1,pv_map0,pv_map1
//   0,0.000000,...            160 rows, rpm = point x 100, values as %f
//                             an empty line
//   QS-RPM,120                the nine option lines, the .cdi keys in .cdi
//   ...                       order; the last four may be missing on import
// LF written; LF or CR LF read; no quoting.
#pragma once

#include <cstdio>
#include <string>

#include "cdi_device.h"
#include "map_file.h"
#include "map_table.h"

// False when a line could not be written.
bool writeMapCsv(std::FILE* file, const MapTable& ignition, const MapTable& valve, const ConfigBlock& config);

// Reads the text of such a file into the record the map file loader fills,
// to be applied by its rules. 1 when every line is as written above (a
// UTF-8 byte order mark and empty lines at the end allowed), every rpm is
// its row's, every value finite; else 0, and `why` (when given) says what
// is wrong: "line 12: not a number". Changes no table.
int parseMapCsv(const std::string& text, MapFileRecord& record, std::string* why = nullptr);
