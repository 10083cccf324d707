// Start-up in-process, with no autosave file: what the window, the charts,
// the tables, the log panel and the device record look like once it ran.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Image_Surface.H>
#include <FL/Fl_Int_Input.H>
#include <FL/Fl_Light_Button.H>
#include <FL/Fl_Output.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Tabs.H>
#include <FL/Fl_Value_Slider.H>
#include <FL/fl_draw.H>

#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "cdi_device.h"
#include "device_status.h"
#include "main_window.h"
#include "option_bindings.h"
#include "map_file.h"
#include "map_table.h"
#include "my_chart.h"
#include "sim_unit.h"
#include "startup.h"
#include "support.h"

namespace {

struct Rgb {
    int r, g, b;
};

Rgb pixelAt(const Fl_RGB_Image& image, int x, int y)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(image.data()[0]);
    const int depth = image.d();
    const int line = image.ld() ? image.ld() : image.w() * depth;
    const unsigned char* p = data + y * line + x * depth;
    return {p[0], p[1], p[2]};
}

Rgb colourOf(Fl_Color index)
{
    unsigned char r, g, b;
    Fl::get_color(index, r, g, b);
    return {r, g, b};
}

void expectPixel(const Fl_RGB_Image& image, int x, int y, Rgb want, const char* what)
{
    const Rgb got = pixelAt(image, x, y);
    EXPECT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b)
        << what << " at " << x << "," << y << ": " << got.r << "," << got.g << "," << got.b;
}

class Startup : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // Empty temporary folders, so no autosave file is found.
        folders.emplace();
        static char name[] = "kvz-cdi";
        static char* argv[] = {name, nullptr};
        window = startApplication(1, argv);
    }
    static void TearDownTestSuite() { folders.reset(); }

    static inline std::optional<TemporaryXdgFolders> folders;
    static inline Fl_Double_Window* window = nullptr;
};

TEST_F(Startup, WindowIsTitledShownAndOnTheDeviceTab)
{
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window, widgets.window);
    EXPECT_STREQ(window->label(), "KVZ-CDI v1.2.0");
    EXPECT_EQ(window->w(), 1028);
    EXPECT_EQ(window->h(), 600);
    EXPECT_TRUE(window->shown());
    EXPECT_TRUE(window->visible());
    EXPECT_EQ(window->callback(), onWindowClose);
    EXPECT_EQ(widgets.tabs->value(), widgets.deviceTab);
    EXPECT_TRUE(widgets.deviceTab->visible());
    EXPECT_FALSE(widgets.mapTab->visible());
    EXPECT_FALSE(widgets.optionsTab->visible());
}

TEST_F(Startup, PollIsArmedAndTheHooksAreBound)
{
    EXPECT_TRUE(Fl::has_timeout(pollStatus));
    EXPECT_EQ(cdiDevice.log, appendLog);
    EXPECT_EQ(onConfigChanged, refreshOptionWidgets);
    EXPECT_EQ(std::string(autosavePath), (folders->folder("TMPDIR") / "autosaved.cdi").string());
}

TEST_F(Startup, ChartsAreWiredToTheirTables)
{
    EXPECT_EQ(ignitionTable.lowerClamp, 0.0);
    EXPECT_EQ(ignitionTable.upperClamp, 35.0);
    EXPECT_EQ(valveTable.lowerClamp, 0.0);
    EXPECT_EQ(valveTable.upperClamp, 160.0);

    struct Wiring {
        MyChart* chart;
        MapTable* table;
        int valueRange, xStep, yStep, cursor, selectedMap;
    };
    for (const Wiring& w : {Wiring{widgets.ignitionChart, &ignitionTable, 35, 5, 5, 80, 0},
                            Wiring{widgets.valveChart, &valveTable, 160, 5, 25, 80, -1}}) {
        SCOPED_TRACE(w.chart->label());
        EXPECT_EQ(w.chart->table, w.table);
        EXPECT_EQ(w.chart->valueRange, w.valueRange);
        EXPECT_EQ(w.chart->xStep, w.xStep);
        EXPECT_EQ(w.chart->yStep, w.yStep);
        EXPECT_EQ(w.chart->cursor, w.cursor);
        EXPECT_EQ(w.chart->selectedMap, w.selectedMap);
    }

    EXPECT_EQ(widgets.ignMap0->value(), 1);
    EXPECT_EQ(widgets.ignMap1->value(), 0);
    EXPECT_EQ(widgets.pvsMap0->value(), 0);
    EXPECT_EQ(widgets.pvsMap1->value(), 0);
}

TEST_F(Startup, LogPanelHoldsTheTwoStartLinesWithTheCursorAtTheEnd)
{
    const char* expected = "Started successfully.\nWaiting device connect.\n";
    EXPECT_STREQ(widgets.log->value(), expected);
    EXPECT_EQ(widgets.log->position(), static_cast<int>(std::strlen(expected)));
    EXPECT_EQ(widgets.log->mark(), widgets.log->position());
}

// Without an autosave the block holds what the controls show, so a first
// write sends what the user sees.
TEST_F(Startup, WithoutAnAutosaveTheBlockHoldsWhatTheControlsShow)
{
    EXPECT_EQ(widgets.revLimit->value(), 120.0);
    EXPECT_EQ(widgets.enablePoint->value(), 120.0);
    EXPECT_EQ(widgets.delayCount->value(), 1.0);
    EXPECT_EQ(widgets.cutCount->value(), 12.0);
    EXPECT_EQ(widgets.invalidCount->value(), 100.0);
    EXPECT_EQ(widgets.onePulse->value(), 0);
    EXPECT_EQ(widgets.twoPulse->value(), 1);
    EXPECT_STREQ(widgets.pickup->value(), "36");
    EXPECT_EQ(widgets.reverseSwitch->value(), 0);
    EXPECT_EQ(widgets.stopSwitch->value(), 0);

    ConfigBlock expected = CdiDevice::initialConfig();
    expected.revLimit = 120;
    expected.qsEnablePoint = 120;
    expected.qsDelayCount = 1;
    expected.qsCutCount = 12;
    expected.qsInvalidCount = 100;
    expected.pulseType = 2;
    expected.setEngineConstant(18750);
    EXPECT_EQ(std::memcmp(cdiDevice.config.bytes(), expected.bytes(), sizeof expected), 0);
    EXPECT_EQ(cdiDevice.latencyOffset, 570);

    for (std::uint32_t k = 0; k < MapTable::kRun; ++k) {
        ASSERT_EQ(ignitionTable.points[k], 0.0) << k;
        ASSERT_EQ(valveTable.points[k], 0.0) << k;
    }
}

TEST_F(Startup, DeviceTabDrawsTheDarkLogPanelWithItsLines)
{
    Fl_Image_Surface surface(window->w(), window->h());
    surface.set_current();
    surface.draw(window);
    std::unique_ptr<Fl_RGB_Image> image(surface.image());
    Fl_Display_Device::display_device()->set_current();
    ASSERT_EQ(image->w(), 1028);
    ASSERT_EQ(image->h(), 600);

    expectPixel(*image, 760, 500, colourOf(0), "log panel field");
    expectPixel(*image, 300, 455, colourOf(23), "R.P.M. field");
    expectPixel(*image, 1020, 300, colourOf(49), "Device tab page");

    // The first log line is drawn in light text near the panel's top left.
    int light = 0;
    for (int y = 248; y < 265; ++y)
        for (int x = 528; x < 700; ++x) {
            const Rgb p = pixelAt(*image, x, y);
            light += p.r > 128 && p.g > 128 && p.b > 128;
        }
    EXPECT_GT(light, 40);
    // and the panel is dark below the two lines.
    int lightBelow = 0;
    for (int y = 300; y < 520; ++y)
        for (int x = 528; x < 990; ++x) {
            const Rgb p = pixelAt(*image, x, y);
            lightBelow += p.r > 128;
        }
    EXPECT_EQ(lightBelow, 0);
}

}  // namespace

// The first write of a run with no autosave puts on the unit what the
// controls show, over the unit's own configuration bytes. Last, since it
// writes to the log panel.
TEST_F(Startup, AFirstWriteSendsWhatTheControlsShow)
{
    resetUnitOnVirtualTime();
    for (int i = 0; i < 32; ++i)
        sim::block(30)[i] = sim::block(31)[i] = static_cast<std::uint8_t>(0xC0 + i);
    BoxRecorder boxes;
    boxes.answers = {1};
    captureStdout([] { widgets.deviceWrite->do_callback(); });
    ASSERT_EQ(boxes.shown.back(), "message:Writing device map successfully.");

    const std::uint8_t* config = sim::block(30);
    const std::uint8_t named[] = {120, 1, 12, 100, 0, 0, 120};  // bytes 2..8
    EXPECT_EQ(std::memcmp(config + 2, named, sizeof named), 0);
    EXPECT_EQ(config[10] | config[11] << 8, 18750);
    EXPECT_EQ(config[12], 2);
    EXPECT_EQ(config[13], 36);
    for (int i : {0, 1, 9, 14, 31})
        EXPECT_EQ(config[i], 0xC0 + i) << i;
}
