// STUB: replaced by the .cdi file format.
#include "map_file.h"
void (*onConfigChanged)() = nullptr;
char autosavePath[1024] = {};
int saveMapFile(const char*) { return 0; }
int loadMapFile(const char*) { return 0; }
void buildAutosavePath() {}
void loadAutosave() {}
void saveAutosave() {}
