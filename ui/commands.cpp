// STUB
#include "commands.h"
void onFileOpen(Fl_Widget*, void*) {}
void onFileSave(Fl_Widget*, void*) {}
void onDeviceRead(Fl_Widget*, void*) {}
void onDeviceWrite(Fl_Widget*, void*) {}
