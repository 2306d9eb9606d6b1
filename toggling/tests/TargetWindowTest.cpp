#include <gtest/gtest.h>

#include "AnsiText.h"
#include "FakeWindowSystem.h"
#include "TargetWindow.h"

namespace framelatch {
namespace {

constexpr WindowStyle Overlapped = 0x14CF0000;

TEST(TargetWindow, FindsTheTopLevelWindowByClassAndTitleIgnoringCase) {
    testing::FakeWindowSystem system;
    EXPECT_EQ(FindTargetWindow(system), 0u);

    const WindowHandle target = system.OpenWindow("DUSKVEIN", "dusk vein", Overlapped);
    EXPECT_EQ(FindTargetWindow(system), target);

    system.Close(target);
    EXPECT_EQ(FindTargetWindow(system), 0u) << "a closed target must not be remembered";
}

TEST(TargetWindow, IgnoresNearMissesAndChildWindows) {
    testing::FakeWindowSystem system;
    system.OpenWindow("DuskVein", "Dusk  Vein", Overlapped);
    system.OpenWindow("DuskVein", "DuskVein", Overlapped);
    system.OpenWindow("DuskVein", "Dusk Vein ", Overlapped);
    system.OpenWindow("DuskVein", "Dusk Vein - save.dv", Overlapped);
    system.OpenWindow("Dusk Vein", "Dusk Vein", Overlapped);
    system.OpenWindow("DuskVeinX", "Dusk Vein", Overlapped);
    const WindowHandle host = system.OpenWindow("Host", "Host", Overlapped);
    system.OpenChild(host, "DuskVein", "Dusk Vein", 0x50000000);

    EXPECT_EQ(FindTargetWindow(system), 0u);
}

TEST(TargetWindow, TakesTheFirstMatchInZOrder) {
    testing::FakeWindowSystem system;
    const WindowHandle older = system.OpenWindow("DuskVein", "Dusk Vein", Overlapped);
    const WindowHandle newer = system.OpenWindow("DuskVein", "Dusk Vein", Overlapped);
    EXPECT_EQ(FindTargetWindow(system), newer);

    system.Raise(older);
    EXPECT_EQ(FindTargetWindow(system), older);
}

TEST(TargetWindow, WarningHasTheExactTextCaptionAndStyle) {
    testing::FakeWindowSystem system;
    WarnTargetNotRunning(system);

    ASSERT_EQ(system.messageBoxes.size(), 1u);
    const auto& box = system.messageBoxes.front();
    // "DUSK VEINが起動されていません", spelled out code unit by code unit.
    const std::u16string expected{u'D', u'U', u'S', u'K', u' ', u'V', u'E', u'I', u'N', 0x304C, 0x8D77,
                                  0x52D5, 0x3055, 0x308C, 0x3066, 0x3044, 0x307E, 0x305B, 0x3093};
    EXPECT_EQ(box.text, expected);
    EXPECT_EQ(box.caption, u"Framelatch");
    EXPECT_EQ(box.style, 0x30u);
    EXPECT_EQ(system.styleReads + system.styleWrites, 0);
}

TEST(TargetWindow, RefusalWarningHasItsOwnTextAndTheSameCaptionAndStyle) {
    testing::FakeWindowSystem system;
    WarnTargetRefusedChange(system);

    ASSERT_EQ(system.messageBoxes.size(), 1u);
    const auto& box = system.messageBoxes.front();
    EXPECT_EQ(box.text, u"DUSK VEINのウィンドウを変更できませんでした。"
                        u"DUSK VEINを管理者として実行している場合は、Framelatchも管理者として実行してください。");
    EXPECT_EQ(box.text.size(), 79u);
    EXPECT_EQ(box.caption, u"Framelatch");
    EXPECT_EQ(box.style, 0x30u);
}

TEST(AnsiText, KeepsAsciiAndMarksWhatAnAnsiCodePageMayLack) {
    const AnsiText ascii(u"Dusk Vein");
    EXPECT_STREQ(ascii.c_str(), "Dusk Vein");

    constexpr char16_t mixed[] = u"A\u304CB\u00E9";
    const AnsiText replaced(mixed);
    EXPECT_STREQ(replaced.c_str(), "A?B?");
}

}  // namespace
}  // namespace framelatch
