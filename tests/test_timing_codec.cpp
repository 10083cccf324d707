// Ignition timing codec: the worked examples, the edge cases and the exact
// trace text each call prints; and what the unit holds of a map.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support.h"
#include "timing_codec.h"
#include "unit_limits.h"

namespace {
void useDevice(int pickup, int offset)
{
    cdiDevice = CdiDevice();
    cdiDevice.config.pickupDeg = static_cast<std::uint8_t>(pickup);
    cdiDevice.latencyOffset = offset;
}

// The codec without its trace lines.
TimerWord encode(double advance, int index)
{
    TimerWord word = 0;
    captureStdout([&] { word = encodeTiming(advance, static_cast<std::uint16_t>(index)); });
    return word;
}

double decode(TimerWord word, int index)
{
    double advance = 0;
    captureStdout([&] { advance = cdiDevice.decodeTiming(word, static_cast<std::uint16_t>(index)); });
    return advance;
}

struct Row {
    double advance;
    int index, pickup, offset;
    TimerWord word;
    double decoded;
};
}

TEST(TimingCodec, WorkedExamples)
{
    const Row rows[] = {
        {10.0, 30, 36, 570, 0x2DD8, 10.1},
        {25.5, 100, 36, 570, 0x0482, 25.5},
        {12.3, 15, 68, 610, 0x2EFB, 12.4},
        {35.0, 159, 36, 570, 0x0400, 22.4},
        {5.0, 1, 68, 610, 0x0000, 0.0},
    };
    for (const Row& r : rows) {
        useDevice(r.pickup, r.offset);
        const TimerWord w = encode(r.advance, r.index);
        EXPECT_EQ(w, r.word) << r.advance << " at " << r.index;
        EXPECT_DOUBLE_EQ(decode(w, r.index), r.decoded) << r.advance << " at " << r.index;
    }
}

TEST(TimingCodec, TraceLinesOfTheFirstExample)
{
    useDevice(36, 570);
    EXPECT_EQ(captureStdout([] { cdiDevice.decodeTiming(encodeTiming(10.0, 30), 30); }),
              "RPM: 30 DEG: 26 PRE:  4 PR2:216 POST:  6 WRITE:2DD8\n"
              "RPM: 30 DEG: 10 PRE:  4 PR2:216 POST:  6 READ:2DD8\n");
}

TEST(TimingCodec, SmallWordsArePaddedToFourColumns)
{
    useDevice(36, 570);
    EXPECT_EQ(captureStdout([] { encodeTiming(25.5, 100); }),
              "RPM:100 DEG: 10 PRE:  1 PR2:130 POST:  1 WRITE: 482\n");
}

TEST(TimingCodec, OverflowPrintsTwoLinesAndGivesZero)
{
    useDevice(68, 610);
    TimerWord w = 1;
    EXPECT_EQ(captureStdout([&] { w = encodeTiming(5.0, 1); }),
              "*** over flow ***\n"
              "RPM:  1 DEG: 63 PRE:  0 PR2:  0 POST:  0 WRITE:   0\n");
    EXPECT_EQ(w, 0);
}

TEST(TimingCodec, ZeroRules)
{
    useDevice(36, 570);
    TimerWord atPointZero = 1, ofZero = 1;
    double decoded = 1.0;
    EXPECT_EQ(captureStdout([&] {
                  atPointZero = encodeTiming(20.0, 0);
                  ofZero = encodeTiming(0.0, 80);
                  decoded = cdiDevice.decodeTiming(0, 80);
              }),
              "RPM:  0 DEG:  0 PRE:  0 PR2:  0 POST:  0 WRITE:   0\n"
              "RPM: 80 DEG:  0 PRE:  0 PR2:  0 POST:  0 WRITE:   0\n"
              "RPM: 80 DEG:  0 PRE:  0 PR2:  0 POST:  0 READ:   0\n");
    EXPECT_EQ(atPointZero, 0);  // point 0 always goes out as 0
    EXPECT_EQ(ofZero, 0);
    EXPECT_EQ(decoded, 0.0);

    // The zero test comes before the cut to tenths: 0.05 is encoded with the
    // full delay.
    const TimerWord w = encode(0.05, 20);
    EXPECT_EQ(w, 0x5DEE);
    EXPECT_EQ(decode(w, 20), 0.0);
    // A nonzero word at point 0 decodes to exactly the pickup position.
    EXPECT_EQ(decode(0x2DD8, 0), 36.0);
}

TEST(TimingCodec, TenthsAreCutNotRounded)
{
    useDevice(68, 610);
    EXPECT_EQ(encode(12.34, 15), encode(12.3, 15));
    EXPECT_EQ(encode(12.39, 15), 0x2EFB);

    // 0x2DD2 at point 30 is prescale 4, postscale 6 and period 210: 5,610
    // ticks with the latency, n = 16,830, and 36 - 16,830 / 666.666667 is
    // 10.755, which reads as 10.7.
    useDevice(36, 570);
    EXPECT_DOUBLE_EQ(decode(0x2DD2, 30), 10.7);
}

// Eight steps of 0.1 add up to 0.7999...: a value that is a whole number of
// tenths but for binary rounding is that number, while one truly below it
// is still cut.
TEST(TimingCodec, AWholeNumberOfTenthsIsNotLostToBinaryRounding)
{
    useDevice(36, 570);
    double stepped = 0.0;
    for (int i = 0; i < 8; ++i)
        stepped += 0.1;
    ASSERT_LT(stepped, 0.8);
    for (int index : {10, 60, 120})
        EXPECT_EQ(encode(stepped, index), encode(0.8, index)) << index;
    EXPECT_EQ(encode(0.7999, 60), encode(0.7, 60));
    EXPECT_NE(encode(0.8, 60), encode(0.7, 60));
}

TEST(TimingCodec, DecodingIgnoresBits15And10AndDoesNotClamp)
{
    useDevice(36, 570);
    EXPECT_EQ(decode(0xA9D8, 30), decode(0x2DD8, 30));
    EXPECT_DOUBLE_EQ(decode(0x7FFF, 159), -6205.3);
}

TEST(TimingCodec, DecodeTraceShowsTheTruncatedAdvance)
{
    useDevice(36, 570);
    EXPECT_EQ(captureStdout([] { cdiDevice.decodeTiming(0x7FFF, 159); }),
              "RPM:159 DEG:-6205 PRE: 64 PR2:255 POST: 16 READ:7FFF\n");
}

TEST(TimingCodec, EveryAdvanceInRangeEncodesWithinTheWordLayout)
{
    // For every advance 0..35 in tenths, every point and both presets, the
    // word keeps bit 15 clear and bit 10 set (or is 0), and decoding it
    // again never lands above the pickup position.
    for (int pickup : {36, 68}) {
        useDevice(pickup, pickup == 36 ? 570 : 610);
        std::vector<std::pair<TimerWord, double>> words;  // with what each decodes to
        captureStdout([&] {
            for (int tenths = 1; tenths <= 350; tenths += 7) {
                for (std::uint16_t i = 1; i < 160; ++i) {
                    const TimerWord w = encodeTiming(tenths / 10.0, i);
                    if (w != 0)
                        words.push_back({w, cdiDevice.decodeTiming(w, i)});
                }
            }
        });
        for (const auto& [w, decoded] : words) {
            EXPECT_EQ(w & 0x8000, 0);
            EXPECT_EQ(w & 0x0400, 0x0400);
            EXPECT_LE(decoded, pickup);
        }
    }
}

// What the unit holds, against the worked examples, and without a trace.
TEST(UnitLimits, TheUnitHoldsWhatAWriteAndReadBackGive)
{
    const struct {
        double advance;
        int index, pickup, offset;
        double held;
        bool differs;
    } rows[] = {
        {35.0, 159, 36, 570, 22.4, true},
        {25.5, 100, 36, 570, 25.5, false},
        {5.0, 1, 68, 610, 0.0, false},  // overflows, but point 1 is no running engine's
        {10.0, 30, 36, 570, 10.1, false},
        {30.0, 120, 36, 570, 25.7, true},
        {0.0, 150, 36, 570, 0.0, false},
    };
    for (const auto& r : rows) {
        const TimingReference reference = {static_cast<std::uint8_t>(r.pickup), r.offset, 666.666667};
        const auto index = static_cast<std::uint16_t>(r.index);
        double held = -1;
        EXPECT_EQ(captureStdout([&] { held = unitAdvance(r.advance, index, reference); }), "");
        EXPECT_NEAR(held, r.held, 1e-9) << r.advance << " at " << r.index;
        EXPECT_EQ(runsDifferently(r.advance, index, reference), r.differs) << r.advance << " at " << r.index;
    }
    // The ceiling at 12000 rpm, the codec's own words for it.
    EXPECT_NEAR(unitCeiling(120, {36, 570, 666.666667}), 25.7, 1e-9);
}

TEST(UnitLimits, RunsAreListedWithTheirLargestDifference)
{
    MapTable ignition;
    for (std::uint32_t i = 0; i < MapTable::kPoints; ++i)
        ignition.points[i] = (i >= 120 && i <= 140) ? 30.0 : 10.0, ignition.points[160 + i] = 10.0;
    ignition.points[160 + 60] = 32.0;
    const TimingReference reference = {36, 570, 666.666667};
    const std::vector<DifferentRun> runs = differentRuns(ignition, reference);
    EXPECT_EQ(pointsIn(runs), 22);
    EXPECT_EQ(differentRunsText(runs), "These points will run differently on the unit than the maps show:\n"
                                       "IGN MAP0 12000-14000 rpm, largest at 14000 rpm: 30.0 runs as 24.0\n"
                                       "IGN MAP1 6000 rpm: 32.0 runs as 30.8");

    // Eight runs are listed; the points of the rest are counted.
    for (std::uint32_t i = 20; i < 40; i += 2)
        ignition.points[160 + i] = 35.0;
    const std::vector<std::string> lines = splitLines(differentRunsText(differentRuns(ignition, reference)));
    EXPECT_TRUE(lines.size() == 10u && lines.back() == "and 4 more points");
}
