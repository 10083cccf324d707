// The plain-text .cdi map file and the autosave file kept beside it.
#pragma once

// 1 when the file was written, else 0. Appends ".cdi" where it is missing.
int saveMapFile(const char* path);

// 1 when the file was read through its "rev_limit" line, else 0; a load that
// fails changes nothing.
int loadMapFile(const char* path);

// Called after a load has applied a file; start-up binds it to the option
// controls' refresh. Null means nothing to call.
extern void (*onConfigChanged)();

// The temporary directory followed by "autosaved.cdi"; empty when the
// directory is unknown or the path does not fit.
extern char autosavePath[1024];

void buildAutosavePath();
void loadAutosave();  // at start-up; a missing file changes nothing
void saveAutosave();  // when the window closes; a failure is not reported
