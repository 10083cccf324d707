// The option controls and the configuration block, kept in step both ways.
// Each control-to-block callback stores only low bytes; the refresh shows the
// bytes as they stand, unclamped. Setting widget values fires no callback.
#include "option_bindings.h"

#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Value_Slider.H>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "cdi_device.h"
#include "main_window.h"

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

    char text[4];
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(config.pickupDeg));
    widgets.pickup->value(text);

    widgets.reverseSwitch->value(config.qsReverse != 0 ? 1 : 0);
    widgets.stopSwitch->value(config.qsStopSwitch != 0 ? 1 : 0);
}

// All five at once, whichever slider moved.
void onSliderChanged(Fl_Widget*, void*)
{
    ConfigBlock& config = cdiDevice.config;
    config.qsEnablePoint = lowByte(widgets.enablePoint->value());
    config.qsDelayCount = lowByte(widgets.delayCount->value());
    config.qsCutCount = lowByte(widgets.cutCount->value());
    config.qsInvalidCount = lowByte(widgets.invalidCount->value());
    config.revLimit = lowByte(widgets.revLimit->value());
}

// Both flags on every call, whichever button was toggled.
void onSwitchChanged(Fl_Widget*, void*)
{
    cdiDevice.config.qsReverse = widgets.reverseSwitch->value() ? 1 : 0;
    cdiDevice.config.qsStopSwitch = widgets.stopSwitch->value() ? 1 : 0;
}

void onPulseTypeChanged(Fl_Widget*, void*)
{
    const int type = 2 * (widgets.twoPulse->value() ? 1 : 0) + (widgets.onePulse->value() ? 1 : 0);
    applyEnginePreset(static_cast<std::uint8_t>(type));
    refreshOptionWidgets();
}

// The decimal value of the text as atoi reads it (blanks, a sign, digits up
// to the first other character; none gives 0), but through strtol, whose
// overflow is defined: past the range of long it gives LONG_MAX or LONG_MIN,
// so the stored byte is then 255 or 0. The text stays as typed.
void onPickupChanged(Fl_Widget*, void*)
{
    const long value = std::strtol(widgets.pickup->value(), nullptr, 10);
    cdiDevice.config.pickupDeg = static_cast<std::uint8_t>(static_cast<unsigned long>(value) & 0xFF);
}
