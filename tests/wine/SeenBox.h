// A message box as a user saw it: read by another thread once the box is up
// and active, after whatever was done to it before, then closed with OK.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "FontGlyphs.h"

namespace framelatch {

struct SeenBox {
    bool found = false;
    std::wstring caption;
    std::wstring text;
    std::vector<std::wstring> buttons;
    HFONT textFont = nullptr;
    HFONT buttonFont = nullptr;
    bool exclamationIcon = false;
    bool ownerEnabledWhileUp = true;
    // The text's font has a glyph of its own for each character.
    bool textInItsFontsGlyphs = false;
    // The text wrapped in its font fits its control, and the control and the
    // buttons below it lie in the box.
    bool textShowsWhole = false;
};

namespace seen_box {

inline RECT RectIn(HWND box, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, box, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

inline bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

// Wraps the text as a static control does, and checks where everything lies.
inline bool ShowsWhole(HWND box, HWND label, HFONT font, const std::wstring& text) {
    const RECT place = RectIn(box, label);
    RECT needed{0, 0, place.right - place.left, 0};
    const HDC dc = GetDC(label);
    const HGDIOBJ previous = SelectObject(dc, font);
    DrawTextW(dc, text.c_str(), -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);
    RECT client{};
    GetClientRect(box, &client);
    bool whole = needed.right <= place.right - place.left && needed.bottom <= place.bottom - place.top &&
                 Inside(place, client);
    for (HWND button = FindWindowExW(box, nullptr, L"Button", nullptr); button;
         button = FindWindowExW(box, button, L"Button", nullptr)) {
        const RECT at = RectIn(box, button);
        whole = whole && Inside(at, client) && at.top >= place.bottom;
    }
    return whole;
}

inline void Read(HWND box, HWND owner, SeenBox& seen) {
    wchar_t buffer[256]{};
    GetWindowTextW(box, buffer, 256);
    seen.caption = buffer;
    const HWND label = GetDlgItem(box, 0xFFFF);
    GetWindowTextW(label, buffer, 256);
    seen.text = buffer;
    for (HWND button = FindWindowExW(box, nullptr, L"Button", nullptr); button;
         button = FindWindowExW(box, button, L"Button", nullptr)) {
        if (!IsWindowVisible(button)) continue;
        GetWindowTextW(button, buffer, 256);
        seen.buttons.push_back(buffer);
        seen.buttonFont = reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0));
    }
    const HWND icon = GetDlgItem(box, 0x0440);
    seen.exclamationIcon = icon && reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0)) ==
                                       LoadIconW(nullptr, MAKEINTRESOURCEW(32515) /* IDI_EXCLAMATION */);
    seen.ownerEnabledWhileUp = IsWindowEnabled(owner) != FALSE;
    seen.textFont = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    seen.textInItsFontsGlyphs = HasEveryGlyph(seen.textFont, seen.text);
    seen.textShowsWhole = ShowsWhole(box, label, seen.textFont, seen.text);
}

struct Watch {
    HWND owner;
    SeenBox seen;
};

// Waits ten seconds at most for an active box owned by the watched window.
inline DWORD WINAPI WatchForBox(void* parameter) {
    auto& watch = *static_cast<Watch*>(parameter);
    for (const ULONGLONG deadline = GetTickCount64() + 10000; GetTickCount64() < deadline; Sleep(20)) {
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr))) {
            if (GetWindow(box, GW_OWNER) == watch.owner && IsWindowVisible(box) && GetForegroundWindow() == box) {
                Read(box, watch.owner, watch.seen);
                watch.seen.found = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return 0;
            }
        }
    }
    return 1;
}

}  // namespace seen_box

// Runs `press` while another thread reads, and closes, the box it shows.
template <typename Press>
SeenBox PressAndReadBox(HWND owner, Press press) {
    seen_box::Watch watch{owner, {}};
    const HANDLE watcher = CreateThread(nullptr, 0, seen_box::WatchForBox, &watch, 0, nullptr);
    if (!watcher) return watch.seen;
    press();
    WaitForSingleObject(watcher, 15000);
    CloseHandle(watcher);
    return watch.seen;
}

}  // namespace framelatch
