// The main window as built: every widget of the Device, Map and Options tabs
// (and the Table tab's group) walked through the groups' child lists and held
// against the layout below, then the log panel's append and the window title.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Input_.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_Repeat_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/fl_utf8.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <typeindex>
#include <utility>
#include <vector>

#include "commands.h"
#include "main_window.h"
#include "option_bindings.h"
#include "map_editing.h"
#include "my_chart.h"
#include "ride_recorder.h"
#include "support.h"

namespace {

enum Prop {
    kBox, kDownBox, kColor, kSelectionColor, kLabelType, kLabelFont, kLabelSize, kLabelColor,
    kAlign, kWhen, kType, kVisible, kResizableSelf, kTextSize, kTextFont, kTextColor,
    kMaximumSize, kMinimum, kMaximum, kStep, kValue,
};
const char* const kPropNames[] = {
    "box", "down box", "colour", "selection colour", "label type", "label font", "label size",
    "label colour", "align", "when", "type", "visible", "resizable is itself", "text size",
    "text font", "text colour", "maximum size", "minimum", "maximum", "step", "value",
};
constexpr int kPropCount = kValue + 1;

struct Named {
    template <class T>
    Named(Prop p, T v) : prop(p), value(static_cast<double>(v))
    {
    }
    Prop prop;
    double value;
};

// One widget as it must be built. `parent` is the label of the group that
// holds it; the window and the tabs carry no label and go by these names.
const char* const WINDOW = "<window>";
const char* const TABS = "<tabs>";

struct Row {
    const char* parent;
    const std::type_info* cls;
    const char* label;
    int x, y, w, h;
    std::vector<Named> props;        // every other property keeps the class default
    Fl_Callback* callback = nullptr;  // null: the toolkit's default callback
};

// Shared property lists of the tables' "as ..." rows.
std::vector<Named> frameBox(double colour)
{
    return {{kBox, FL_THIN_DOWN_FRAME}, {kColor, colour}, {kLabelSize, 18}, {kAlign, FL_ALIGN_TOP_LEFT}};
}
std::vector<Named> readout(Fl_Align align)
{
    return {{kColor, 23}, {kLabelSize, 18}, {kTextSize, 18}, {kAlign, static_cast<double>(align)}};
}
std::vector<Named> chart()
{
    return {{kBox, FL_UP_FRAME}, {kColor, 1},      {kSelectionColor, 49}, {kLabelType, FL_NORMAL_LABEL},
            {kLabelFont, 0},     {kLabelSize, 18}, {kLabelColor, 0},      {kAlign, FL_ALIGN_CENTER},
            {kWhen, FL_WHEN_RELEASE}};
}
std::vector<Named> mapButton(double light)
{
    return {{kType, FL_RADIO_BUTTON}, {kSelectionColor, light}, {kLabelSize, 18}, {kAlign, FL_ALIGN_INSIDE}};
}
std::vector<Named> slider(double low, double high, double step, double value)
{
    return {{kType, FL_HOR_NICE_SLIDER}, {kColor, 55},       {kSelectionColor, 1}, {kLabelSize, 18},
            {kTextSize, 18},             {kAlign, FL_ALIGN_TOP_LEFT}, {kMinimum, low}, {kMaximum, high},
            {kStep, step},               {kValue, value}};
}
std::vector<Named> note() { return {{kLabelSize, 12}}; }
std::vector<Named> optionSwitch()
{
    return {{kType, FL_TOGGLE_BUTTON}, {kSelectionColor, 1}, {kLabelSize, 18}, {kValue, 0}};
}

const char* const DEVICE = "&Device Inofomation";
const char* const MAP = "&Map Settings        ";
const char* const OPTIONS = "&Option Settings        ";
const char* const TABLE = "&Table";
const char* const ENGINE = "config: Engine type";

const std::vector<Row>& layout()
{
    static const std::vector<Row> rows = {
        {nullptr, &typeid(Fl_Double_Window), nullptr, 0, 0, 1028, 600, {{kColor, 55}, {kResizableSelf, 1}}},
        {WINDOW, &typeid(Fl_Tabs), nullptr, 0, 0, 1250, 600, {{kLabelType, FL_NO_LABEL}, {kLabelSize, 18}}},

        {TABS, &typeid(Fl_Group), DEVICE, 15, 50, 1235, 550, {{kLabelSize, 18}}},
        {DEVICE, &typeid(Fl_Box), "Status", 30, 291, 475, 264, frameBox(8)},
        {DEVICE, &typeid(Fl_Box), "Production name", 30, 80, 475, 140, frameBox(8)},
        {DEVICE, &typeid(Fl_Group), ENGINE, 525, 80, 480, 131, frameBox(0)},
        {ENGINE, &typeid(Fl_Round_Button), "1 pulse in one rotation", 545, 105, 209, 30,
         {{kType, FL_RADIO_BUTTON}, {kDownBox, FL_ROUND_DOWN_BOX}, {kLabelSize, 18}, {kValue, 0}},
         onPulseTypeChanged},
        {ENGINE, &typeid(Fl_Round_Button), "2 pulse in one rotation", 770, 105, 209, 30,
         {{kType, FL_RADIO_BUTTON}, {kDownBox, FL_ROUND_DOWN_BOX}, {kLabelSize, 18}, {kValue, 1}},
         onPulseTypeChanged},
        {DEVICE, &typeid(MyMsg), "Log:", 525, 245, 477, 289,
         {{kType, FL_MULTILINE_OUTPUT}, {kBox, FL_DOWN_BOX}, {kColor, 0}, {kSelectionColor, 15},
          {kLabelType, FL_NORMAL_LABEL}, {kLabelFont, 0}, {kLabelSize, 18}, {kLabelColor, 0},
          {kTextSize, 12}, {kTextColor, 7}, {kAlign, FL_ALIGN_TOP_LEFT}, {kWhen, FL_WHEN_RELEASE},
          {kMaximumSize, 32767}}},
        {DEVICE, &typeid(Fl_Output), "Manufacture", 50, 110, 438, 30, readout(FL_ALIGN_TOP_LEFT)},
        {DEVICE, &typeid(Fl_Output), "Product", 50, 171, 438, 30, readout(FL_ALIGN_TOP_LEFT)},
        {DEVICE, &typeid(Fl_Output), "Map sw", 50, 317, 320, 30, readout(FL_ALIGN_TOP_LEFT)},
        {DEVICE, &typeid(Fl_Output), "Quick shifter sw", 50, 378, 320, 30, readout(FL_ALIGN_TOP_LEFT)},
        {DEVICE, &typeid(Fl_Output), "R.P.M.", 50, 439, 320, 30, readout(FL_ALIGN_TOP_LEFT)},
        {DEVICE, &typeid(Fl_Output), "Power valve angle", 50, 500, 320, 30, readout(FL_ALIGN_TOP_LEFT)},
        {DEVICE, &typeid(Fl_Output), "PIC DevID", 120, 230, 116, 33, readout(FL_ALIGN_LEFT)},
        {DEVICE, &typeid(Fl_Output), "RevID", 333, 230, 116, 33, readout(FL_ALIGN_LEFT)},
        {DEVICE, &typeid(Fl_Int_Input), "Pick up coil position", 915, 168, 60, 33,
         {{kType, FL_INT_INPUT}, {kLabelSize, 18}, {kTextSize, 18}, {kAlign, FL_ALIGN_LEFT}}, onPickupChanged},
        {DEVICE, &typeid(Fl_Box), "NOTE:Crank case lead type must change pick up coil position by yourself.",
         530, 145, 410, 15, {{kBox, FL_NO_BOX}, {kLabelSize, 12}}},
        {DEVICE, &typeid(Fl_Light_Button), "&Record", 385, 500, 105, 30, {{kLabelSize, 18}, {kValue, 0}}, onRecord},

        {TABS, &typeid(Fl_Group), MAP, 15, 50, 1015, 550, {{kLabelSize, 18}, {kVisible, 0}}},
        {MAP, &typeid(MyChart), "Ignition", 160, 60, 640, 250, chart()},
        {MAP, &typeid(MyChart), "pvs", 160, 320, 640, 250, chart()},
        {MAP, &typeid(Fl_Button), "File Open", 25, 60, 120, 50, {{kLabelSize, 18}}, onFileOpen},
        {MAP, &typeid(Fl_Button), "File Save", 25, 120, 120, 50, {{kLabelSize, 18}}, onFileSave},
        {MAP, &typeid(Fl_Button), "Device Read", 25, 180, 120, 50, {{kLabelSize, 18}}, onDeviceRead},
        {MAP, &typeid(Fl_Button), "Device Write", 25, 240, 120, 50, {{kColor, 5}, {kLabelSize, 18}}, onDeviceWrite},
        {MAP, &typeid(Fl_Repeat_Button), "UP(&l)", 810, 60, 205, 140, {{kLabelSize, 24}}, onValueUp},
        {MAP, &typeid(Fl_Repeat_Button), "DOWN(&k)", 810, 417, 205, 150, {{kLabelSize, 24}}, onValueDown},
        {MAP, &typeid(Fl_Repeat_Button), "<<(&,)", 810, 207, 100, 200, {{kLabelSize, 24}}, onCursorLeft},
        {MAP, &typeid(Fl_Repeat_Button), "(&.)>>", 915, 207, 100, 200, {{kLabelSize, 25}}, onCursorRight},
        {MAP, &typeid(Fl_Light_Button), "IGN MAP0(&1)", 15, 325, 135, 50, mapButton(1), onMapSelect},
        {MAP, &typeid(Fl_Light_Button), "IGN MAP1(&2)", 15, 385, 135, 50, mapButton(4), onMapSelect},
        {MAP, &typeid(Fl_Light_Button), "PVS MAP0(&3)", 15, 445, 135, 50, mapButton(1), onMapSelect},
        {MAP, &typeid(Fl_Light_Button), "PVS MAP1(&4)", 15, 505, 135, 50, mapButton(4), onMapSelect},

        {TABS, &typeid(Fl_Group), OPTIONS, 15, 50, 1000, 550, {{kLabelSize, 18}, {kVisible, 0}}},
        {OPTIONS, &typeid(Fl_Value_Slider), "Rev limitter(r.p.m.)", 45, 75, 900, 60, slider(80, 160, 5, 120),
         onSliderChanged},
        {OPTIONS, &typeid(Fl_Box), "Quick shifter", 45, 161, 935, 415, frameBox(24)},
        {OPTIONS, &typeid(Fl_Value_Slider), "Enable point(r.p.m.)", 65, 185, 900, 60, slider(40, 155, 5, 120),
         onSliderChanged},
        {OPTIONS, &typeid(Fl_Value_Slider), "Delay count  to activation(pick-up count)", 65, 276, 900, 60,
         slider(0, 10, 1, 1), onSliderChanged},
        {OPTIONS, &typeid(Fl_Value_Slider), "Count of ignition cuts(pick-up count)", 65, 367, 900, 60,
         slider(1, 50, 1, 12), onSliderChanged},
        {OPTIONS, &typeid(Fl_Value_Slider), "Count of Invalid after activation(pick-up count)", 65, 458, 900, 60,
         slider(50, 200, 5, 100), onSliderChanged},
        {OPTIONS, &typeid(Fl_Light_Button), "Reverse on/off state", 496, 524, 227, 48,
         optionSwitch(), onSwitchChanged},
        {OPTIONS, &typeid(Fl_Light_Button), "Use as stop switch", 733, 521, 227, 51,
         optionSwitch(), onSwitchChanged},
        {OPTIONS, &typeid(Fl_Box), "R.P.M. at quick shifter enabled. default is 70.", 715, 164, 250, 21, note()},
        {OPTIONS, &typeid(Fl_Box), "Number of times until the ignition turns off after switching on.", 620, 255,
         345, 21, note()},
        {OPTIONS, &typeid(Fl_Box), "Number of times to turn off the ignition.", 740, 346, 220, 21, note()},

        {TABS, &typeid(Fl_Group), TABLE, 15, 50, 1015, 550, {{kLabelSize, 18}, {kVisible, 0}}},
    };
    return rows;
}

// A fresh widget of the class, outside every group: the toolkit's defaults.
Fl_Widget* referenceFor(const std::type_info& cls)
{
    static std::map<std::type_index, std::unique_ptr<Fl_Widget>> made;
    std::unique_ptr<Fl_Widget>& slot = made[cls];
    if (slot)
        return slot.get();
    Fl_Group::current(nullptr);
    if (cls == typeid(Fl_Double_Window)) slot.reset(new Fl_Double_Window(10, 10));
    else if (cls == typeid(Fl_Tabs)) slot.reset(new Fl_Tabs(0, 0, 10, 10));
    else if (cls == typeid(Fl_Group)) slot.reset(new Fl_Group(0, 0, 10, 10));
    else if (cls == typeid(Fl_Box)) slot.reset(new Fl_Box(0, 0, 10, 10));
    else if (cls == typeid(Fl_Round_Button)) slot.reset(new Fl_Round_Button(0, 0, 10, 10));
    else if (cls == typeid(Fl_Light_Button)) slot.reset(new Fl_Light_Button(0, 0, 10, 10));
    else if (cls == typeid(Fl_Button)) slot.reset(new Fl_Button(0, 0, 10, 10));
    else if (cls == typeid(Fl_Repeat_Button)) slot.reset(new Fl_Repeat_Button(0, 0, 10, 10));
    else if (cls == typeid(Fl_Output)) slot.reset(new Fl_Output(0, 0, 10, 10));
    else if (cls == typeid(Fl_Int_Input)) slot.reset(new Fl_Int_Input(0, 0, 10, 10));
    else if (cls == typeid(Fl_Value_Slider)) slot.reset(new Fl_Value_Slider(0, 0, 10, 10));
    else if (cls == typeid(MyMsg)) slot.reset(new MyMsg(0, 0, 10, 10));
    else if (cls == typeid(MyChart)) slot.reset(new MyChart(0, 0, 10, 10));
    Fl_Group::current(nullptr);
    return slot.get();
}

// Text size, font or colour: inputs and value sliders each have their own.
template <class W>
double textProperty(W* w, Prop prop)
{
    if (prop == kTextSize)
        return w->textsize();
    return prop == kTextFont ? w->textfont() : w->textcolor();
}

// The property of the widget, or false when its class has no such property.
bool property(Fl_Widget* w, Prop prop, double& out)
{
    Fl_Button* button = dynamic_cast<Fl_Button*>(w);
    Fl_Input_* input = dynamic_cast<Fl_Input_*>(w);
    Fl_Value_Slider* slider = dynamic_cast<Fl_Value_Slider*>(w);
    Fl_Group* group = w->as_group();
    switch (prop) {
    case kBox: out = w->box(); return true;
    case kColor: out = w->color(); return true;
    case kSelectionColor: out = w->selection_color(); return true;
    case kLabelType: out = w->labeltype(); return true;
    case kLabelFont: out = w->labelfont(); return true;
    case kLabelSize: out = w->labelsize(); return true;
    case kLabelColor: out = w->labelcolor(); return true;
    case kAlign: out = w->align(); return true;
    case kWhen: out = w->when(); return true;
    case kType: out = w->type(); return true;
    case kVisible: out = w->visible() ? 1 : 0; return true;
    case kResizableSelf:
        if (!group) return false;
        out = group->resizable() == group ? 1 : 0;
        return true;
    case kDownBox:
        if (!button) return false;
        out = button->down_box();
        return true;
    case kTextSize:
    case kTextFont:
    case kTextColor:
        if (input) out = textProperty(input, prop);
        else if (slider) out = textProperty(slider, prop);
        else return false;
        return true;
    case kMaximumSize:
        if (!input) return false;
        out = input->maximum_size();
        return true;
    case kMinimum: if (!slider) return false; out = slider->minimum(); return true;
    case kMaximum: if (!slider) return false; out = slider->maximum(); return true;
    case kStep: if (!slider) return false; out = slider->step(); return true;
    case kValue:
        if (button) out = button->value();
        else if (slider) out = slider->value();
        else return false;
        return true;
    }
    return false;
}

std::string nameOf(const char* label, Fl_Widget* w)
{
    if (label)
        return label;
    return w->as_window() ? WINDOW : TABS;
}

struct Built {
    Fl_Widget* widget;
    Fl_Widget* parent;
};

void walk(Fl_Widget* w, Fl_Widget* parent, std::vector<Built>& out)
{
    out.push_back({w, parent});
    Fl_Group* g = w->as_group();
    if (g && g != widgets.tableTab)
        for (int i = 0; i < g->children(); ++i)
            walk(g->child(i), g, out);
}

Fl_Double_Window* builtWindow()
{
    static Fl_Double_Window* window = buildMainWindow();
    return window;
}

TEST(MainWindowLayout, EveryWidgetAsWrittenInCreationOrder)
{
    Fl_Double_Window* window = builtWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Fl_Group::current(), nullptr) << "a group was left open";

    std::vector<Built> built;
    walk(window, nullptr, built);
    const std::vector<Row>& rows = layout();
    ASSERT_EQ(built.size(), rows.size());

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        Fl_Widget* w = built[i].widget;
        const std::string name = row.label ? row.label : (i == 0 ? WINDOW : TABS);
        SCOPED_TRACE("row " + std::to_string(i) + " \"" + name + "\"");

        ASSERT_TRUE(typeid(*w) == *row.cls) << "built as " << typeid(*w).name();
        if (row.label)
            EXPECT_STREQ(w->label(), row.label);
        else
            EXPECT_EQ(w->label(), nullptr);
        EXPECT_EQ(w->x(), row.x);
        EXPECT_EQ(w->y(), row.y);
        EXPECT_EQ(w->w(), row.w);
        EXPECT_EQ(w->h(), row.h);

        if (row.parent) {
            ASSERT_NE(built[i].parent, nullptr);
            EXPECT_EQ(nameOf(built[i].parent->label(), built[i].parent), row.parent);
            EXPECT_EQ(w->parent(), built[i].parent);
        } else {
            EXPECT_EQ(w->parent(), nullptr);
        }

        Fl_Widget* reference = referenceFor(*row.cls);
        ASSERT_NE(reference, nullptr);
        for (int p = 0; p < kPropCount; ++p) {
            const Prop prop = static_cast<Prop>(p);
            double actual = 0, expected = 0;
            const bool has = property(w, prop, actual);
            property(reference, prop, expected);
            for (const Named& named : row.props) {
                if (named.prop != prop)
                    continue;
                EXPECT_TRUE(has) << "the class has no " << kPropNames[p];
                expected = named.value;
            }
            if (has) {
                EXPECT_EQ(actual, expected) << kPropNames[p];
            }
        }

        Fl_Callback* expectedCallback = row.callback ? row.callback : reference->callback();
        EXPECT_EQ(w->callback(), expectedCallback) << "callback";
        EXPECT_EQ(w->user_data(), nullptr);
        if (Fl_Input_* input = dynamic_cast<Fl_Input_*>(w)) {
            EXPECT_STREQ(input->value(), "") << "fields start empty";
        }
    }
}

TEST(MainWindowLayout, SliderStepsAreWholeNumbers)
{
    builtWindow();
    // A whole step rounds to its multiples; a fractional one would not.
    EXPECT_EQ(widgets.revLimit->round(122.4), 120.0);
    EXPECT_EQ(widgets.invalidCount->round(103), 105.0);
    EXPECT_EQ(widgets.delayCount->round(3.4), 3.0);
    char text[128];
    widgets.revLimit->format(text);
    EXPECT_STREQ(text, "120");
}

TEST(MainWindowLayout, TabsShowTheDeviceTabAndTheWindowStartsUntitled)
{
    builtWindow();
    EXPECT_EQ(widgets.tabs->value(), widgets.deviceTab);
    EXPECT_TRUE(widgets.deviceTab->visible());
    EXPECT_FALSE(widgets.mapTab->visible());
    EXPECT_FALSE(widgets.optionsTab->visible());
    EXPECT_EQ(widgets.window->resizable(), widgets.window);
    EXPECT_FALSE(widgets.window->shown());

    // The charts are not wired yet: construction defaults and no table.
    for (MyChart* chart : {widgets.ignitionChart, widgets.valveChart}) {
        EXPECT_EQ(chart->table, nullptr);
        EXPECT_EQ(chart->valueRange, 130);
        EXPECT_EQ(chart->xStep, 5);
        EXPECT_EQ(chart->yStep, 50);
        EXPECT_EQ(chart->cursor, 80);
        EXPECT_EQ(chart->selectedMap, -1);
    }
    for (Fl_Light_Button* b : {widgets.ignMap0, widgets.ignMap1, widgets.pvsMap0, widgets.pvsMap1})
        EXPECT_EQ(b->value(), 0);
}

TEST(MainWindowLayout, HandlesPointAtTheirWidgets)
{
    Fl_Double_Window* window = builtWindow();
    const std::vector<std::pair<Fl_Widget*, std::string>> handles = {
        {widgets.window, WINDOW},
        {widgets.tabs, TABS},
        {widgets.deviceTab, DEVICE},
        {widgets.mapTab, MAP},
        {widgets.optionsTab, OPTIONS},
        {widgets.onePulse, "1 pulse in one rotation"},
        {widgets.twoPulse, "2 pulse in one rotation"},
        {widgets.log, "Log:"},
        {widgets.manufacture, "Manufacture"},
        {widgets.product, "Product"},
        {widgets.mapSwitch, "Map sw"},
        {widgets.quickShifterSwitch, "Quick shifter sw"},
        {widgets.rpm, "R.P.M."},
        {widgets.valveAngle, "Power valve angle"},
        {widgets.picDevId, "PIC DevID"},
        {widgets.revId, "RevID"},
        {widgets.pickup, "Pick up coil position"},
        {widgets.record, "&Record"},
        {widgets.ignitionChart, "Ignition"},
        {widgets.valveChart, "pvs"},
        {widgets.fileOpen, "File Open"},
        {widgets.fileSave, "File Save"},
        {widgets.deviceRead, "Device Read"},
        {widgets.deviceWrite, "Device Write"},
        {widgets.valueUp, "UP(&l)"},
        {widgets.valueDown, "DOWN(&k)"},
        {widgets.cursorLeft, "<<(&,)"},
        {widgets.cursorRight, "(&.)>>"},
        {widgets.ignMap0, "IGN MAP0(&1)"},
        {widgets.ignMap1, "IGN MAP1(&2)"},
        {widgets.pvsMap0, "PVS MAP0(&3)"},
        {widgets.pvsMap1, "PVS MAP1(&4)"},
        {widgets.revLimit, "Rev limitter(r.p.m.)"},
        {widgets.enablePoint, "Enable point(r.p.m.)"},
        {widgets.delayCount, "Delay count  to activation(pick-up count)"},
        {widgets.cutCount, "Count of ignition cuts(pick-up count)"},
        {widgets.invalidCount, "Count of Invalid after activation(pick-up count)"},
        {widgets.reverseSwitch, "Reverse on/off state"},
        {widgets.stopSwitch, "Use as stop switch"},
    };
    std::vector<Built> built;
    walk(window, nullptr, built);
    for (const auto& [handle, name] : handles) {
        SCOPED_TRACE(name);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(nameOf(handle->label(), handle), name);
        bool inTree = false;
        for (const Built& b : built)
            inTree = inTree || b.widget == handle;
        EXPECT_TRUE(inTree);
    }
}

// The log panel and the title change the built window; each case puts both
// back as they were built.
class MainWindowText : public ::testing::Test {
protected:
    void SetUp() override { builtWindow(); }
    void TearDown() override { resetWindowText(nullptr); }
};

TEST_F(MainWindowText, AppendLogGoesToTheEndWhateverIsSelected)
{
    widgets.log->value("first line\nsecond");
    widgets.log->position(2, 8);  // a selection inside the first line
    appendLog(" part");
    appendLog(".");                // progress dots continue the line
    appendLog(".\n");
    EXPECT_STREQ(widgets.log->value(), "first line\nsecond part..\n");
    EXPECT_EQ(widgets.log->position(), widgets.log->size());
    EXPECT_EQ(widgets.log->mark(), widgets.log->size());

    widgets.log->position(0);  // a cursor at the start, no selection
    appendLog("next\n");
    EXPECT_STREQ(widgets.log->value(), "first line\nsecond part..\nnext\n");
}

TEST_F(MainWindowText, AppendLogDropsWhatDoesNotFit)
{
    widgets.log->value(std::string(32760, 'a').c_str());
    appendLog("0123456789");
    EXPECT_EQ(widgets.log->size(), 32767);
    const std::string text = widgets.log->value();
    EXPECT_EQ(text.substr(32760), "0123456");
    appendLog("more");
    EXPECT_EQ(widgets.log->size(), 32767);
    EXPECT_EQ(std::string(widgets.log->value()).substr(32760), "0123456");
}

TEST_F(MainWindowText, TitleIsThePrefixAndACopyOfTheText)
{
    char path[] = "/home/tuner/maps/race.cdi";
    setWindowTitle(path);
    path[1] = 'X';  // the window keeps its own copy
    EXPECT_STREQ(widgets.window->label(), "KVZ-CDI v1.2.0 - /home/tuner/maps/race.cdi");
    setWindowTitle("device loaded");
    EXPECT_STREQ(widgets.window->label(), "KVZ-CDI v1.2.0 - device loaded");
}

TEST_F(MainWindowText, TitleThatJustFitsIsKeptWhole)
{
    const std::string text = "/" + std::string(1005, 'p');  // 17 + 1006 = 1023
    setWindowTitle(text.c_str());
    EXPECT_EQ(std::string(widgets.window->label()), "KVZ-CDI v1.2.0 - " + text);
}

TEST_F(MainWindowText, OverlongTitleKeepsTheEndOfThePath)
{
    const std::string file = "/final-map.cdi";
    for (std::size_t extra : {1u, 2u, 5000u}) {
        const std::string text = std::string(1006 - file.size() + extra, 'd') + file;
        setWindowTitle(text.c_str());
        const std::string title = widgets.window->label();
        SCOPED_TRACE(extra);
        EXPECT_LE(title.size(), 1023u);
        EXPECT_EQ(title.rfind("KVZ-CDI v1.2.0 - ...", 0), 0u);
        EXPECT_EQ(title.substr(title.size() - file.size()), file);
        EXPECT_EQ(title.size(), 1023u) << "as much of the path as fits";
        EXPECT_EQ(text.substr(text.size() - (title.size() - 20)), title.substr(20));
    }
}

TEST_F(MainWindowText, OverlongTitleCutsOnACharacterBoundary)
{
    // Two-byte characters, with the cut landing inside one of them.
    std::string text;
    while (text.size() < 1500)
        text += "\xC3\xA9";
    text += "x/map.cdi";
    for (int shift = 0; shift < 2; ++shift) {
        const std::string t = text.substr(shift);
        setWindowTitle(t.c_str());
        const std::string title = widgets.window->label();
        ASSERT_LE(title.size(), 1023u);
        const unsigned char first = static_cast<unsigned char>(title[20]);
        EXPECT_NE(first & 0xC0, 0x80) << "starts inside a character";
        EXPECT_EQ(fl_utf8test(title.c_str(), static_cast<unsigned>(title.size())), 2);
        EXPECT_EQ(title.substr(title.size() - 9), "x/map.cdi");
    }
}

}  // namespace
