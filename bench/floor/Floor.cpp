// The floor for the benchmark: Framelatch's job in as little Win32 as it
// takes. A fixed tool window of the same size with two buttons and their
// tooltips, a dialog-style loop, and a press that makes the same three calls.
#include <windows.h>

#include <commctrl.h>

static bool minFlag = true;
static bool tbFlag = true;

static void Press(bool& flag, LONG mask, bool setWhileTrue) {
    HWND target = FindWindowA("DuskVein", "Dusk Vein");
    if (!target) {
        MessageBoxW(GetActiveWindow(), L"DUSK VEINが起動されていません", L"Framelatch", MB_ICONEXCLAMATION);
        return;
    }
    LONG style = GetWindowLongA(target, GWL_STYLE);
    SetWindowLongA(target, GWL_STYLE, flag == setWhileTrue ? (style | mask) : (style ^ mask));
    flag = !flag;
}

static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == 101) Press(minFlag, WS_MINIMIZEBOX, true);
        if (LOWORD(wParam) == 102) Press(tbFlag, WS_CAPTION, false);
        return 0;
    }
    if (message == WM_GETMINMAXINFO) {
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{0, 0};
        return 0;
    }
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"FramelatchFloor";
    RegisterClassW(&windowClass);

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    RECT frame{0, 0, MulDiv(1095, dpi, 1440), MulDiv(375, dpi, 1440)};
    AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_TOOLWINDOW);
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"FramelatchFloor", L"FLTX", WS_CAPTION | WS_SYSMENU,
                                  CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                  nullptr, nullptr, instance, nullptr);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER);

    HWND tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                                   window, nullptr, instance, nullptr);
    const wchar_t* captions[] = {L"Min", L"TB"};
    const wchar_t* tips[] = {L"最小化ボタンを切り替えます", L"タイトルバーを切り替えます"};
    for (int i = 0; i < 2; ++i) {
        HWND button = CreateWindowExW(0, L"BUTTON", captions[i], WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                                      MulDiv(600 * i, dpi, 1440), 0, MulDiv(495, dpi, 1440), MulDiv(375, dpi, 1440),
                                      window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(101 + i)), instance,
                                      nullptr);
        TOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window;
        tool.uId = reinterpret_cast<UINT_PTR>(button);
        tool.lpszText = const_cast<wchar_t*>(tips[i]);
        SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    ShowWindow(window, show);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
