#pragma once

#include <windows.h>

#include "WindowSystem.h"

namespace framelatch {

// The toggle logic's platform operations on the real user32. The warning
// box is shown with the UTF-16 call, so its Japanese text is exact whatever
// the system's ANSI code page, and is owned by the program's window so that
// window takes no input until the box is dismissed. Where the platform lacks
// a font for its Japanese, the box's text is given one that has it.
class User32WindowSystem final : public WindowSystem {
public:
    void SetOwner(HWND owner) { owner_ = owner; }

    WindowHandle FindWindowA(const char* className, const char* windowName) override;
    WindowStyle GetWindowLongA(WindowHandle window, int index) override;
    WindowStyle SetWindowLongA(WindowHandle window, int index, WindowStyle newLong) override;
    void SetLastError(ErrorCode error) override;
    ErrorCode GetLastError() override;
    int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override;

private:
    HWND owner_ = nullptr;
};

}  // namespace framelatch
