#pragma once

#include <functional>
#include <string>
#include <vector>

#include "WindowSystem.h"

namespace framelatch::testing {

// A small window manager in memory: top-level windows in z-order, each with
// a class, a title, a style and child windows, which can be created,
// raised and destroyed while the program runs. It answers the platform
// operations as the real one does and records what a user would see.
class FakeWindowSystem : public WindowSystem {
public:
    struct MessageBox {
        std::u16string text;
        std::u16string caption;
        unsigned style;
    };

    // Opens a top-level window in front of all others.
    WindowHandle OpenWindow(const std::string& className, const std::string& title, WindowStyle style);
    // Opens a child of `parent`.
    WindowHandle OpenChild(WindowHandle parent, const std::string& className, const std::string& title,
                           WindowStyle style);
    // Destroys a window and its children; its handle is never reused.
    void Close(WindowHandle window);
    // Moves a top-level window in front of all others.
    void Raise(WindowHandle window);
    // From now on the window's owner lets its style be read but refuses every
    // change, as a program of a higher integrity level does.
    void RefuseChanges(WindowHandle window);

    bool Exists(WindowHandle window) const;
    WindowStyle StyleOf(WindowHandle window) const;

    // Runs once, right after the next lookup / style read returns, to model
    // the world changing between two calls of the program.
    std::function<void()> afterNextFind;
    std::function<void()> afterNextRead;

    int styleReads = 0;
    int styleWrites = 0;
    std::vector<MessageBox> messageBoxes;

    WindowHandle FindWindowA(const char* className, const char* windowName) override;
    WindowStyle GetWindowLongA(WindowHandle window, int index) override;
    WindowStyle SetWindowLongA(WindowHandle window, int index, WindowStyle newLong) override;
    void SetLastError(ErrorCode error) override { lastError_ = error; }
    ErrorCode GetLastError() override { return lastError_; }
    int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override;

private:
    struct Window {
        WindowHandle handle;
        WindowHandle parent;  // 0 for a top-level window
        std::string className;
        std::string title;
        WindowStyle style;
        bool refusesChanges = false;
    };

    Window* Find(WindowHandle window);
    const Window* Find(WindowHandle window) const;
    static void RunOnce(std::function<void()>& hook);

    std::vector<Window> windows_;  // front of the z-order first
    WindowHandle nextHandle_ = 0x10010;
    // Like the platform's, set only by a call that fails.
    ErrorCode lastError_ = ErrorSuccess;
};

}  // namespace framelatch::testing
