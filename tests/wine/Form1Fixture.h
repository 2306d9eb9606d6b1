// What the in-process tests of Form1 share: reading its window, its fonts
// and its warning, pumping its messages, and a Form1 made for each test.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

#include "Form1.h"
#include "SeenBox.h"

namespace framelatch {

constexpr int Command1Id = 101;
constexpr int Command2Id = 102;

inline LOGFONTW FontOf(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font;
}

inline NONCLIENTMETRICSW SystemMetrics() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    return metrics;
}

// Runs the messages that are waiting; returns whether WM_QUIT was among them.
inline bool PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return true;
        DispatchMessageW(&message);
    }
    return false;
}

// Pumps messages until `condition` holds, for at most five seconds.
template <typename Condition>
inline bool PumpUntil(Condition condition) {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!condition()) {
        if (GetTickCount64() > deadline) return false;
        PumpMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

inline RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

inline RECT ClientRectIn(HWND parent, HWND control) {
    RECT rect = WindowRect(control);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

inline SIZE ClientSize(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    return SIZE{rect.right, rect.bottom};
}

// Presses a button of `window` with no target running, and reads the warning.
inline SeenBox PressForTheWarning(HWND window, int buttonId) {
    return PressAndReadBox(window, [&] { SendMessageW(GetDlgItem(window, buttonId), BM_CLICK, 0, 0); });
}

// Puts the pointer on `button` and waits for `tooltip` to show its tip.
inline bool ShowsTooltipOf(HWND tooltip, HWND button) {
    const RECT rect = WindowRect(button);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    return PumpUntil([&] {
        return IsWindowVisible(tooltip) &&
               SendMessageW(tooltip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) &&
               tool.uId == reinterpret_cast<UINT_PTR>(button);
    });
}

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(form_.Create(false)); }
    void TearDown() override {
        if (form_.Handle()) DestroyWindow(form_.Handle());
        PumpMessages();
    }

    std::vector<HWND> Buttons() const {
        std::vector<HWND> buttons;
        for (HWND child = GetWindow(form_.Handle(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            buttons.push_back(child);
        }
        return buttons;
    }

    // The tooltip window that Form1 owns.
    HWND Tooltip() const {
        HWND tooltip = nullptr;
        while ((tooltip = FindWindowExW(nullptr, tooltip, TOOLTIPS_CLASSW, nullptr))) {
            if (GetWindow(tooltip, GW_OWNER) == form_.Handle()) return tooltip;
        }
        return nullptr;
    }

    // What the platform suggests on a change to `dpi`: the window a little
    // further on, with room for the client area of that DPI in its frame.
    RECT Suggested(SIZE client) const {
        const RECT window = WindowRect(form_.Handle());
        const SIZE now = ClientSize(form_.Handle());
        const LONG left = window.left + 40;
        const LONG top = window.top + 30;
        return RECT{left, top, left + (window.right - window.left) - now.cx + client.cx,
                    top + (window.bottom - window.top) - now.cy + client.cy};
    }

    Form1 form_{GetModuleHandleW(nullptr)};
};

}  // namespace framelatch
