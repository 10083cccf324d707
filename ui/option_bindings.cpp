// The option controls and the configuration block, kept in step both ways.
// The sliders store low bytes and the pickup field takes only 1..255; the
// refresh shows the bytes as they stand, unclamped. Setting widget values
// fires no callback.
#include "option_bindings.h"

#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Value_Slider.H>

#include <cstdint>
#include <cstdio>

#include "cdi_device.h"
#include "dialogs.h"
#include "main_window.h"
#include "undo_redo.h"

namespace {
// A whole number 1..255 in decimal, blanks around it allowed. The pickup
// position is the codec's reference angle: 0 would send full advance at
// every rpm, and a value cut to its low byte is not what was typed.
bool parsePickup(const char* text, std::uint8_t& degrees)
{
    while (*text == ' ' || *text == '\t')
        ++text;
    unsigned value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9' && value <= 255; ++text, ++digits)
        value = value * 10 + static_cast<unsigned>(*text - '0');
    while (*text == ' ' || *text == '\t')
        ++text;
    if (*text != '\0' || digits == 0 || value < 1 || value > 255)
        return false;
    degrees = static_cast<std::uint8_t>(value);
    return true;
}

void showPickup()
{
    char text[4];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(cdiDevice.config.pickupDeg));
    widgets.pickup->value(text);
}
}  // namespace

void refreshOptionWidgets()
{
    const ConfigBlock& config = cdiDevice.config;
    widgets.enablePoint->value(config.qsEnablePoint);
    widgets.delayCount->value(config.qsDelayCount);
    widgets.cutCount->value(config.qsCutCount);
    widgets.invalidCount->value(config.qsInvalidCount);
    widgets.revLimit->value(config.revLimit);

    const bool onePulse = config.pulseType == 1;
    widgets.onePulse->value(onePulse ? 1 : 0);
    widgets.twoPulse->value(onePulse ? 0 : 1);

    showPickup();

    widgets.reverseSwitch->value(config.qsReverse != 0 ? 1 : 0);
    widgets.stopSwitch->value(config.qsStopSwitch != 0 ? 1 : 0);
}

// All five at once, whichever slider moved.
void onSliderChanged(Fl_Widget* control, void*)
{
    ConfigBlock& config = cdiDevice.config;
    config.qsEnablePoint = lowByte(widgets.enablePoint->value());
    config.qsDelayCount = lowByte(widgets.delayCount->value());
    config.qsCutCount = lowByte(widgets.cutCount->value());
    config.qsInvalidCount = lowByte(widgets.invalidCount->value());
    config.revLimit = lowByte(widgets.revLimit->value());
    recordOptionChange(control);
}

// Both flags on every call, whichever button was toggled.
void onSwitchChanged(Fl_Widget* control, void*)
{
    cdiDevice.config.qsReverse = widgets.reverseSwitch->value() ? 1 : 0;
    cdiDevice.config.qsStopSwitch = widgets.stopSwitch->value() ? 1 : 0;
    recordOptionChange(control);
}

void onPulseTypeChanged(Fl_Widget* control, void*)
{
    const int type = 2 * (widgets.twoPulse->value() ? 1 : 0) + (widgets.onePulse->value() ? 1 : 0);
    applyEnginePreset(static_cast<std::uint8_t>(type));
    refreshOptionWidgets();
    recordOptionChange(control);
}

bool commitPickupField(bool beepOnRefusal)
{
    std::uint8_t degrees = 0;
    if (parsePickup(widgets.pickup->value(), degrees)) {
        cdiDevice.config.pickupDeg = degrees;
        return true;
    }
    if (beepOnRefusal)
        dialogs.errorBeep();
    showPickup();
    return false;
}

void onPickupChanged(Fl_Widget* control, void*)
{
    commitPickupField(true);
    recordOptionChange(control);
}
