#pragma once

#include <cstdint>

namespace framelatch {

// The platform's opaque handle of a top-level window; 0 means no window.
using WindowHandle = std::uintptr_t;

// The 32 bits the window manager keeps for a window at the style index.
using WindowStyle = std::uint32_t;

// The calling thread's last-error code, as the platform keeps it.
using ErrorCode = std::uint32_t;

inline constexpr ErrorCode ErrorSuccess = 0;
// The usual reason a window refuses a change: it belongs to a program of a
// higher integrity level (one run as administrator, say).
inline constexpr ErrorCode ErrorAccessDenied = 5;
// The handle names no window (any more).
inline constexpr ErrorCode ErrorInvalidWindowHandle = 1400;

// The platform operations the toggle logic uses, and nothing else of the
// platform. Methods carry the names of the user32 entry points they stand for.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // First top-level window, in z-order, whose class and title both match
    // (letter case ignored); 0 when there is none.
    virtual WindowHandle FindWindowA(const char* className, const char* windowName) = 0;

    // The window's value at `index`. On failure, 0 with a last error set;
    // a 0 that is the value itself leaves the last error alone.
    virtual WindowStyle GetWindowLongA(WindowHandle window, int index) = 0;

    // Replaces the window's value at `index` and returns the previous one.
    // On failure (no such window, or the change refused), 0 with a last
    // error set; a previous value of 0 leaves the last error alone.
    virtual WindowStyle SetWindowLongA(WindowHandle window, int index, WindowStyle newLong) = 0;

    // Sets and reads the calling thread's last-error code.
    virtual void SetLastError(ErrorCode error) = 0;
    virtual ErrorCode GetLastError() = 0;

    // Shows a modal message box and returns once the user has dismissed it,
    // with the id of the button that closed it.
    virtual int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) = 0;
};

}  // namespace framelatch
