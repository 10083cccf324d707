// The option controls and the configuration block, kept in step both ways.
#pragma once

class Fl_Widget;

// Configuration block into the option controls; fires no callback.
void refreshOptionWidgets();

// Option controls into the configuration block.
void onSliderChanged(Fl_Widget*, void*);
void onSwitchChanged(Fl_Widget*, void*);
void onPulseTypeChanged(Fl_Widget*, void*);
void onPickupChanged(Fl_Widget*, void*);
