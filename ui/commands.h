// The file and device commands of the Map tab.
#pragma once

class Fl_Widget;

// The box of a file that cannot be opened or written.
extern const char kFileError[];

void onFileOpen(Fl_Widget*, void*);
void onFileSave(Fl_Widget*, void*);
void onDeviceRead(Fl_Widget*, void*);
void onDeviceWrite(Fl_Widget*, void*);
