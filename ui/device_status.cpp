// The half-second status poll: asks the device link for one status run and
// shows the result in the Device tab's read-out fields.
#include "device_status.h"

#include <FL/Fl.H>
#include <FL/Fl_Output.H>

#include "hid_link.h"
#include "main_window.h"

namespace {
void show(Fl_Output* field, const FieldUpdate& update)
{
    if (!update.set)
        return;
    // The background first, so the field never shows the new text on the
    // old colour.
    if (update.colour != 0)
        field->color(static_cast<Fl_Color>(update.colour));
    field->value(update.text.c_str());
    field->redraw();
}
}

void pollStatus(void*)
{
    const StatusUpdate update = queryUnitStatus();
    show(widgets.manufacture, update.manufacture);
    show(widgets.product, update.product);
    show(widgets.mapSwitch, update.mapSwitch);
    show(widgets.quickShifterSwitch, update.quickShifterSwitch);
    show(widgets.rpm, update.rpm);
    show(widgets.valveAngle, update.valveAngle);
    show(widgets.picDevId, update.picDevId);
    show(widgets.revId, update.revId);
    Fl::repeat_timeout(0.5, pollStatus);
}
