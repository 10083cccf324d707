// Map selection, cursor moves and value steps on the two charts.
#pragma once

class Fl_Widget;

void onMapSelect(Fl_Widget*, void*);
void onValueUp(Fl_Widget*, void*);
void onValueDown(Fl_Widget*, void*);
void onCursorLeft(Fl_Widget*, void*);
void onCursorRight(Fl_Widget*, void*);
