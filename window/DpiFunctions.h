#pragma once

#include <windows.h>

namespace framelatch {

// The per-monitor DPI calls of user32 (Windows 10 1607 and later), looked up
// at run time in the user32 the program already has loaded, so that the
// program still starts on Windows 7 and 8.1. Where they are missing the
// program is system-DPI aware, and the system's DPI stands in for each
// window's own.
class DpiFunctions {
public:
    DpiFunctions();

    // Dots per inch of the screen as the system reports them to a DPI-aware
    // program: the DPI of the primary monitor when the session started.
    static int SystemDpi();

    // Dots per inch that `window` is laid out at: its monitor's, when the
    // program is per-monitor aware.
    int WindowDpi(HWND window) const;

    // Size of a window with these styles whose client area is `client` at `dpi`.
    SIZE WindowSize(SIZE client, DWORD style, DWORD exStyle, int dpi) const;

    // The font the system uses in message boxes and dialogs, at `dpi`; false
    // when the system does not tell.
    bool MessageFont(int dpi, LOGFONTW& font) const;

    // The font of status bars and tooltips, at `dpi`; false when the system
    // does not tell.
    bool StatusFont(int dpi, LOGFONTW& font) const;

    // Asks for the frame to be scaled with the client area on a DPI change,
    // which per-monitor v1 (Windows 10 1607) does only when asked during
    // WM_NCCREATE. Does nothing where the call is missing.
    void EnableNonClientScaling(HWND window) const;

private:
    bool NonClientFont(int dpi, LOGFONTW NONCLIENTMETRICSW::*which, LOGFONTW& font) const;

    using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
    using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    using SystemParametersInfoForDpiFunction = BOOL(WINAPI*)(UINT, UINT, void*, UINT, UINT);
    using EnableNonClientDpiScalingFunction = BOOL(WINAPI*)(HWND);

    GetDpiForWindowFunction getDpiForWindow_ = nullptr;
    AdjustWindowRectExForDpiFunction adjustWindowRectExForDpi_ = nullptr;
    SystemParametersInfoForDpiFunction systemParametersInfoForDpi_ = nullptr;
    EnableNonClientDpiScalingFunction enableNonClientDpiScaling_ = nullptr;
};

}  // namespace framelatch
