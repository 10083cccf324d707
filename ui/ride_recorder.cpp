// The window's ride log recorder: the header names the program and the unit
// as found when recording starts; each reply shown becomes one whole row,
// flushed, so a crash or a pulled plug loses nothing already shown.
#include "ride_recorder.h"

#include <FL/Fl_Light_Button.H>

#include <ctime>
#include <optional>
#include <string>

#include "dialogs.h"
#include "main_window.h"
#include "ride_log.h"
#include "status_poll.h"

namespace {
RideRecording recording;

void logLine(const std::string& text)
{
    appendLog((text + "\n").c_str());
}

void showRecording(bool on)
{
    if (widgets.record && widgets.record->value() != on)
        widgets.record->value(on);
}
}  // namespace

void onRecord(Fl_Widget*, void*)
{
    if (!widgets.record->value()) {
        endRecording();
        return;
    }
    if (recording.file)
        return;
    // Enumerating sends nothing to the unit, so the poll's exchanges are untouched.
    const std::optional<UnitIdentity> unit = findUnit();
    const std::optional<std::string> name =
        unit ? std::optional<std::string>(unit->manufacturer.value_or("") + " " + unit->product.value_or(""))
             : std::nullopt;
    if (!startRideRecording(recording, std::time(nullptr), rideLogHeader("kvz-cdi", name))) {
        showRecording(false);
        dialogs.errorBox(("A ride log cannot be written in " + recording.path + ".").c_str());
        return;
    }
    logLine("Recording to " + recording.path);
}

void recordStatus(const UnitStatus& status)
{
    if (!recording.file)
        return;
    const LiveValues values =
        liveValues(status.rpm, status.valveAngle, status.mapSwitch, status.shifterSwitch);
    if (recordRideRow(recording, rideLogRow(rideLogTimeNow(), values)))
        return;
    showRecording(false);
    logLine("Recording stopped: " + recording.path + " cannot be written; it holds "
            + std::to_string(recording.rows) + " rows.");
}

void endRecording()
{
    if (!recording.file)
        return;
    const bool closed = endRideRecording(recording);
    showRecording(false);
    logLine((closed ? "Recorded " : "Recording ended, but closing failed: ") + recording.path + ", "
            + std::to_string(recording.rows) + (recording.rows == 1 ? " row." : " rows."));
}
