// Ignition timing codec: the worked examples, the edge cases and the exact
// trace text each call prints.
#include <gtest/gtest.h>

#include <string>

#include "timing_codec.h"

namespace {
void useDevice(int pickup, int offset)
{
    cdiDevice = CdiDevice();
    cdiDevice.config.pickupDeg = static_cast<std::uint8_t>(pickup);
    cdiDevice.latencyOffset = offset;
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
        testing::internal::CaptureStdout();
        TimerWord w = encodeTiming(r.advance, static_cast<std::uint16_t>(r.index));
        double back = cdiDevice.decodeTiming(w, static_cast<std::uint16_t>(r.index));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(w, r.word) << r.advance << " at " << r.index;
        EXPECT_DOUBLE_EQ(back, r.decoded) << r.advance << " at " << r.index;
    }
}

TEST(TimingCodec, TraceLinesOfTheFirstExample)
{
    useDevice(36, 570);
    testing::internal::CaptureStdout();
    TimerWord w = encodeTiming(10.0, 30);
    cdiDevice.decodeTiming(w, 30);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "RPM: 30 DEG: 26 PRE:  4 PR2:216 POST:  6 WRITE:2DD8\n"
              "RPM: 30 DEG: 10 PRE:  4 PR2:216 POST:  6 READ:2DD8\n");
}

TEST(TimingCodec, SmallWordsArePaddedToFourColumns)
{
    useDevice(36, 570);
    testing::internal::CaptureStdout();
    encodeTiming(25.5, 100);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "RPM:100 DEG: 10 PRE:  1 PR2:130 POST:  1 WRITE: 482\n");
}

TEST(TimingCodec, OverflowPrintsTwoLinesAndGivesZero)
{
    useDevice(68, 610);
    testing::internal::CaptureStdout();
    EXPECT_EQ(encodeTiming(5.0, 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "*** over flow ***\n"
              "RPM:  1 DEG: 63 PRE:  0 PR2:  0 POST:  0 WRITE:   0\n");
}

TEST(TimingCodec, ZeroRules)
{
    useDevice(36, 570);
    testing::internal::CaptureStdout();
    EXPECT_EQ(encodeTiming(20.0, 0), 0);  // point 0 always goes out as 0
    EXPECT_EQ(encodeTiming(0.0, 80), 0);
    EXPECT_EQ(cdiDevice.decodeTiming(0, 80), 0.0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "RPM:  0 DEG:  0 PRE:  0 PR2:  0 POST:  0 WRITE:   0\n"
              "RPM: 80 DEG:  0 PRE:  0 PR2:  0 POST:  0 WRITE:   0\n"
              "RPM: 80 DEG:  0 PRE:  0 PR2:  0 POST:  0 READ:   0\n");

    // The zero test comes before the cut to tenths: 0.05 is encoded with the
    // full delay.
    testing::internal::CaptureStdout();
    TimerWord w = encodeTiming(0.05, 20);
    EXPECT_EQ(w, 0x5DEE);
    EXPECT_EQ(cdiDevice.decodeTiming(w, 20), 0.0);
    // A nonzero word at point 0 decodes to exactly the pickup position.
    EXPECT_EQ(cdiDevice.decodeTiming(0x2DD8, 0), 36.0);
    testing::internal::GetCapturedStdout();
}

TEST(TimingCodec, TenthsAreCutNotRounded)
{
    useDevice(68, 610);
    testing::internal::CaptureStdout();
    EXPECT_EQ(encodeTiming(12.34, 15), encodeTiming(12.3, 15));
    EXPECT_EQ(encodeTiming(12.39, 15), 0x2EFB);
    testing::internal::GetCapturedStdout();
}

TEST(TimingCodec, DecodingIgnoresBits15And10AndDoesNotClamp)
{
    useDevice(36, 570);
    testing::internal::CaptureStdout();
    EXPECT_EQ(cdiDevice.decodeTiming(0xA9D8, 30), cdiDevice.decodeTiming(0x2DD8, 30));
    EXPECT_DOUBLE_EQ(cdiDevice.decodeTiming(0x7FFF, 159), -6205.3);
    testing::internal::GetCapturedStdout();
}

TEST(TimingCodec, DecodeTraceShowsTheTruncatedAdvance)
{
    useDevice(36, 570);
    testing::internal::CaptureStdout();
    cdiDevice.decodeTiming(0x7FFF, 159);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "RPM:159 DEG:-6205 PRE: 64 PR2:255 POST: 16 READ:7FFF\n");
}

TEST(TimingCodec, EveryAdvanceInRangeEncodesWithinTheWordLayout)
{
    // For every advance 0..35 in tenths, every point and both presets, the
    // word keeps bit 15 clear and bit 10 set (or is 0), and decoding it
    // again never lands above the pickup position.
    for (int pickup : {36, 68}) {
        useDevice(pickup, pickup == 36 ? 570 : 610);
        testing::internal::CaptureStdout();
        for (int tenths = 1; tenths <= 350; tenths += 7) {
            for (int i = 1; i < 160; ++i) {
                TimerWord w = encodeTiming(tenths / 10.0, static_cast<std::uint16_t>(i));
                if (w == 0)
                    continue;
                EXPECT_EQ(w & 0x8000, 0);
                EXPECT_EQ(w & 0x0400, 0x0400);
                EXPECT_LE(cdiDevice.decodeTiming(w, static_cast<std::uint16_t>(i)), pickup);
            }
        }
        testing::internal::GetCapturedStdout();
    }
}
