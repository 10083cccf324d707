// STUB
#include "main_window.h"
void refreshOptionWidgets() {}
void onSliderChanged(Fl_Widget*, void*) {}
void onSwitchChanged(Fl_Widget*, void*) {}
void onPulseTypeChanged(Fl_Widget*, void*) {}
void onPickupChanged(Fl_Widget*, void*) {}
