// Form1 in this process, where its window, its layout at each DPI and its
// focus can be read directly.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <iterator>
#include <utility>
#include <vector>

#include "DpiFunctions.h"
#include "Form1Fixture.h"

namespace framelatch {
namespace {

// As a platform may do: disabling the window takes the focus from its buttons
// before the window is deactivated.
LRESULT CALLBACK DropFocusWhenDisabled(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR) {
    if (message == WM_ENABLE && !wParam && IsChild(window, GetFocus())) SetFocus(nullptr);
    return DefSubclassProc(window, message, wParam, lParam);
}

// As a platform that draws another frame than it reports would: every edge a
// few pixels thicker than the platform's own, the top one more so.
constexpr int ExtraFrame = 2;
constexpr int ExtraFrameTop = 5;

LRESULT CALLBACK ThickerFrame(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_NCCALCSIZE) {
        // The client rectangle: the first of NCCALCSIZE_PARAMS, or the only one.
        RECT& client = *reinterpret_cast<RECT*>(lParam);
        client.left += ExtraFrame;
        client.top += ExtraFrameTop;
        client.right -= ExtraFrame;
        client.bottom -= ExtraFrame;
    }
    return result;
}

// Gives each Form1 that this thread creates the thicker frame from the start.
LRESULT CALLBACK GiveFormsAThickerFrame(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const auto window = reinterpret_cast<HWND>(wParam);
        wchar_t className[64] = L"";
        GetClassNameW(window, className, static_cast<int>(std::size(className)));
        if (std::wcscmp(className, L"Framelatch.Form1") == 0) SetWindowSubclass(window, ThickerFrame, 2, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

SIZE SizeOf(const RECT& rect) { return SIZE{rect.right - rect.left, rect.bottom - rect.top}; }

TEST_F(Form1Test, ButtonsUseTheSystemMessageFont) {
    const NONCLIENTMETRICSW metrics = SystemMetrics();
    const std::vector<HWND> buttons = Buttons();
    ASSERT_EQ(buttons.size(), 2u);
    for (HWND button : buttons) {
        ASSERT_NE(SendMessageW(button, WM_GETFONT, 0, 0), 0) << "a button without a font draws in the System font";
        const LOGFONTW font = FontOf(button);
        EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
        EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
    }

    DestroyWindow(form_.Handle());
    EXPECT_TRUE(PumpMessages()) << "destroying the window ends the program's loop";
}

struct LayoutAtDpi {
    int dpi;
    SIZE client;
    RECT command1;
    RECT command2;
};

TEST_F(Form1Test, LaysItselfOutAgainWhenItsDpiChanges) {
    const HWND window = form_.Handle();
    const int systemDpi = DpiFunctions::SystemDpi();
    const LONG systemFontHeight = SystemMetrics().lfMessageFont.lfHeight;
    const LONG systemTooltipFontHeight = SystemMetrics().lfStatusFont.lfHeight;
    const HWND tooltip = Tooltip();
    ASSERT_NE(tooltip, nullptr);
    ASSERT_EQ(systemDpi, 96) << "the session runs at 96 DPI";

    // 1095 x 375 twips of client area; the buttons 495 twips wide, at 0 and 600.
    const LayoutAtDpi layouts[] = {
        {144, {110, 38}, {0, 0, 50, 38}, {60, 0, 110, 38}},
        {96, {73, 25}, {0, 0, 33, 25}, {40, 0, 73, 25}},
    };
    for (const LayoutAtDpi& layout : layouts) {
        SCOPED_TRACE(testing::Message() << layout.dpi << " DPI");
        const HFONT oldFont = reinterpret_cast<HFONT>(SendMessageW(Buttons()[0], WM_GETFONT, 0, 0));
        const HFONT oldTooltipFont = reinterpret_cast<HFONT>(SendMessageW(tooltip, WM_GETFONT, 0, 0));
        RECT suggested = Suggested(layout.client);
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(layout.dpi, layout.dpi), reinterpret_cast<LPARAM>(&suggested));

        const RECT placed = WindowRect(window);
        EXPECT_TRUE(EqualRect(&placed, &suggested)) << "the window takes the suggested rectangle";
        const SIZE client = ClientSize(window);
        EXPECT_NEAR(client.cx, layout.client.cx, 1);
        EXPECT_NEAR(client.cy, layout.client.cy, 1);

        const std::vector<HWND> buttons = Buttons();
        ASSERT_EQ(buttons.size(), 2u);
        const RECT expectedRects[] = {layout.command1, layout.command2};
        for (size_t i = 0; i < buttons.size(); ++i) {
            const RECT rect = ClientRectIn(window, buttons[i]);
            const RECT& expected = expectedRects[i];
            EXPECT_NEAR(rect.left, expected.left, 1);
            EXPECT_NEAR(rect.top, expected.top, 1);
            EXPECT_NEAR(rect.right, expected.right, 1);
            EXPECT_NEAR(rect.bottom, expected.bottom, 1);
            EXPECT_NEAR(FontOf(buttons[i]).lfHeight, MulDiv(systemFontHeight, layout.dpi, systemDpi), 1);
        }
        EXPECT_EQ(SendMessageW(buttons[0], WM_GETFONT, 0, 0), SendMessageW(buttons[1], WM_GETFONT, 0, 0));
        EXPECT_EQ(GetObjectType(oldFont), 0u) << "the font of the previous DPI is deleted";

        // The tooltips take the status font of the new DPI.
        EXPECT_NEAR(FontOf(tooltip).lfHeight, MulDiv(systemTooltipFontHeight, layout.dpi, systemDpi), 1);
        EXPECT_EQ(GetObjectType(oldTooltipFont), 0u) << "the tooltip font of the previous DPI is deleted";
    }
}

TEST_F(Form1Test, AsksForTheSizeThatHoldsItsClientAreaAtTheNewDpi) {
    using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    const auto adjust = reinterpret_cast<AdjustWindowRectExForDpiFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    ASSERT_NE(adjust, nullptr);
    const HWND window = form_.Handle();
    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));

    for (const auto& [dpi, client] : {std::pair{144, SIZE{110, 38}}, std::pair{120, SIZE{91, 31}}}) {
        RECT expected{0, 0, client.cx, client.cy};
        ASSERT_TRUE(adjust(&expected, style, FALSE, exStyle, dpi));
        SIZE size{};
        EXPECT_TRUE(SendMessageW(window, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&size)));
        EXPECT_EQ(size.cx, expected.right - expected.left) << dpi << " DPI";
        EXPECT_EQ(size.cy, expected.bottom - expected.top) << dpi << " DPI";
    }
}

TEST_F(Form1Test, TooltipsShowAtTheButtonsNewPlaceAfterADpiChange) {
    RECT suggested = Suggested(SIZE{110, 38});
    SendMessageW(form_.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    const HWND tooltip = Tooltip();
    ASSERT_NE(tooltip, nullptr);

    // Command2's middle at 144 DPI lies beyond the right edge the window had at 96.
    const HWND command2 = GetDlgItem(form_.Handle(), Command2Id);
    const RECT inClient = ClientRectIn(form_.Handle(), command2);
    ASSERT_GT((inClient.left + inClient.right) / 2, 73);
    ASSERT_TRUE(ShowsTooltipOf(tooltip, command2)) << "no tooltip for TB under the pointer";
    wchar_t text[80] = L"";
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    SendMessageW(tooltip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = text;
    SendMessageW(tooltip, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, L"タイトルバーを切り替えます");
}

TEST(Form1Frame, ClientAreaIsExactWhateverFrameThePlatformDraws) {
    const HHOOK hook = SetWindowsHookExW(WH_CBT, GiveFormsAThickerFrame, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    Form1 form(GetModuleHandleW(nullptr));
    const bool created = form.Create(false);
    UnhookWindowsHookEx(hook);
    ASSERT_TRUE(created);
    const HWND window = form.Handle();
    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
    const DpiFunctions functions;

    // The client area is `expected`, both buttons are as high, and the
    // platform's minimum size does not take the correction back.
    const auto expectExact = [&](SIZE expected) {
        const SIZE client = ClientSize(window);
        EXPECT_EQ(client.cx, expected.cx);
        EXPECT_EQ(client.cy, expected.cy);
        for (const int id : {Command1Id, Command2Id}) {
            EXPECT_EQ(SizeOf(ClientRectIn(window, GetDlgItem(window, id))).cy, client.cy) << "control " << id;
        }
        const SIZE frame = SizeOf(WindowRect(window));
        MINMAXINFO limits{};
        SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        EXPECT_EQ(limits.ptMinTrackSize.x, frame.cx);
        EXPECT_EQ(limits.ptMinTrackSize.y, frame.cy);
        return frame;
    };

    // At creation the window grew by the frame's extra pixels, and by nothing else.
    const SIZE reported = functions.WindowSize(SIZE{73, 25}, style, exStyle, 96);
    const SIZE frame = expectExact(SIZE{73, 25});
    EXPECT_EQ(frame.cx, reported.cx + 2 * ExtraFrame);
    EXPECT_EQ(frame.cy, reported.cy + ExtraFrameTop + ExtraFrame);

    // After a DPI change to the rectangle the platform suggests for the frame it
    // reports. (Its own frame may then differ from that one too, as Wine's does.)
    const SIZE suggestedSize = functions.WindowSize(SIZE{110, 38}, style, exStyle, 144);
    const RECT now = WindowRect(window);
    RECT suggested{now.left + 40, now.top + 30, now.left + 40 + suggestedSize.cx, now.top + 30 + suggestedSize.cy};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    SCOPED_TRACE("144 DPI");
    expectExact(SIZE{110, 38});
    DestroyWindow(window);
    PumpMessages();
}

TEST_F(Form1Test, GoesBackToItsNormalWindowWhateverMinimizesOrMaximizesIt) {
    const HWND window = form_.Handle();
    for (const int showCommand : {SW_SHOWMINNOACTIVE, SW_SHOWMAXIMIZED, SW_MINIMIZE}) {
        SCOPED_TRACE(testing::Message() << "ShowWindow " << showCommand);
        ShowWindow(window, showCommand);
        EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(window) && !IsIconic(window) && !IsZoomed(window); }));
        const SIZE client = ClientSize(window);
        EXPECT_EQ(client.cx, 73);
        EXPECT_EQ(client.cy, 25);
    }
}

TEST_F(Form1Test, FocusComesBackToThePressedButtonAfterTheWarning) {
    // No target runs in this session, so each press shows the not-running warning.
    const HWND window = form_.Handle();
    ASSERT_TRUE(SetWindowSubclass(window, DropFocusWhenDisabled, 1, 0));
    for (const int pressedId : {Command2Id, Command1Id}) {
        SCOPED_TRACE(pressedId == Command2Id ? "TB" : "Min");
        const HWND pressed = GetDlgItem(window, pressedId);
        ASSERT_TRUE(PressForTheWarning(window, pressedId).found) << "no warning box came";
        EXPECT_TRUE(PumpUntil([&] { return GetFocus() == pressed; }))
            << "the focus is on control " << GetDlgCtrlID(GetFocus());
    }
    RemoveWindowSubclass(window, DropFocusWhenDisabled, 1);
}

}  // namespace
}  // namespace framelatch
