// The half-second status poll: asks the device link for one status run and
// shows it in the Device tab's read-out fields, repainting only a field
// whose text or colour changed; skipped while another program has the unit.
#include "device_status.h"

#include <FL/Fl.H>
#include <FL/Fl_Output.H>

#include <cstring>
#include <optional>
#include <string>

#include "hid_link.h"
#include "main_window.h"
#include "ride_recorder.h"
#include "status_poll.h"
#include "unit_lock.h"

namespace {
// When the poll last let go of a lock kept for a late reply, on the
// exchange's clock; a clock set back since (a test's) ends the turn.
std::optional<long long> letGoAtMs;

bool othersTurn()
{
    const long long since = exchangeClockMs() - letGoAtMs.value_or(0);
    return letGoAtMs && since >= 0 && since < kTurnForOthersMs;
}

void show(Fl_Output* field, const char* text)
{
    if (std::strcmp(field->value(), text) == 0)
        return;
    field->value(text);
    field->redraw();
}

// The background first, so the field never shows the new text on the old
// colour.
void show(Fl_Output* field, const char* text, Fl_Color colour)
{
    if (field->color() != colour) {
        field->color(colour);
        field->redraw();
    }
    show(field, text);
}

void showIdentity(Fl_Output* field, const std::optional<std::string>& text)
{
    if (text)
        show(field, text->c_str());
}
}  // namespace

void (*onStatusShown)() = nullptr;

void showUnitStatus(const UnitStatus& status)
{
    if (status.enumerated) {
        // A string the unit does not give leaves its field as it was.
        showIdentity(widgets.manufacture, status.manufacturer);
        showIdentity(widgets.product, status.product);
    } else {
        show(widgets.manufacture, "");
        show(widgets.product, "");
    }

    // The switch fields keep their last colour whenever their texts go.
    if (!status.opened) {
        for (Fl_Output* field : {widgets.mapSwitch, widgets.quickShifterSwitch, widgets.rpm,
                                 widgets.valveAngle, widgets.picDevId, widgets.revId})
            show(field, "");
        if (onStatusShown)
            onStatusShown();
        return;
    }
    if (status.outcome == Outcome::reply) {
        // Colour indices 223 (FL_CYAN) and 248 (FL_MAGENTA).
        if (status.mapSwitch != 0)
            show(widgets.mapSwitch, "MAP1", FL_CYAN);
        else
            show(widgets.mapSwitch, "MAP0", FL_MAGENTA);
        if (status.shifterSwitch != 0)
            show(widgets.quickShifterSwitch, "QSSW OFF", FL_MAGENTA);
        else
            show(widgets.quickShifterSwitch, "QSSW ON", FL_CYAN);
        show(widgets.rpm, std::to_string(status.rpm).c_str());
        show(widgets.valveAngle, std::to_string(status.valveAngle).c_str());
        recordStatus(status);
    } else if (status.outcome != Outcome::skipped) {
        // Values that did not come are not shown as if they were live.
        for (Fl_Output* field : {widgets.mapSwitch, widgets.quickShifterSwitch, widgets.rpm, widgets.valveAngle})
            show(field, "");
    }
    // The unit reports no ids of its own; an open unit always shows these.
    show(widgets.picDevId, "00");
    show(widgets.revId, "00");
    if (onStatusShown)
        onStatusShown();
}

void pollStatus(void*)
{
    // While another program talks to the unit, its replies would land in
    // the poll's handle and the poll's in its: the tick is skipped and the
    // fields stay as they are. A reply still owed to this program keeps the
    // lock across ticks, which skip; the first tick after it can no longer
    // come lets the lock go and sends nothing. Sending at that moment
    // instead could keep the lock from a waiting program for ever.
    if (unitLockLingers()) {
        if (settleUnitLock(false))
            letGoAtMs = exchangeClockMs();
    } else if (!othersTurn()) {
        // A unit that cannot be locked counts as one that cannot be opened.
        UnitLock lock;
        if (takeUnitLock(lock, 0) != LockResult::busy)
            showUnitStatus(queryUnitStatus());
    }
    Fl::repeat_timeout(0.5, pollStatus);
}
