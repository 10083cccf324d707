// The one main window: its three tabs built top to bottom in creation order,
// the log panel, and the window title.
#include "main_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Repeat_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Value_Slider.H>

#include <cstdio>
#include <cstring>

#include "commands.h"
#include "device_status.h"
#include "map_editing.h"
#include "map_grid.h"
#include "option_bindings.h"
#include "my_chart.h"
#include "ride_recorder.h"
#include "version.h"

Widgets widgets;

const char* const kProgramTitle = "KVZ-CDI v" KVZ_VERSION;

MyMsg::MyMsg(int x, int y, int w, int h, const char* label)
    : Fl_Multiline_Output(x, y, w, h, label)
{
}

MyMsg::~MyMsg() = default;

namespace {
// The read-out fields of the Device tab; the poll writes their text.
Fl_Output* makeReadout(int x, int y, int w, int h, const char* label, Fl_Align align)
{
    Fl_Output* o = new Fl_Output(x, y, w, h, label);
    o->color(23);
    o->labelsize(18);
    o->textsize(18);
    o->align(align);
    return o;
}

// A frame with its caption above it, drawn behind the widgets created after it.
void makeFrame(int x, int y, int w, int h, const char* label, Fl_Color colour)
{
    Fl_Box* o = new Fl_Box(x, y, w, h, label);
    o->box(FL_THIN_DOWN_FRAME);
    o->color(colour);
    o->labelsize(18);
    o->align(FL_ALIGN_TOP_LEFT);
}

// A small hint text without a box.
void makeNote(int x, int y, int w, int h, const char* label)
{
    Fl_Box* o = new Fl_Box(x, y, w, h, label);
    o->labelsize(12);
}

MyChart* makeChart(int x, int y, int w, int h, const char* label)
{
    MyChart* o = new MyChart(x, y, w, h, label);
    o->box(FL_UP_FRAME);
    o->color(1);
    o->selection_color(49);
    o->labeltype(FL_NORMAL_LABEL);
    o->labelfont(0);
    o->labelsize(18);
    o->labelcolor(0);
    o->align(FL_ALIGN_CENTER);
    o->when(FL_WHEN_RELEASE);
    return o;
}

Fl_Button* makeCommand(int y, const char* label, Fl_Callback* cb)
{
    Fl_Button* o = new Fl_Button(25, y, 120, 50, label);
    o->labelsize(18);
    o->callback(cb);
    return o;
}

Fl_Repeat_Button* makeRepeat(int x, int y, int w, int h, const char* label, int labelSize,
                             Fl_Callback* cb)
{
    Fl_Repeat_Button* o = new Fl_Repeat_Button(x, y, w, h, label);
    o->labelsize(labelSize);
    o->callback(cb);
    return o;
}

// Map 0 buttons light red and map 1 buttons blue, as the charts draw them.
Fl_Light_Button* makeMapButton(int y, const char* label, Fl_Color light)
{
    Fl_Light_Button* o = new Fl_Light_Button(15, y, 135, 50, label);
    o->type(FL_RADIO_BUTTON);
    o->selection_color(light);
    o->labelsize(18);
    o->align(FL_ALIGN_INSIDE);
    o->callback(onMapSelect);
    return o;
}

// The step is a whole number; setting the value here fires no callback.
Fl_Value_Slider* makeSlider(int x, int y, const char* label, double low, double high, int step,
                            double value)
{
    Fl_Value_Slider* o = new Fl_Value_Slider(x, y, 900, 60, label);
    o->type(FL_HOR_NICE_SLIDER);
    o->color(55);
    o->selection_color(1);
    o->labelsize(18);
    o->textsize(18);
    o->align(FL_ALIGN_TOP_LEFT);
    o->bounds(low, high);
    o->step(step);
    o->value(value);
    o->callback(onSliderChanged);
    return o;
}

Fl_Light_Button* makeSwitch(int x, int y, int w, int h, const char* label)
{
    Fl_Light_Button* o = new Fl_Light_Button(x, y, w, h, label);
    o->selection_color(1);
    o->labelsize(18);
    o->callback(onSwitchChanged);
    return o;
}

void buildDeviceTab()
{
    Fl_Group* tab = new Fl_Group(15, 50, 1235, 550, "&Device Inofomation");
    tab->labelsize(18);
    widgets.deviceTab = tab;

    makeFrame(30, 291, 475, 264, "Status", 8);
    makeFrame(30, 80, 475, 140, "Production name", 8);

    Fl_Group* engine = new Fl_Group(525, 80, 480, 131, "config: Engine type");
    engine->box(FL_THIN_DOWN_FRAME);
    engine->color(0);
    engine->labelsize(18);
    engine->align(FL_ALIGN_TOP_LEFT);
    {
        Fl_Round_Button* o = new Fl_Round_Button(545, 105, 209, 30, "1 pulse in one rotation");
        o->type(FL_RADIO_BUTTON);
        o->down_box(FL_ROUND_DOWN_BOX);
        o->labelsize(18);
        o->callback(onPulseTypeChanged);
        widgets.onePulse = o;
    }
    {
        Fl_Round_Button* o = new Fl_Round_Button(770, 105, 209, 30, "2 pulse in one rotation");
        o->type(FL_RADIO_BUTTON);
        o->down_box(FL_ROUND_DOWN_BOX);
        o->labelsize(18);
        o->value(1);
        o->callback(onPulseTypeChanged);
        widgets.twoPulse = o;
    }
    engine->end();

    {
        MyMsg* o = new MyMsg(525, 245, 477, 289, "Log:");
        o->type(FL_MULTILINE_OUTPUT);
        o->box(FL_DOWN_BOX);
        o->color(0);  // light text on a dark field
        o->selection_color(15);
        o->labeltype(FL_NORMAL_LABEL);
        o->labelfont(0);
        o->labelsize(18);
        o->labelcolor(0);
        o->textsize(12);
        o->textcolor(7);
        o->align(FL_ALIGN_TOP_LEFT);
        o->when(FL_WHEN_RELEASE);
        widgets.log = o;
    }

    widgets.manufacture = makeReadout(50, 110, 438, 30, "Manufacture", FL_ALIGN_TOP_LEFT);
    widgets.product = makeReadout(50, 171, 438, 30, "Product", FL_ALIGN_TOP_LEFT);
    widgets.mapSwitch = makeReadout(50, 317, 320, 30, "Map sw", FL_ALIGN_TOP_LEFT);
    widgets.quickShifterSwitch =
        makeReadout(50, 378, 320, 30, "Quick shifter sw", FL_ALIGN_TOP_LEFT);
    widgets.rpm = makeReadout(50, 439, 320, 30, "R.P.M.", FL_ALIGN_TOP_LEFT);
    widgets.valveAngle = makeReadout(50, 500, 320, 30, "Power valve angle", FL_ALIGN_TOP_LEFT);
    widgets.picDevId = makeReadout(120, 230, 116, 33, "PIC DevID", FL_ALIGN_LEFT);
    widgets.revId = makeReadout(333, 230, 116, 33, "RevID", FL_ALIGN_LEFT);

    // Inside the engine-type frame on screen, but a child of the tab.
    {
        Fl_Int_Input* o = new Fl_Int_Input(915, 168, 60, 33, "Pick up coil position");
        o->type(FL_INT_INPUT);
        o->labelsize(18);
        o->textsize(18);
        o->callback(onPickupChanged);
        widgets.pickup = o;
    }
    makeNote(530, 145, 410, 15,
             "NOTE:Crank case lead type must change pick up coil position by yourself.");

    // Beside the live values it writes down; Alt+R only, as a typed R is no command.
    {
        Fl_Light_Button* o = new Fl_Light_Button(385, 500, 105, 30, "&Record");
        o->labelsize(18);
        o->shortcut(FL_ALT | 'r');
        o->callback(onRecord);
        widgets.record = o;
    }
    tab->end();
}

void buildMapTab()
{
    Fl_Group* tab = new Fl_Group(15, 50, 1015, 550, "&Map Settings        ");
    tab->labelsize(18);
    widgets.mapTab = tab;

    widgets.ignitionChart = makeChart(160, 60, 640, 250, "Ignition");
    widgets.valveChart = makeChart(160, 320, 640, 250, "pvs");

    widgets.fileOpen = makeCommand(60, "File Open", onFileOpen);
    widgets.fileSave = makeCommand(120, "File Save", onFileSave);
    widgets.deviceRead = makeCommand(180, "Device Read", onDeviceRead);
    widgets.deviceWrite = makeCommand(240, "Device Write", onDeviceWrite);
    widgets.deviceWrite->color(5);  // the one command that changes the unit

    widgets.valueUp = makeRepeat(810, 60, 205, 140, "UP(&l)", 24, onValueUp);
    widgets.valueDown = makeRepeat(810, 417, 205, 150, "DOWN(&k)", 24, onValueDown);
    widgets.cursorLeft = makeRepeat(810, 207, 100, 200, "<<(&,)", 24, onCursorLeft);
    widgets.cursorRight = makeRepeat(915, 207, 100, 200, "(&.)>>", 25, onCursorRight);

    widgets.ignMap0 = makeMapButton(325, "IGN MAP0(&1)", 1);
    widgets.ignMap1 = makeMapButton(385, "IGN MAP1(&2)", 4);
    widgets.pvsMap0 = makeMapButton(445, "PVS MAP0(&3)", 1);
    widgets.pvsMap1 = makeMapButton(505, "PVS MAP1(&4)", 4);
    tab->end();
    tab->hide();
}

void buildOptionsTab()
{
    Fl_Group* tab = new Fl_Group(15, 50, 1000, 550, "&Option Settings        ");
    tab->labelsize(18);
    widgets.optionsTab = tab;

    widgets.revLimit = makeSlider(45, 75, "Rev limitter(r.p.m.)", 80, 160, 5, 120);
    makeFrame(45, 161, 935, 415, "Quick shifter", 24);
    widgets.enablePoint = makeSlider(65, 185, "Enable point(r.p.m.)", 40, 155, 5, 120);
    widgets.delayCount =
        makeSlider(65, 276, "Delay count  to activation(pick-up count)", 0, 10, 1, 1);
    widgets.cutCount = makeSlider(65, 367, "Count of ignition cuts(pick-up count)", 1, 50, 1, 12);
    widgets.invalidCount =
        makeSlider(65, 458, "Count of Invalid after activation(pick-up count)", 50, 200, 5, 100);

    widgets.reverseSwitch = makeSwitch(496, 524, 227, 48, "Reverse on/off state");
    widgets.stopSwitch = makeSwitch(733, 521, 227, 51, "Use as stop switch");

    makeNote(715, 164, 250, 21, "R.P.M. at quick shifter enabled. default is 70.");
    makeNote(620, 255, 345, 21,
             "Number of times until the ignition turns off after switching on.");
    makeNote(740, 346, 220, 21, "Number of times to turn off the ignition.");
    tab->end();
    tab->hide();
}
}  // namespace

Fl_Double_Window* buildMainWindow()
{
    Fl_Double_Window* window = new Fl_Double_Window(1028, 600);
    window->color(55);
    widgets.window = window;

    // Wider than the window on purpose; the part past its right edge never shows.
    Fl_Tabs* tabs = new Fl_Tabs(0, 0, 1250, 600);
    tabs->labeltype(FL_NO_LABEL);
    tabs->labelsize(18);
    widgets.tabs = tabs;
    buildDeviceTab();
    buildMapTab();
    buildOptionsTab();
    buildTableTab();
    tabs->end();
    onStatusShown = showEngineSpeed;

    window->end();
    window->resizable(window);
    return window;
}

// A title that would not fit the 1023 characters keeps the prefix and the
// end of the text behind "...", so the file name of a long path stays in
// view; the cut is moved forward past UTF-8 continuation bytes so no
// character is split.
void setWindowTitle(const char* text)
{
    static const char kSeparator[] = " - ";
    static const char kEllipsis[] = "...";
    char title[1024];
    const std::size_t room =
        sizeof title - 1 - std::strlen(kProgramTitle) - (sizeof kSeparator - 1);
    const std::size_t length = std::strlen(text);
    const char* mark = "";
    if (length > room) {
        mark = kEllipsis;
        text += length - (room - (sizeof kEllipsis - 1));
        while ((static_cast<unsigned char>(*text) & 0xC0) == 0x80)
            ++text;
    }
    std::snprintf(title, sizeof title, "%s%s%s%s", kProgramTitle, kSeparator, mark, text);
    widgets.window->copy_label(title);
}

// Whatever the user selected, the text goes at the end; insert drops what
// does not fit the panel's maximum size.
void appendLog(const char* text)
{
    MyMsg* log = widgets.log;
    log->position(log->size(), log->size());
    log->insert(text);
}
