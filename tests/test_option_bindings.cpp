// The option controls and the configuration block in both directions,
// driven through the real widgets and their callbacks.
#include <gtest/gtest.h>

#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Value_Slider.H>

#include <cstring>
#include <string>
#include <vector>

#include "cdi_device.h"
#include "dialogs.h"
#include "main_window.h"
#include "option_bindings.h"
#include "support.h"

namespace {

class OptionBindings : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static Fl_Double_Window* window = buildMainWindow();
        ASSERT_NE(window, nullptr);
    }
    void SetUp() override { resetMapData(); }
    ConfigBlock& config() { return cdiDevice.config; }

    // The five sliders, their values and their bytes, each in the order
    // enable point, delay count, cut count, invalid count, rev limit.
    static std::vector<Fl_Value_Slider*> sliders()
    {
        return {widgets.enablePoint, widgets.delayCount, widgets.cutCount, widgets.invalidCount, widgets.revLimit};
    }
    static void setSliders(const std::vector<double>& values)
    {
        for (std::size_t i = 0; i < values.size(); ++i)
            sliders()[i]->value(values[i]);
    }
    static std::vector<double> sliderValues()
    {
        std::vector<double> values;
        for (Fl_Value_Slider* s : sliders())
            values.push_back(s->value());
        return values;
    }
    std::vector<int> sliderBytes()
    {
        return {config().qsEnablePoint, config().qsDelayCount, config().qsCutCount, config().qsInvalidCount,
                config().revLimit};
    }
};

std::vector<Fl_Widget*> optionControls()
{
    return {widgets.revLimit, widgets.enablePoint, widgets.delayCount, widgets.cutCount,
            widgets.invalidCount, widgets.reverseSwitch, widgets.stopSwitch, widgets.onePulse,
            widgets.twoPulse, widgets.pickup};
}

// Counts callbacks instead of running them while it lives.
int callbacksRun = 0;
void countCallback(Fl_Widget*, void*) { ++callbacksRun; }

struct CallbackCounter {
    std::vector<Fl_Callback*> saved;
    CallbackCounter()
    {
        callbacksRun = 0;
        for (Fl_Widget* w : optionControls()) {
            saved.push_back(w->callback());
            w->callback(countCallback);
        }
    }
    ~CallbackCounter()
    {
        std::size_t i = 0;
        for (Fl_Widget* w : optionControls())
            w->callback(saved[i++]);
    }
};

TEST_F(OptionBindings, MovingOneSliderStoresAllFive)
{
    setSliders({45, 3, 20, 150, 100});
    widgets.cutCount->do_callback();
    EXPECT_EQ(sliderBytes(), (std::vector<int>{45, 3, 20, 150, 100}));

    // Every slider carries the same store.
    for (Fl_Value_Slider* s : sliders()) {
        config() = CdiDevice::initialConfig();
        s->do_callback();
        EXPECT_EQ(config().qsEnablePoint, 45) << s->label();
        EXPECT_EQ(config().revLimit, 100) << s->label();
    }
    // Nothing else of the block moves.
    ConfigBlock expected = CdiDevice::initialConfig();
    expected.qsEnablePoint = 45;
    expected.qsDelayCount = 3;
    expected.qsCutCount = 20;
    expected.qsInvalidCount = 150;
    expected.revLimit = 100;
    EXPECT_EQ(std::memcmp(config().bytes(), expected.bytes(), sizeof expected), 0);
}

TEST_F(OptionBindings, SliderValuesAreTruncatedTowardZeroToTheirLowByte)
{
    // The rev limit's 1e300 is far past any integer type, and a multiple of 256.
    setSliders({12.9, 300.7, -1.5, 256, 1e300});
    widgets.enablePoint->do_callback();
    EXPECT_EQ(sliderBytes(), (std::vector<int>{12, 44, 255, 0, 0}));
}

TEST_F(OptionBindings, BytesOutsideTheBoundsAreShownUnclampedAndKept)
{
    config().revLimit = 70;        // below the slider's 80
    config().qsEnablePoint = 42;   // not on the step of 5
    config().qsDelayCount = 255;   // above the slider's 10
    config().qsCutCount = 0;
    config().qsInvalidCount = 7;
    refreshOptionWidgets();
    EXPECT_EQ(sliderValues(), (std::vector<double>{42, 255, 0, 7, 70}));

    widgets.cutCount->value(13);  // the user moves another slider
    widgets.cutCount->do_callback();
    EXPECT_EQ(sliderBytes(), (std::vector<int>{42, 255, 13, 7, 70}));
}

TEST_F(OptionBindings, PulseTypeSelectionAppliesItsPreset)
{
    const struct {
        int one, two;  // the buttons as the user left them
        Fl_Round_Button* pressed;
        int pulseType, pickup, engineConstant, latency;
    } steps[] = {
        {1, 0, widgets.onePulse, 1, 68, 37500, 610},
        {0, 1, widgets.twoPulse, 2, 36, 18750, 570},
        {0, 0, widgets.onePulse, 2, 36, 18750, 570},  // neither on (t = 0) counts as two pulses as well
    };
    widgets.pickup->value("99");  // a typed value is overwritten
    for (const auto& step : steps) {
        SCOPED_TRACE(std::to_string(step.one) + std::to_string(step.two) + " " + step.pressed->label());
        widgets.onePulse->value(step.one);
        widgets.twoPulse->value(step.two);
        step.pressed->do_callback();
        EXPECT_EQ(config().pulseType, step.pulseType);
        EXPECT_EQ(config().pickupDeg, step.pickup);
        EXPECT_EQ(config().engineConstantValue(), step.engineConstant);
        EXPECT_EQ(cdiDevice.latencyOffset, step.latency);
        EXPECT_EQ(widgets.pickup->value(), std::to_string(step.pickup));
        EXPECT_EQ(widgets.onePulse->value(), step.pulseType == 1);
        EXPECT_EQ(widgets.twoPulse->value(), step.pulseType == 2);
    }
}

TEST_F(OptionBindings, PulseTypesOtherThanOneShowTwoPulse)
{
    for (int type : {0, 2, 3, 255}) {
        config().pulseType = static_cast<std::uint8_t>(type);
        widgets.onePulse->value(1);
        widgets.twoPulse->value(0);
        refreshOptionWidgets();
        EXPECT_EQ(widgets.onePulse->value(), 0) << type;
        EXPECT_EQ(widgets.twoPulse->value(), 1) << type;
        EXPECT_EQ(config().pulseType, type) << "shown, not changed";
    }
    config().pulseType = 1;
    refreshOptionWidgets();
    EXPECT_EQ(widgets.onePulse->value(), 1);
    EXPECT_EQ(widgets.twoPulse->value(), 0);
}

int beeps = 0;
void countBeep() { ++beeps; }

TEST_F(OptionBindings, PickupFieldTakesOnlyAWholeNumberFrom1To255)
{
    const struct {
        const char* text;
        int stored;  // 0: refused
    } cases[] = {
        {"68", 68},   {" 36 ", 36}, {"036", 36}, {"1", 1},    {"255", 255}, {"", 0},   {"  ", 0},
        {"0", 0},     {"300", 0},   {"256", 0},  {"-1", 0},   {"0x44", 0},  {"12abc", 0},
        {"+5", 0},    {"99999999999999999999999", 0},
    };
    const Dialogs saved = dialogs;
    dialogs.errorBeep = countBeep;
    for (const auto& c : cases) {
        config().pickupDeg = 123;
        beeps = 0;
        widgets.pickup->value(c.text);
        widgets.pickup->do_callback();
        if (c.stored) {
            EXPECT_EQ(config().pickupDeg, c.stored) << '"' << c.text << '"';
            EXPECT_EQ(beeps, 0) << '"' << c.text << '"';
        } else {
            EXPECT_EQ(config().pickupDeg, 123) << '"' << c.text << '"';
            EXPECT_STREQ(widgets.pickup->value(), "123") << "shows the stored value again";
            EXPECT_EQ(beeps, 1) << '"' << c.text << '"';
        }
    }
    // Committed quietly, a refused text is dropped without a beep.
    beeps = 0;
    widgets.pickup->value("0");
    EXPECT_FALSE(commitPickupField(false));
    EXPECT_EQ(beeps, 0);
    EXPECT_STREQ(widgets.pickup->value(), "123");
    dialogs = saved;
}

TEST_F(OptionBindings, RefreshWritesThePickupAsDecimalText)
{
    for (int deg : {0, 5, 36, 200, 255}) {
        config().pickupDeg = static_cast<std::uint8_t>(deg);
        refreshOptionWidgets();
        EXPECT_STREQ(widgets.pickup->value(), std::to_string(deg).c_str());
    }
}

TEST_F(OptionBindings, LightButtonsStoreExactlyZeroOrOneInBothBytes)
{
    config().qsReverse = 7;
    config().qsStopSwitch = 9;
    widgets.reverseSwitch->value(1);
    widgets.stopSwitch->value(0);
    widgets.reverseSwitch->do_callback();
    EXPECT_EQ(config().qsReverse, 1);
    EXPECT_EQ(config().qsStopSwitch, 0);

    widgets.reverseSwitch->value(0);
    widgets.stopSwitch->value(1);
    widgets.stopSwitch->do_callback();
    EXPECT_EQ(config().qsReverse, 0);
    EXPECT_EQ(config().qsStopSwitch, 1);
}

TEST_F(OptionBindings, LightButtonsShowAnyNonZeroByteAsOn)
{
    config().qsReverse = 7;
    config().qsStopSwitch = 0;
    refreshOptionWidgets();
    EXPECT_EQ(widgets.reverseSwitch->value(), 1);
    EXPECT_EQ(widgets.stopSwitch->value(), 0);

    config().qsReverse = 0;
    config().qsStopSwitch = 200;
    refreshOptionWidgets();
    EXPECT_EQ(widgets.reverseSwitch->value(), 0);
    EXPECT_EQ(widgets.stopSwitch->value(), 1);
}

TEST_F(OptionBindings, RefreshFiresNoCallbackAndChangesNoByte)
{
    config().pulseType = 0;
    config().pickupDeg = 99;
    config().revLimit = 70;
    config().qsReverse = 3;
    const ConfigBlock before = config();
    {
        CallbackCounter counter;
        refreshOptionWidgets();
        EXPECT_EQ(callbacksRun, 0);
    }
    EXPECT_EQ(std::memcmp(config().bytes(), before.bytes(), sizeof before), 0);
    EXPECT_EQ(cdiDevice.latencyOffset, 570);
}

}  // namespace
