// The edit history's rules, with the clock given by hand: what is one
// change, what undo and redo give back, and how much is kept.
#include <gtest/gtest.h>

#include <limits>
#include <utility>
#include <vector>

#include "edit_history.h"

namespace {
int sliderA, sliderB;

ChangeOrigin step(int map, int cursor)
{
    ChangeOrigin origin;
    origin.kind = ChangeOrigin::MapStep;
    origin.map = map;
    origin.cursor = cursor;
    return origin;
}

ChangeOrigin option(const void* control)
{
    ChangeOrigin origin;
    origin.kind = ChangeOrigin::OptionControl;
    origin.control = control;
    return origin;
}

// A state told from the others by one number.
EditState state(double n)
{
    EditState s{};
    s.ignition[80] = n;
    return s;
}

// Each step leaves a new state; the changes are counted by undoing them.
int changesIn(const std::vector<std::pair<ChangeOrigin, double>>& steps)
{
    EditHistory history;
    startHistory(history, state(0));
    for (std::size_t i = 0; i < steps.size(); ++i)
        recordChange(history, state(i + 1.0), steps[i].first, steps[i].second);
    EditState s;
    ChangeOrigin origin;
    int changes = 0;
    while (undoChange(history, s, origin))
        ++changes;
    return changes;
}

TEST(EditHistory, OneGestureIsOneChange)
{
    const ChangeOrigin up = step(0, 80);
    EXPECT_EQ(changesIn({{up, 0}, {up, .05}, {up, .1}, {up, .15}, {up, .2}, {up, .25}, {up, .3}, {up, .35}}), 1);
    EXPECT_EQ(changesIn({{up, 10}, {up, 10.75}, {up, 11.5}}), 1) << "a held key";
    EXPECT_EQ(changesIn({{up, 0}, {up, 0.81}}), 2);
    EXPECT_EQ(changesIn({{up, 0}, {step(0, 85), 0.1}, {up, 0.2}}), 3) << "another cursor between";
    EXPECT_EQ(changesIn({{up, 0}, {step(1, 80), 0.1}}), 2) << "another map";
    EXPECT_EQ(changesIn({{option(&sliderA), 0}, {option(&sliderA), 0.5}, {option(&sliderA), 1.0}}), 1);
    EXPECT_EQ(changesIn({{option(&sliderA), 0}, {option(&sliderB), 0.1}, {up, 0.2}}), 3);
    EXPECT_EQ(changesIn({{ChangeOrigin{}, 0}, {ChangeOrigin{}, 0.1}}), 2) << "commands";
}

TEST(EditHistory, UndoRedoAndWhatIsNoChange)
{
    EditHistory history;
    EditState s;
    ChangeOrigin origin;
    EXPECT_FALSE(recordChange(history, state(1), ChangeOrigin{}, 0)) << "not started";
    startHistory(history, state(0));
    EXPECT_FALSE(recordChange(history, state(0), step(0, 80), 0));
    recordChange(history, state(1), step(1, 40), 1);
    EXPECT_TRUE(recordChange(history, state(0), step(1, 40), 1.5)) << "back where it began";
    EXPECT_FALSE(undoChange(history, s, origin) || redoChange(history, s, origin));
    recordChange(history, state(1), step(1, 40), 3);
    recordChange(history, state(2), option(&sliderA), 4);

    ASSERT_TRUE(undoChange(history, s, origin));
    EXPECT_TRUE(sameState(s, state(1)));
    ASSERT_TRUE(undoChange(history, s, origin));
    EXPECT_TRUE(sameState(s, state(0)));
    EXPECT_EQ(origin.map, 1);
    EXPECT_EQ(origin.cursor, 40);
    EXPECT_FALSE(undoChange(history, s, origin));
    ASSERT_TRUE(redoChange(history, s, origin));
    EXPECT_TRUE(sameState(s, state(1)));

    EXPECT_FALSE(recordChange(history, state(1), ChangeOrigin{}, 5)) << "a no-op keeps the redo step";
    // Same origin within the gap, but after a redo: a new change, and the
    // redo step goes.
    EXPECT_TRUE(recordChange(history, state(3), step(1, 40), 3.1));
    EXPECT_FALSE(redoChange(history, s, origin));
    ASSERT_TRUE(undoChange(history, s, origin));
    EXPECT_TRUE(sameState(s, state(1)));
}

TEST(EditHistory, KeepsTheLast500Changes)
{
    EditHistory history;
    startHistory(history, state(0));
    for (int n = 1; n <= 600; ++n)
        recordChange(history, state(n), ChangeOrigin{}, n);
    EditState s;
    ChangeOrigin origin;
    for (int n = 599; n >= 100; --n) {
        ASSERT_TRUE(undoChange(history, s, origin));
        ASSERT_TRUE(sameState(s, state(n))) << n;
    }
    EXPECT_FALSE(undoChange(history, s, origin));
}

// -0.0, NaN and values beyond the clamps come back as they were.
TEST(EditHistory, StateComesBackBitForBit)
{
    MapTable ignition, valve;
    CdiDevice device;
    ignition.points[0] = -0.0;
    ignition.points[1] = std::numeric_limits<double>::quiet_NaN();
    valve.points[5] = 255.0;
    device.config.opaque14[49] = 0xA5;
    device.latencyOffset = 610;
    const EditState kept = captureState(ignition, valve, device);
    EditState zero = kept;
    zero.ignition[0] = 0.0;
    EXPECT_FALSE(sameState(kept, zero)) << "-0.0 is not 0.0";

    MapTable ignitionAfter, valveAfter;
    CdiDevice deviceAfter;
    restoreState(kept, ignitionAfter, valveAfter, deviceAfter);
    EXPECT_TRUE(sameState(captureState(ignitionAfter, valveAfter, deviceAfter), kept));
}
}  // namespace
