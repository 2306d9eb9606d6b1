#include <gtest/gtest.h>

#include <vector>

#include "FakeWindowSystem.h"
#include "FrameToggles.h"
#include "TargetWindow.h"

namespace framelatch {
namespace {

// Visible, clip-siblings, overlapped window with every frame part.
constexpr WindowStyle FullFrame = 0x14CF0000;
constexpr WindowStyle NoMinimizeBox = FullFrame & ~MinimizeBoxMask;

class FrameTogglesTest : public ::testing::Test {
protected:
    FrameTogglesTest() { toggles.InitialiseToggles(); }

    WindowHandle StartTarget(WindowStyle style) { return system.OpenWindow("DuskVein", "Dusk Vein", style); }

    testing::FakeWindowSystem system;
    FrameToggles toggles{system};
};

TEST(FrameTogglesLifecycle, FlagsStartFalseAndInitialiseToTrue) {
    testing::FakeWindowSystem system;
    FrameToggles toggles(system);
    EXPECT_FALSE(toggles.MinFlag());
    EXPECT_FALSE(toggles.TBFlag());
    toggles.InitialiseToggles();
    EXPECT_TRUE(toggles.MinFlag());
    EXPECT_TRUE(toggles.TBFlag());
}

TEST_F(FrameTogglesTest, MinimizeBoxComesAndGoesOnATargetWithoutIt) {
    const WindowHandle target = StartTarget(NoMinimizeBox);
    std::vector<WindowStyle> styles;
    std::vector<bool> flags;
    for (int press = 0; press < 4; ++press) {
        toggles.ToggleMinimizeBox();
        styles.push_back(system.StyleOf(target));
        flags.push_back(toggles.MinFlag());
    }
    EXPECT_EQ(styles, (std::vector<WindowStyle>{FullFrame, NoMinimizeBox, FullFrame, NoMinimizeBox}));
    EXPECT_EQ(flags, (std::vector<bool>{false, true, false, true}));
    EXPECT_EQ(system.styleReads, 4);
    EXPECT_EQ(system.styleWrites, 4);
    EXPECT_TRUE(system.messageBoxes.empty());
}

TEST_F(FrameTogglesTest, MinimizeBoxAlreadyPresentStaysOnTheFirstPress) {
    const WindowHandle target = StartTarget(FullFrame);
    std::vector<WindowStyle> styles;
    for (int press = 0; press < 4; ++press) {
        toggles.ToggleMinimizeBox();
        styles.push_back(system.StyleOf(target));
    }
    EXPECT_EQ(styles, (std::vector<WindowStyle>{FullFrame, NoMinimizeBox, FullFrame, NoMinimizeBox}));
}

TEST_F(FrameTogglesTest, TitleBarGoesAndComesBackOnAFullFrame) {
    const WindowHandle target = StartTarget(FullFrame);
    const WindowStyle noTitleBar = FullFrame & ~CaptionMask;
    std::vector<WindowStyle> styles;
    std::vector<bool> flags;
    for (int press = 0; press < 4; ++press) {
        toggles.ToggleTitleBar();
        styles.push_back(system.StyleOf(target));
        flags.push_back(toggles.TBFlag());
    }
    EXPECT_EQ(styles, (std::vector<WindowStyle>{noTitleBar, FullFrame, noTitleBar, FullFrame}));
    EXPECT_EQ(flags, (std::vector<bool>{false, true, false, true}));
}

TEST_F(FrameTogglesTest, TitleBarWithOneOfItsTwoBitsSwapsThenFills) {
    const WindowStyle borderOnly = (FullFrame & ~CaptionMask) | BorderMask;
    const WindowHandle target = StartTarget(borderOnly);

    toggles.ToggleTitleBar();
    EXPECT_EQ(system.StyleOf(target), (FullFrame & ~CaptionMask) | DialogFrameMask);
    toggles.ToggleTitleBar();
    EXPECT_EQ(system.StyleOf(target), FullFrame);
}

TEST_F(FrameTogglesTest, BitsOutsideTheMaskAndTheOtherToggleAreLeftAlone) {
    // Every bit but the two masks set, then none of them.
    for (const WindowStyle others : {~(MinimizeBoxMask | CaptionMask), WindowStyle{0x10000000}}) {
        testing::FakeWindowSystem system;
        FrameToggles toggles(system);
        toggles.InitialiseToggles();
        const WindowHandle target = system.OpenWindow("DuskVein", "Dusk Vein", others | CaptionMask);

        toggles.ToggleMinimizeBox();
        EXPECT_EQ(system.StyleOf(target), others | CaptionMask | MinimizeBoxMask);
        EXPECT_TRUE(toggles.TBFlag()) << "a Min press must not touch the title bar's flag";

        toggles.ToggleTitleBar();
        EXPECT_EQ(system.StyleOf(target), others | MinimizeBoxMask);
        EXPECT_FALSE(toggles.MinFlag()) << "a TB press must not touch the minimize button's flag";
    }
}

TEST_F(FrameTogglesTest, TwoPressesOfEachRestoreTheFirstStyle) {
    const WindowHandle target = StartTarget(NoMinimizeBox);
    toggles.ToggleMinimizeBox();
    toggles.ToggleTitleBar();
    toggles.ToggleTitleBar();
    toggles.ToggleMinimizeBox();
    EXPECT_EQ(system.StyleOf(target), NoMinimizeBox);
    EXPECT_TRUE(toggles.MinFlag());
    EXPECT_TRUE(toggles.TBFlag());
}

TEST_F(FrameTogglesTest, NoTargetWarnsAndChangesNothing) {
    const WindowHandle other = system.OpenWindow("Notepad", "Dusk Vein", FullFrame);
    toggles.ToggleTitleBar();
    toggles.ToggleMinimizeBox();

    ASSERT_EQ(system.messageBoxes.size(), 2u);
    for (const auto& box : system.messageBoxes) {
        EXPECT_EQ(box.caption, u"Framelatch");
        EXPECT_EQ(box.style, 0x30u);
    }
    EXPECT_EQ(system.styleReads, 0);
    EXPECT_EQ(system.styleWrites, 0);
    EXPECT_EQ(system.StyleOf(other), FullFrame);
    EXPECT_TRUE(toggles.MinFlag());
    EXPECT_TRUE(toggles.TBFlag());

    // Started later, the target meets the flags as they were: Flip first.
    const WindowHandle target = StartTarget(FullFrame);
    toggles.ToggleTitleBar();
    EXPECT_EQ(system.StyleOf(target), FullFrame & ~CaptionMask);
}

TEST_F(FrameTogglesTest, FlagsCarryOverATargetThatClosesAndRestarts) {
    WindowHandle target = StartTarget(FullFrame);
    toggles.ToggleTitleBar();  // Flip: title bar gone, flag false
    system.Close(target);

    toggles.ToggleTitleBar();
    EXPECT_EQ(system.messageBoxes.size(), 1u);
    EXPECT_FALSE(toggles.TBFlag());

    // The restarted target has its title bar again; the flag says Set.
    target = StartTarget(FullFrame);
    toggles.ToggleTitleBar();
    EXPECT_EQ(system.StyleOf(target), FullFrame);
    EXPECT_TRUE(toggles.TBFlag());
    toggles.ToggleTitleBar();
    EXPECT_EQ(system.StyleOf(target), FullFrame & ~CaptionMask);
}

TEST_F(FrameTogglesTest, OnlyTheFrontmostOfSeveralTargetsIsChanged) {
    const WindowHandle back = StartTarget(FullFrame);
    const WindowHandle front = StartTarget(FullFrame);
    toggles.ToggleTitleBar();
    EXPECT_EQ(system.StyleOf(front), FullFrame & ~CaptionMask);
    EXPECT_EQ(system.StyleOf(back), FullFrame);
}

TEST_F(FrameTogglesTest, TargetClosingAfterTheLookupIsReportedAsNotRunningAndNotCounted) {
    WindowHandle target = StartTarget(NoMinimizeBox);
    system.afterNextFind = [&] { system.Close(target); };
    toggles.ToggleMinimizeBox();

    EXPECT_EQ(system.styleWrites, 0) << "no style may be built from a failed read";
    ASSERT_EQ(system.messageBoxes.size(), 1u);
    EXPECT_EQ(system.messageBoxes.back().text, NotRunningMessage);
    EXPECT_TRUE(toggles.MinFlag());

    target = StartTarget(NoMinimizeBox);
    system.afterNextRead = [&] { system.Close(target); };
    toggles.ToggleMinimizeBox();
    ASSERT_EQ(system.messageBoxes.size(), 2u);
    EXPECT_EQ(system.messageBoxes.back().text, NotRunningMessage);
    EXPECT_TRUE(toggles.MinFlag()) << "a write that reached no window must not flip the flag";

    // A new instance starts from the rule the flag still holds: Set.
    target = StartTarget(NoMinimizeBox);
    toggles.ToggleMinimizeBox();
    EXPECT_EQ(system.StyleOf(target), FullFrame);
}

TEST_F(FrameTogglesTest, TargetThatRefusesTheChangeIsReportedAsSuchAndNotCounted) {
    const WindowHandle elevated = StartTarget(FullFrame);
    system.RefuseChanges(elevated);

    toggles.ToggleTitleBar();
    toggles.ToggleMinimizeBox();

    ASSERT_EQ(system.messageBoxes.size(), 2u);
    for (const auto& box : system.messageBoxes) {
        EXPECT_EQ(box.text, RefusedChangeMessage) << "the target runs: it must not be called not running";
        EXPECT_EQ(box.caption, u"Framelatch");
        EXPECT_EQ(box.style, 0x30u);
    }
    EXPECT_EQ(system.StyleOf(elevated), FullFrame);
    EXPECT_EQ(system.styleReads, 2);
    EXPECT_EQ(system.styleWrites, 2) << "one write a press, and no second try";
    EXPECT_TRUE(toggles.TBFlag());
    EXPECT_TRUE(toggles.MinFlag());

    // Run the same way as Framelatch, the target meets the flags as they were.
    system.Close(elevated);
    const WindowHandle target = StartTarget(FullFrame);
    toggles.ToggleTitleBar();
    EXPECT_EQ(system.StyleOf(target), FullFrame & ~CaptionMask);
    EXPECT_EQ(system.messageBoxes.size(), 2u);
}

TEST_F(FrameTogglesTest, StyleOfZeroIsAStyleNotAFailure) {
    // A failure earlier in the thread's life must not be taken for this press's.
    system.SetLastError(ErrorAccessDenied);
    const WindowHandle target = StartTarget(0);

    toggles.ToggleMinimizeBox();  // reads 0, and the write returns the previous style, 0
    EXPECT_EQ(system.StyleOf(target), MinimizeBoxMask);
    EXPECT_FALSE(toggles.MinFlag());

    toggles.ToggleTitleBar();
    EXPECT_EQ(system.StyleOf(target), MinimizeBoxMask | CaptionMask);
    EXPECT_FALSE(toggles.TBFlag());
    EXPECT_TRUE(system.messageBoxes.empty());
}

}  // namespace
}  // namespace framelatch
