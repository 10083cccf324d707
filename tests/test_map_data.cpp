// Map tables, configuration block layout and engine presets.
#include <gtest/gtest.h>

#include <cstddef>
#include <limits>

#include "cdi_device.h"
#include "map_table.h"

TEST(MapTable, ValueOutOfRangeIsMinusOne)
{
    MapTable t;
    t.lowerClamp = 0;
    t.upperClamp = 35;
    t.setValue(1, 159, 12.5);
    EXPECT_EQ(t.value(1, 159), 12.5);
    EXPECT_EQ(t.value(2, 0), -1.0);
    EXPECT_EQ(t.value(0, 160), -1.0);
    EXPECT_EQ(t.value(static_cast<std::uint32_t>(-1), 80), -1.0);
    EXPECT_EQ(t.value(0, static_cast<std::uint32_t>(-1)), -1.0);
}

TEST(MapTable, SetValueClampsUpperThenLowerAndIgnoresOutOfRange)
{
    MapTable t;
    t.lowerClamp = 0;
    t.upperClamp = 35;
    t.setValue(1, 159, 40.0);
    EXPECT_EQ(t.points[319], 35.0);
    t.setValue(0, 5, -2.0);
    EXPECT_EQ(t.points[5], 0.0);
    t.setValue(0, 6, 0.1);
    EXPECT_EQ(t.points[6], 0.1);

    MapTable before = t;
    t.setValue(2, 0, 10.0);
    t.setValue(0, 160, 10.0);
    for (std::size_t k = 0; k < MapTable::kRun; ++k)
        EXPECT_EQ(t.points[k], before.points[k]) << k;
    EXPECT_EQ(t.lowerClamp, 0.0);
    EXPECT_EQ(t.upperClamp, 35.0);

    MapTable inverted;
    inverted.lowerClamp = 10;
    inverted.upperClamp = 5;
    inverted.setValue(0, 0, 7.0);
    EXPECT_EQ(inverted.points[0], 10.0);  // the lower bound wins
}

TEST(MapTable, ClampsFollowTheMapPoints)
{
    // The clamps are elements 320 and 321 of one array of doubles.
    EXPECT_EQ(offsetof(MapTable, lowerClamp), 320 * sizeof(double));
    EXPECT_EQ(offsetof(MapTable, upperClamp), 321 * sizeof(double));
    EXPECT_EQ(sizeof(MapTable), 322 * sizeof(double));
}

TEST(ConfigBlock, ByteLayoutIsTheUnitsImage)
{
    EXPECT_EQ(offsetof(ConfigBlock, qsEnablePoint), 2u);
    EXPECT_EQ(offsetof(ConfigBlock, qsDelayCount), 3u);
    EXPECT_EQ(offsetof(ConfigBlock, qsCutCount), 4u);
    EXPECT_EQ(offsetof(ConfigBlock, qsInvalidCount), 5u);
    EXPECT_EQ(offsetof(ConfigBlock, qsStopSwitch), 6u);
    EXPECT_EQ(offsetof(ConfigBlock, qsReverse), 7u);
    EXPECT_EQ(offsetof(ConfigBlock, revLimit), 8u);
    EXPECT_EQ(offsetof(ConfigBlock, engineConstant), 10u);
    EXPECT_EQ(offsetof(ConfigBlock, pulseType), 12u);
    EXPECT_EQ(offsetof(ConfigBlock, pickupDeg), 13u);

    ConfigBlock c = {};
    c.setEngineConstant(37500);
    EXPECT_EQ(c.bytes()[10], 0x7C);
    EXPECT_EQ(c.bytes()[11], 0x92);
    EXPECT_EQ(c.engineConstantValue(), 37500);
}

TEST(CdiDevice, InitialValues)
{
    CdiDevice d;
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(d.config.bytes()[i], i == 13 ? 36 : 0) << i;
    for (auto b : d.outReport)
        EXPECT_EQ(b, 0);
    for (auto b : d.inReport)
        EXPECT_EQ(b, 0);
    EXPECT_EQ(d.deviceHandle, nullptr);
    EXPECT_EQ(d.log, nullptr);
    EXPECT_EQ(d.latencyOffset, 570);
    EXPECT_EQ(d.timerConstant, 666.666667);
}

TEST(EnginePreset, TypeOneAndEveryOtherValue)
{
    cdiDevice = CdiDevice();
    cdiDevice.config.revLimit = 99;
    applyEnginePreset(1);
    EXPECT_EQ(cdiDevice.config.pulseType, 1);
    EXPECT_EQ(cdiDevice.config.pickupDeg, 68);
    EXPECT_EQ(cdiDevice.config.bytes()[10], 0x7C);
    EXPECT_EQ(cdiDevice.config.bytes()[11], 0x92);
    EXPECT_EQ(cdiDevice.latencyOffset, 610);
    for (std::uint8_t type : {0, 2, 3, 255}) {
        applyEnginePreset(1);
        applyEnginePreset(type);
        EXPECT_EQ(cdiDevice.config.pulseType, 2) << int(type);
        EXPECT_EQ(cdiDevice.config.pickupDeg, 36);
        EXPECT_EQ(cdiDevice.config.engineConstantValue(), 18750);
        EXPECT_EQ(cdiDevice.latencyOffset, 570);
    }
    EXPECT_EQ(cdiDevice.config.revLimit, 99);  // nothing else is touched
}

TEST(LowByte, IntegerPartCutTowardZeroThenLowEightBits)
{
    EXPECT_EQ(lowByte(37.9), 37);
    EXPECT_EQ(lowByte(160.0), 160);
    EXPECT_EQ(lowByte(255.99), 255);
    EXPECT_EQ(lowByte(256.0), 0);
    EXPECT_EQ(lowByte(300.0), 44);
    EXPECT_EQ(lowByte(-0.5), 0);
    EXPECT_EQ(lowByte(-1.0), 255);
    EXPECT_EQ(lowByte(1e12 + 3.0), 3);  // beyond int: wraps like a wide integer
    EXPECT_EQ(lowByte(-1e12 - 3.0), 253);
    EXPECT_EQ(lowByte(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(lowByte(std::numeric_limits<double>::infinity()), 0);
}
