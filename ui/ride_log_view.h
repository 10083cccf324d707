// A ride log on the Table tab: Log… and Clear log, the log's name, the
// replay slider, and what the grid draws of it (two columns of the time
// spent at each row and a tint on the ignition cells). Nothing of a log
// reaches the maps, undo, the autosave, a file or the unit.
#pragma once

#include <FL/Enumerations.H>

#include <string>

class Fl_Widget;

// LOG MAP0 s and LOG MAP1 s, after the map columns while a log is shown.
constexpr int kLogColumns = 2;

// The log's name and the slider, into the Table tab being built.
void buildRideLogControls();

// Reads a log through the file chooser, whole or not at all: a refused
// file changes nothing and says why on the message line.
void onLoadLog(Fl_Widget*, void*);
void onClearLog(Fl_Widget*, void*);
// Shows the sample at the slider's time on the charts, in the grid and on
// the message line.
void onReplayMoved(Fl_Widget*, void*);

// For the grid: a log column's title, its text at a row (one decimal,
// empty for none), and the tint of the ignition cell of a map at a row by
// its share of the busiest cell (white without a log).
const char* logColumnTitle(int map);
std::string logCellText(int row, int map);
Fl_Color logTint(int row, int map);
