// A stand-in for the target application: a main window of class "DuskVein"
// titled "Dusk Vein" with an ordinary overlapped frame, which shows its own
// frame style bits and recalculates its frame whenever its style changes.
//
//   DuskVein.exe [--style HEX] [--class NAME] [--title TEXT] [--redraw no]
//
// With --redraw no it does nothing when its style changes, as most programs
// do: its frame shows a new style only the next time it is recalculated
// (a resize, a minimize and restore).
//
// It also answers two private messages, for tests:
//   WM_APP + 1 (wParam = milliseconds): stops pumping messages for that long.
//   WM_APP + 2: returns how many style changes it has seen.
//   WM_APP + 4: returns when the latest style change arrived, in microseconds
//               of the performance counter (low 32 bits).
// and signals the event "DuskVeinStyleChanged" at every style change.
#include <windows.h>

#include "ToolSupport.h"

#include <shellapi.h>

#include <cwchar>

namespace {

constexpr UINT HangMessage = WM_APP + 1;
constexpr UINT StyleChangeCountMessage = WM_APP + 2;
constexpr UINT RecalculateFrameMessage = WM_APP + 3;
constexpr UINT LastStyleChangeMessage = WM_APP + 4;

struct Options {
    DWORD style = WS_OVERLAPPEDWINDOW;
    const wchar_t* className = L"DuskVein";
    const wchar_t* title = L"Dusk Vein";
    bool redraw = true;
};

struct TargetState {
    bool redraw = true;
    LONG styleChanges = 0;
    ULONGLONG lastStyleChangeMicroseconds = 0;
    HANDLE styleChanged = CreateEventW(nullptr, FALSE, FALSE, L"DuskVeinStyleChanged");
};

void DrawStyle(HWND window, HDC dc) {
    const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    wchar_t lines[3][64];
    swprintf(lines[0], 64, L"Title bar: %ls", (style & WS_CAPTION) == WS_CAPTION ? L"on"
                                               : (style & WS_CAPTION)               ? L"partial"
                                                                                    : L"off");
    swprintf(lines[1], 64, L"Minimize box: %ls", (style & WS_MINIMIZEBOX) ? L"on" : L"off");
    swprintf(lines[2], 64, L"Style: 0x%08lX", static_cast<unsigned long>(style));

    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    const int lineHeight = metrics.tmHeight + metrics.tmExternalLeading + 4;
    for (int i = 0; i < 3; ++i) {
        TextOutW(dc, 12, 12 + i * lineHeight, lines[i], static_cast<int>(wcslen(lines[i])));
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TargetState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        break;
    case WM_STYLECHANGED:
        if (wParam == static_cast<WPARAM>(GWL_STYLE)) {
            state->lastStyleChangeMicroseconds = NowMicroseconds();
            ++state->styleChanges;
            SetEvent(state->styleChanged);
            // The writer waits for this message to return: recalculate the
            // frame right after, not inside it.
            if (state->redraw) PostMessageW(window, RecalculateFrameMessage, 0, 0);
        }
        return 0;
    case RecalculateFrameMessage:
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    case HangMessage:
        Sleep(static_cast<DWORD>(wParam));
        return 0;
    case StyleChangeCountMessage:
        return state->styleChanges;
    case LastStyleChangeMessage:
        return static_cast<LRESULT>(state->lastStyleChangeMicroseconds & 0xFFFFFFFFULL);
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        DrawStyle(window, dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

Options ParseOptions() {
    Options options;
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; args && i + 1 < count; i += 2) {
        if (wcscmp(args[i], L"--style") == 0) options.style = wcstoul(args[i + 1], nullptr, 16);
        if (wcscmp(args[i], L"--class") == 0) options.className = args[i + 1];
        if (wcscmp(args[i], L"--title") == 0) options.title = args[i + 1];
        if (wcscmp(args[i], L"--redraw") == 0) options.redraw = wcscmp(args[i + 1], L"no") != 0;
    }
    return options;  // args stay allocated for the life of the process
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const Options options = ParseOptions();

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = options.className;
    if (!RegisterClassExW(&windowClass)) return 1;

    TargetState state{options.redraw};
    HWND window = CreateWindowExW(0, options.className, options.title, options.style, 160, 120, 360, 200, nullptr,
                                  nullptr, instance, &state);
    if (!window) return 1;
    // CreateWindow adds frame bits of its own; keep the style asked for.
    SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(options.style));
    state.styleChanges = 0;
    SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(window, showCommand);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
