#include "User32WindowSystem.h"

#include "WarningBoxFont.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is passed to the W calls as it is");

namespace framelatch {

namespace {

HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

WindowHandle User32WindowSystem::FindWindowA(const char* className, const char* windowName) {
    return reinterpret_cast<WindowHandle>(::FindWindowA(className, windowName));
}

WindowStyle User32WindowSystem::GetWindowLongA(WindowHandle window, int index) {
    return static_cast<WindowStyle>(::GetWindowLongA(ToHwnd(window), index));
}

WindowStyle User32WindowSystem::SetWindowLongA(WindowHandle window, int index, WindowStyle newLong) {
    return static_cast<WindowStyle>(::SetWindowLongA(ToHwnd(window), index, static_cast<LONG>(newLong)));
}

void User32WindowSystem::SetLastError(ErrorCode error) { ::SetLastError(error); }

ErrorCode User32WindowSystem::GetLastError() { return ::GetLastError(); }

int User32WindowSystem::MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) {
    const auto* message = reinterpret_cast<const wchar_t*>(text);
    const WarningBoxFont readable(owner_, message);
    return ::MessageBoxW(owner_, message, reinterpret_cast<const wchar_t*>(caption), style);
}

}  // namespace framelatch
