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

// The pickup field's text into the pickup byte when it is a whole number
// 1..255. Anything else is refused: the byte stays, the field shows it
// again, and with `beepOnRefusal` an error beep says so. True when taken.
bool commitPickupField(bool beepOnRefusal);
