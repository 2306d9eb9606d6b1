// Form1 in this process, where its fonts and metrics can be read directly.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>

#include "Form1.h"

namespace framelatch {
namespace {

LOGFONTW FontOf(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font;
}

TEST(Form1, ButtonsUseTheSystemMessageFont) {
    Form1 form(GetModuleHandleW(nullptr));
    ASSERT_TRUE(form.Create(SW_SHOWNOACTIVATE));

    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));

    int buttons = 0;
    for (HWND child = GetWindow(form.Handle(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        ++buttons;
        ASSERT_NE(SendMessageW(child, WM_GETFONT, 0, 0), 0) << "a button without a font draws in the System font";
        const LOGFONTW font = FontOf(child);
        EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
        EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
    }
    EXPECT_EQ(buttons, 2);

    DestroyWindow(form.Handle());
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) break;
        DispatchMessageW(&message);
    }
    EXPECT_EQ(message.message, static_cast<UINT>(WM_QUIT)) << "destroying the window ends the program's loop";
}

}  // namespace
}  // namespace framelatch
