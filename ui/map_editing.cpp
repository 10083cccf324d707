// STUB
#include "map_editing.h"
#include "my_chart.h"
void MyChart::spread(int) {}
void onMapSelect(Fl_Widget*, void*) {}
void onValueUp(Fl_Widget*, void*) {}
void onValueDown(Fl_Widget*, void*) {}
void onCursorLeft(Fl_Widget*, void*) {}
void onCursorRight(Fl_Widget*, void*) {}
