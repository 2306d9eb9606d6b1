#include "DpiFunctions.h"

#include "DeviceContext.h"
#include "LoadedExport.h"

namespace framelatch {

namespace {

constexpr int DefaultDpi = 96;

}  // namespace

DpiFunctions::DpiFunctions() {
    // Already loaded: the program imports user32. Nothing else is loaded for these.
    constexpr wchar_t user32[] = L"user32.dll";
    getDpiForWindow_ = LoadedExport<GetDpiForWindowFunction>(user32, "GetDpiForWindow");
    adjustWindowRectExForDpi_ = LoadedExport<AdjustWindowRectExForDpiFunction>(user32, "AdjustWindowRectExForDpi");
    systemParametersInfoForDpi_ =
        LoadedExport<SystemParametersInfoForDpiFunction>(user32, "SystemParametersInfoForDpi");
    enableNonClientDpiScaling_ = LoadedExport<EnableNonClientDpiScalingFunction>(user32, "EnableNonClientDpiScaling");
}

int DpiFunctions::SystemDpi() {
    const ScreenDc screen;
    const int dpi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : DefaultDpi;
}

int DpiFunctions::WindowDpi(HWND window) const {
    const int dpi = getDpiForWindow_ ? static_cast<int>(getDpiForWindow_(window)) : 0;
    return dpi > 0 ? dpi : SystemDpi();
}

SIZE DpiFunctions::WindowSize(SIZE client, DWORD style, DWORD exStyle, int dpi) const {
    RECT frame{0, 0, client.cx, client.cy};
    if (!adjustWindowRectExForDpi_ || !adjustWindowRectExForDpi_(&frame, style, FALSE, exStyle, dpi)) {
        frame = RECT{0, 0, client.cx, client.cy};
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    }
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

bool DpiFunctions::MessageFont(int dpi, LOGFONTW& font) const {
    return NonClientFont(dpi, &NONCLIENTMETRICSW::lfMessageFont, font);
}

bool DpiFunctions::StatusFont(int dpi, LOGFONTW& font) const {
    return NonClientFont(dpi, &NONCLIENTMETRICSW::lfStatusFont, font);
}

bool DpiFunctions::NonClientFont(int dpi, LOGFONTW NONCLIENTMETRICSW::*which, LOGFONTW& font) const {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!systemParametersInfoForDpi_ ||
        !systemParametersInfoForDpi_(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return false;
        // The system's metrics are for its own DPI.
        (metrics.*which).lfHeight = MulDiv((metrics.*which).lfHeight, dpi, SystemDpi());
    }
    font = metrics.*which;
    return true;
}

void DpiFunctions::EnableNonClientScaling(HWND window) const {
    if (enableNonClientDpiScaling_) enableNonClientDpiScaling_(window);
}

}  // namespace framelatch
