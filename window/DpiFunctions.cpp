#include "DpiFunctions.h"

namespace framelatch {

namespace {

constexpr int DefaultDpi = 96;

// The screen's device context, released on every path.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;

    HDC Get() const { return dc_; }

private:
    HDC dc_;
};

// An export of a loaded module as the function type it has; null when the
// module lacks it.
template <typename Function>
Function Export(HMODULE module, const char* name) {
    if (!module) return nullptr;
    // Through void(*)(), the one function type a cast from FARPROC may go by unremarked.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

DpiFunctions::DpiFunctions() {
    // Already loaded: the program imports user32. Nothing else is loaded for these.
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    getDpiForWindow_ = Export<GetDpiForWindowFunction>(user32, "GetDpiForWindow");
    adjustWindowRectExForDpi_ = Export<AdjustWindowRectExForDpiFunction>(user32, "AdjustWindowRectExForDpi");
    systemParametersInfoForDpi_ = Export<SystemParametersInfoForDpiFunction>(user32, "SystemParametersInfoForDpi");
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

HFONT DpiFunctions::CreateMessageFont(int dpi) const {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!systemParametersInfoForDpi_ ||
        !systemParametersInfoForDpi_(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return nullptr;
        // The system's metrics are for its own DPI.
        metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
    }
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

}  // namespace framelatch
