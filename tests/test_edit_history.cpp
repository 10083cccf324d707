// The edit history's rules, with the clock given by hand: what is one
// change, what undo and redo give back, and how much is kept.
#include <gtest/gtest.h>

#include <limits>
#include <utility>
#include <vector>

#include "edit_history.h"

namespace {
int sliderA, sliderB;
const ChangeOrigin up{ChangeOrigin::MapStep, 0, 80};
const ChangeOrigin otherCursor{ChangeOrigin::MapStep, 0, 85};
const ChangeOrigin otherMap{ChangeOrigin::MapStep, 1, 80};
const ChangeOrigin slider{ChangeOrigin::OptionControl, -1, -1, &sliderA};
const ChangeOrigin otherSlider{ChangeOrigin::OptionControl, -1, -1, &sliderB};
const ChangeOrigin command{};
const ChangeOrigin nudge{ChangeOrigin::Nudge, -1, -1, nullptr, {5, 0, 9, 1}};
const ChangeOrigin otherCells{ChangeOrigin::Nudge, -1, -1, nullptr, {5, 0, 9, 0}};

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
    EXPECT_EQ(changesIn({{up, 0}, {up, .05}, {up, .1}, {up, .15}, {up, .2}, {up, .25}, {up, .3}, {up, .35}}), 1);
    EXPECT_EQ(changesIn({{up, 10}, {up, 10.75}, {up, 11.5}}), 1) << "a held key";
    EXPECT_EQ(changesIn({{up, 0}, {up, 0.81}}), 2);
    EXPECT_EQ(changesIn({{up, 0}, {otherCursor, 0.1}, {up, 0.2}}), 3);
    EXPECT_EQ(changesIn({{up, 0}, {otherMap, 0.1}}), 2);
    EXPECT_EQ(changesIn({{slider, 0}, {slider, 0.5}, {slider, 1.0}}), 1);
    EXPECT_EQ(changesIn({{slider, 0}, {otherSlider, 0.1}, {up, 0.2}}), 3);
    EXPECT_EQ(changesIn({{command, 0}, {command, 0.1}}), 2);
    EXPECT_EQ(changesIn({{nudge, 0}, {nudge, 0.45}, {nudge, 0.9}}), 1);
    EXPECT_EQ(changesIn({{nudge, 0}, {nudge, 0.5}}), 2) << "0.5 s apart";
    EXPECT_EQ(changesIn({{nudge, 0}, {otherCells, 0.1}, {up, 0.2}}), 3);
}

TEST(EditHistory, UndoRedoAndWhatIsNoChange)
{
    EditHistory history;
    EditState s;
    ChangeOrigin origin;
    EXPECT_FALSE(recordChange(history, state(1), command, 0)) << "not started";
    startHistory(history, state(0));
    EXPECT_FALSE(recordChange(history, state(0), up, 0));
    recordChange(history, state(1), otherMap, 1);
    EXPECT_TRUE(recordChange(history, state(0), otherMap, 1.5)) << "back where it began";
    EXPECT_FALSE(undoChange(history, s, origin) || redoChange(history, s, origin));
    recordChange(history, state(1), otherMap, 3);
    recordChange(history, state(2), slider, 4);

    ASSERT_TRUE(undoChange(history, s, origin));
    EXPECT_TRUE(sameState(s, state(1)));
    ASSERT_TRUE(undoChange(history, s, origin));
    EXPECT_TRUE(sameState(s, state(0)));
    EXPECT_EQ(origin.map, 1);
    EXPECT_FALSE(undoChange(history, s, origin));
    ASSERT_TRUE(redoChange(history, s, origin));
    EXPECT_TRUE(sameState(s, state(1)));

    EXPECT_FALSE(recordChange(history, state(1), command, 5)) << "a no-op keeps the redo step";
    // Same origin within the gap, but after a redo: a new change, and the
    // redo step goes.
    EXPECT_TRUE(recordChange(history, state(3), otherMap, 3.1));
    EXPECT_FALSE(redoChange(history, s, origin));
    ASSERT_TRUE(undoChange(history, s, origin));
    EXPECT_TRUE(sameState(s, state(1)));
}

TEST(EditHistory, KeepsTheLast500Changes)
{
    EditHistory history;
    startHistory(history, state(0));
    for (int n = 1; n <= 600; ++n)
        recordChange(history, state(n), command, n);
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
    EditState kept = state(-0.0);
    kept.ignition[1] = std::numeric_limits<double>::quiet_NaN();
    kept.valve[5] = 255.0;
    kept.config.opaque14[49] = 0xA5;
    kept.latencyOffset = 610;
    EditState plusZero = kept;
    plusZero.ignition[80] = 0.0;
    EXPECT_FALSE(sameState(kept, plusZero)) << "-0.0 is not 0.0";
    restoreState(kept, ignition, valve, device);
    EXPECT_TRUE(sameState(captureState(ignition, valve, device), kept));
}
}  // namespace
