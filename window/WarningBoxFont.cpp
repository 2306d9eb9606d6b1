#include "WarningBoxFont.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "DeviceContext.h"
#include "FaceThatDraws.h"

namespace framelatch {

namespace {

// A hook procedure is given no context of its own: the one watcher that
// lives, on the program's one thread.
WarningBoxFont* watching = nullptr;

RECT RectIn(HWND parent, HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// The box's static control that shows `text`: its id differs between
// platforms (0xFFFF on Windows and in current Wine, 100 in older Wine).
HWND ControlShowing(HWND box, const wchar_t* text) {
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t shown[160] = L"";
        GetWindowTextW(child, shown, static_cast<int>(std::size(shown)));
        if (std::wcscmp(shown, text) == 0) return child;
    }
    return nullptr;
}

}  // namespace

WarningBoxFont::WarningBoxFont(HWND owner, const wchar_t* text)
    : owner_(owner), text_(text), hook_(SetWindowsHookExW(WH_CBT, OnCbt, nullptr, GetCurrentThreadId())) {
    watching = this;
}

WarningBoxFont::~WarningBoxFont() {
    if (hook_) UnhookWindowsHookEx(hook_);
    watching = nullptr;
}

LRESULT CALLBACK WarningBoxFont::OnCbt(int code, WPARAM wParam, LPARAM lParam) {
    // The one window made for the owner while the box is shown is the box.
    WarningBoxFont* self = watching;
    if (code == HCBT_CREATEWND && self && !self->box_) {
        const CREATESTRUCTW& created = *reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        if (created.hwndParent == self->owner_ && !(created.style & WS_CHILD)) {
            self->box_ = reinterpret_cast<HWND>(wParam);
            self->boxProcedure_ = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(self->box_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OnBoxMessage)));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK WarningBoxFont::OnBoxMessage(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    WarningBoxFont* self = watching;
    const LRESULT result = CallWindowProcW(self->boxProcedure_, box, message, wParam, lParam);
    // Once the platform has laid the box out, and before it is drawn.
    if (message == WM_INITDIALOG) self->Fit(box);
    return result;
}

void WarningBoxFont::Fit(HWND box) {
    const HWND label = ControlShowing(box, text_);
    if (!label) return;
    const auto current = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    LOGFONTW logFont{};
    if (!GetObjectW(current, sizeof(logFont), &logFont)) return;
    if (!ChooseFaceThatDraws(logFont, {text_})) return;
    font_.Reset(CreateFontIndirectW(&logFont));
    if (!font_.Get()) return;
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);

    // The text in its new face, wrapped as the control wraps it, no narrower
    // than the platform made it and up to a third of the screen wide.
    const RECT place = RectIn(box, label);
    const LONG width = place.right - place.left;
    const LONG height = place.bottom - place.top;
    RECT workArea{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    RECT needed{0, 0, std::max(width, (workArea.right - workArea.left) / 3), 0};
    {
        const ScreenDc screen;
        const Selection withFont(screen.Get(), font_.Get());
        DrawTextW(screen.Get(), text_, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    }
    const LONG dx = std::max(0L, needed.right - width);
    const LONG dy = std::max(0L, needed.bottom - height);
    if (dx == 0 && dy == 0) return;
    constexpr UINT Keep = SWP_NOZORDER | SWP_NOACTIVATE;
    SetWindowPos(label, nullptr, 0, 0, width + dx, height + dy, Keep | SWP_NOMOVE);

    // The buttons below the text go down with it and stay centred; the box
    // grows around its centre.
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const RECT at = RectIn(box, child);
        if (child != label && at.top >= place.bottom) {
            SetWindowPos(child, nullptr, at.left + dx / 2, at.top + dy, 0, 0, Keep | SWP_NOSIZE);
        }
    }
    RECT frame{};
    GetWindowRect(box, &frame);
    SetWindowPos(box, nullptr, frame.left - dx / 2, frame.top - dy / 2, frame.right - frame.left + dx,
                 frame.bottom - frame.top + dy, Keep);
}

}  // namespace framelatch
