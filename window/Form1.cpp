#include "Form1.h"

#include <commctrl.h>

#include <initializer_list>

#include "FaceThatDraws.h"
#include "Twips.h"

namespace framelatch {

namespace {

constexpr wchar_t ClassName[] = L"Framelatch.Form1";
constexpr wchar_t Caption[] = L"FLTX";

constexpr DWORD FrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD FrameExStyle = WS_EX_TOOLWINDOW;

// Client area and buttons, in twips.
constexpr int ClientWidthTwips = 1095;
constexpr int ClientHeightTwips = 375;
constexpr int ButtonWidthTwips = 495;
constexpr int Command1LeftTwips = 0;
constexpr int Command2LeftTwips = 600;

SIZE ClientSizeAt(int dpi) {
    return SIZE{TwipsToPixels(ClientWidthTwips, dpi), TwipsToPixels(ClientHeightTwips, dpi)};
}

SIZE WindowSizeAt(const DpiFunctions& dpiFunctions, int dpi) {
    return dpiFunctions.WindowSize(ClientSizeAt(dpi), FrameStyle, FrameExStyle, dpi);
}

// Posted to undo a minimize or maximize once the call that made it has returned.
constexpr UINT RestoreMessage = WM_APP + 1;

constexpr int Command1Id = 101;
constexpr int Command2Id = 102;

constexpr wchar_t Command1Caption[] = L"Min";
constexpr wchar_t Command2Caption[] = L"TB";
// Switches the minimize button.
constexpr wchar_t Command1Tooltip[] = L"最小化ボタンを切り替えます";
// Switches the title bar.
constexpr wchar_t Command2Tooltip[] = L"タイトルバーを切り替えます";

// Gives `controls` the new font, then deletes the old one; should no new font
// be had, they keep the one they have.
void SetFont(GdiFont& owned, HFONT font, std::initializer_list<HWND> controls) {
    if (!font) return;
    for (HWND control : controls) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    owned.Reset(font);
}

}  // namespace

bool Form1::Create(bool activate) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = ClassName;
    // A second Form1 in the same process shares the class.
    if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    // Load lays the window out at the DPI of the monitor it opens on; until
    // then it has the size it would have at the system's DPI.
    dpi_ = DpiFunctions::SystemDpi();
    windowSize_ = WindowSizeAt(dpiFunctions_, dpi_);
    window_ = CreateWindowExW(FrameExStyle, ClassName, Caption, FrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                              windowSize_.cx, windowSize_.cy, nullptr, nullptr, instance_, this);
    if (!window_) return false;

    // The platform grows a new captioned window to its minimum tracking size
    // before this object can answer for it; now that it can, set the size again.
    SetWindowPos(window_, nullptr, 0, 0, windowSize_.cx, windowSize_.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    FitFrameToClientArea();

    // The first ShowWindow of a process may take the launcher's show command
    // instead of ours ("Run: Minimized", start /min, a hidden start). FLTX has
    // no minimize box and no taskbar button, so it must not stay minimized or
    // hidden: WM_SIZE undoes a minimize or maximize, and a hidden FLTX is
    // shown again, which the platform takes as given.
    // Activation puts the focus on Min (see OnActivate).
    const int showCommand = activate ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE;
    ShowWindow(window_, showCommand);
    if (!IsWindowVisible(window_)) ShowWindow(window_, showCommand);
    return true;
}

LRESULT CALLBACK Form1::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        form->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
        form->dpiFunctions_.EnableNonClientScaling(window);
    }
    auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return form ? form->HandleMessage(message, wParam, lParam) : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Form1::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return Load() ? 0 : -1;
    case WM_COMMAND:
        OnCommand(wParam, lParam);
        return 0;
    case WM_ACTIVATE:
        OnActivate(wParam);
        return 0;
    case WM_NOTIFY:
        // Sent before the tooltip measures its text.
        if (reinterpret_cast<const NMHDR*>(lParam)->code == TTN_SHOW && !tooltipsShown_) {
            tooltipsShown_ = true;
            SetTooltipFont();
        }
        return 0;
    case DM_GETDEFID: {
        // Enter presses the button that has the focus, as in a dialog.
        HWND button = FocusedButton();
        return MAKELRESULT(GetDlgCtrlID(button ? button : command1_), DC_HASDEFID);
    }
    case WM_GETDPISCALEDSIZE:
        // Asked before a DPI change: the size that holds the client area at
        // the new DPI, where the platform would scale the old size instead.
        *reinterpret_cast<SIZE*>(lParam) = WindowSizeAt(dpiFunctions_, static_cast<int>(wParam));
        return TRUE;
    case WM_DPICHANGED:
        // Moved to a monitor of another scale, or that monitor's scale changed.
        if (lParam) OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_SIZE:
        // Whatever minimized or maximized it (a launcher, a window manager
        // that applies a maximize late), FLTX goes back to its own size.
        if (wParam == SIZE_MINIMIZED || wParam == SIZE_MAXIMIZED) PostMessageW(window_, RestoreMessage, 0, 0);
        return 0;
    case RestoreMessage:
        if (IsIconic(window_) || IsZoomed(window_)) ShowWindow(window_, SW_RESTORE);
        return 0;
    case WM_GETMINMAXINFO: {
        // Keeps the window at its own size, below the platform's minimum.
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = POINT{windowSize_.cx, windowSize_.cy};
        return 0;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        PostQuitMessage(0);
        window_ = nullptr;
        return 0;
    default:
        return DefWindowProcW(window_, message, wParam, lParam);
    }
}

bool Form1::Load() {
    system_.SetOwner(window_);
    toggles_.InitialiseToggles();

    command1_ = CreateButton(Command1Caption, Command1Id, BS_DEFPUSHBUTTON);
    command2_ = CreateButton(Command2Caption, Command2Id, BS_PUSHBUTTON);
    if (!command1_ || !command2_) return false;
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                               instance_, nullptr);
    AddTooltip(command1_, Command1Tooltip);
    AddTooltip(command2_, Command2Tooltip);

    dpi_ = dpiFunctions_.WindowDpi(window_);
    windowSize_ = WindowSizeAt(dpiFunctions_, dpi_);
    LayOut();
    lastFocus_ = command1_;
    return true;
}

HWND Form1::CreateButton(const wchar_t* caption, int id, DWORD defaultStyle) {
    // Placed and given its font by LayOut.
    return CreateWindowExW(0, WC_BUTTONW, caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | defaultStyle, 0, 0, 0, 0,
                           window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
}

void Form1::LayOut() {
    // Both buttons are as high as the client area.
    const int height = TwipsToPixels(ClientHeightTwips, dpi_);
    const int width = TwipsToPixels(ButtonWidthTwips, dpi_);
    MoveWindow(command1_, TwipsToPixels(Command1LeftTwips, dpi_), 0, width, height, TRUE);
    MoveWindow(command2_, TwipsToPixels(Command2LeftTwips, dpi_), 0, width, height, TRUE);

    LOGFONTW font{};
    if (dpiFunctions_.MessageFont(dpi_, font)) SetFont(font_, CreateFontIndirectW(&font), {command1_, command2_});
    SetTooltipFont();
}

void Form1::SetTooltipFont() {
    LOGFONTW font{};
    if (!tooltip_ || !dpiFunctions_.StatusFont(dpi_, font)) return;
    // The tooltips are Japanese: in a face that draws them. Looked for once
    // they are about to show, so that FLTX's start does not wait for it.
    if (tooltipsShown_) ChooseFaceThatDraws(font, {Command1Tooltip, Command2Tooltip});
    SetFont(tooltipFont_, CreateFontIndirectW(&font), {tooltip_});
}

void Form1::OnDpiChanged(int dpi, const RECT& suggested) {
    dpi_ = dpi;
    windowSize_ = SIZE{suggested.right - suggested.left, suggested.bottom - suggested.top};
    LayOut();
    // Where the platform suggests, the window keeps its place at the new scale.
    SetWindowPos(window_, nullptr, suggested.left, suggested.top, windowSize_.cx, windowSize_.cy,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    FitFrameToClientArea();
}

void Form1::FitFrameToClientArea() {
    // The window size is worked out from the frame the platform says it draws
    // at this DPI; the frame it really draws may differ (a theme, or Wine
    // drawing the frame at a system DPI that changed under a running server).
    // The client area, not the frame, must hold the buttons: grow or shrink
    // the window by the difference, once.
    RECT client{};
    RECT frame{};
    if (IsIconic(window_) || !GetClientRect(window_, &client) || !GetWindowRect(window_, &frame)) return;
    const SIZE wanted = ClientSizeAt(dpi_);
    const LONG dx = wanted.cx - client.right;
    const LONG dy = wanted.cy - client.bottom;
    if (dx == 0 && dy == 0) return;
    // The minimum tracking size must allow the corrected size first.
    windowSize_ = SIZE{frame.right - frame.left + dx, frame.bottom - frame.top + dy};
    SetWindowPos(window_, nullptr, 0, 0, windowSize_.cx, windowSize_.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form1::AddTooltip(HWND button, const wchar_t* text) {
    if (!tooltip_) return;
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(button);
    tool.lpszText = const_cast<wchar_t*>(text);
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void Form1::OnActivate(WPARAM wParam) {
    // Gives the focus back to the button that had it when the user comes
    // back to the window, after the warning box or another program. The
    // platform may take the focus from the buttons before FLTX is
    // deactivated; then the button noted at the press stands.
    if (LOWORD(wParam) == WA_INACTIVE) {
        if (HWND button = FocusedButton()) lastFocus_ = button;
    } else if (!IsIconic(window_)) {
        SetFocus(lastFocus_);
    }
}

void Form1::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) != BN_CLICKED) return;
    // The focus comes back to the pressed button after a warning.
    const auto sender = reinterpret_cast<HWND>(lParam);
    if (sender == command1_ || sender == command2_) lastFocus_ = sender;
    switch (LOWORD(wParam)) {
    case Command1Id:
        toggles_.ToggleMinimizeBox();
        break;
    case Command2Id:
        toggles_.ToggleTitleBar();
        break;
    default:
        break;
    }
}

HWND Form1::FocusedButton() const {
    HWND focus = GetFocus();
    return (focus == command1_ || focus == command2_) ? focus : nullptr;
}

}  // namespace framelatch
