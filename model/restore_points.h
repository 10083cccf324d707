// Restore points: every whole-unit read kept on disk, as the raw image and
// as a .cdi file of the same name, so a tuner can always go back to what
// the unit held.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "unit_image.h"

// Keeps `image` in $XDG_DATA_HOME/kvz-cdi/backups/ (default
// ~/.local/share/kvz-cdi/backups/; %LOCALAPPDATA%\kvz-cdi\backups\ on
// Windows), made private when missing, as YYYYMMDD-HHMMSS-KIND.bin (UTC,
// `when`; "-2", "-3" ... added while the name is taken), block 0 first, and
// a .cdi of the same name decoded as a read decodes it, with its fix-ups.
// Both are private and written whole before they appear; none is ever
// replaced. `path` gets the .bin's path, or on failure the folder (with no
// separator at its end). KIND is
// "read", "before-write" or "after-write".
bool keepRestorePoint(const UnitImage& image, const char* kind, std::time_t when, std::string& path);

// Where keepRestorePoint puts them, without making or looking at anything.
// False when the user has no data folder.
bool restorePointFolderPath(std::string& dir);

// The images of the restore points, newest first: by the time in their
// names, then by when they were written. Empty when there is no folder.
std::vector<std::string> listRestorePoints();
