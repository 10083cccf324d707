// The file and device commands of the Map tab.
#pragma once

class Fl_Widget;
struct ReadReport;

// The box of a file that cannot be opened or written.
extern const char kFileError[];

void onFileOpen(Fl_Widget*, void*);
// File Open's work once a file is chosen: loads it whole or not at all,
// then shows it and titles the window with it. False when it was refused,
// which the caller says.
bool openMapFile(const char* path);
void onFileSave(Fl_Widget*, void*);
void onDeviceRead(Fl_Widget*, void*);
void onDeviceWrite(Fl_Widget*, void*);

// The whole unit read under the program's lock as Device Read reads it,
// keeping its restore point, into report.image alone; a failure is told as
// Device Read tells it. True when read.
bool readUnitImage(ReadReport& report);
