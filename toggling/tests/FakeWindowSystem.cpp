#include "FakeWindowSystem.h"

#include <algorithm>
#include <cctype>

#include "StyleToggle.h"

namespace framelatch::testing {

namespace {

bool EqualIgnoringCase(const std::string& a, const char* b) {
    const std::string other(b);
    return a.size() == other.size() &&
           std::equal(a.begin(), a.end(), other.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

WindowHandle FakeWindowSystem::OpenWindow(const std::string& className, const std::string& title,
                                          WindowStyle style) {
    const WindowHandle handle = nextHandle_;
    nextHandle_ += 4;
    windows_.insert(windows_.begin(), Window{handle, 0, className, title, style});
    return handle;
}

WindowHandle FakeWindowSystem::OpenChild(WindowHandle parent, const std::string& className,
                                         const std::string& title, WindowStyle style) {
    const WindowHandle handle = nextHandle_;
    nextHandle_ += 4;
    windows_.push_back(Window{handle, parent, className, title, style});
    return handle;
}

void FakeWindowSystem::Close(WindowHandle window) {
    std::vector<WindowHandle> doomed{window};
    for (std::size_t i = 0; i < doomed.size(); ++i) {
        for (const Window& w : windows_) {
            if (w.parent == doomed[i]) doomed.push_back(w.handle);
        }
    }
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(),
                                  [&](const Window& w) {
                                      return std::find(doomed.begin(), doomed.end(), w.handle) != doomed.end();
                                  }),
                   windows_.end());
}

void FakeWindowSystem::Raise(WindowHandle window) {
    auto it = std::find_if(windows_.begin(), windows_.end(), [&](const Window& w) { return w.handle == window; });
    if (it != windows_.end()) std::rotate(windows_.begin(), it, it + 1);
}

void FakeWindowSystem::RefuseChanges(WindowHandle window) {
    if (Window* w = Find(window)) w->refusesChanges = true;
}

bool FakeWindowSystem::Exists(WindowHandle window) const { return Find(window) != nullptr; }

WindowStyle FakeWindowSystem::StyleOf(WindowHandle window) const {
    const Window* w = Find(window);
    return w ? w->style : 0;
}

FakeWindowSystem::Window* FakeWindowSystem::Find(WindowHandle window) {
    auto it = std::find_if(windows_.begin(), windows_.end(), [&](const Window& w) { return w.handle == window; });
    return it == windows_.end() ? nullptr : &*it;
}

const FakeWindowSystem::Window* FakeWindowSystem::Find(WindowHandle window) const {
    return const_cast<FakeWindowSystem*>(this)->Find(window);
}

void FakeWindowSystem::RunOnce(std::function<void()>& hook) {
    if (hook) {
        auto run = std::move(hook);
        hook = nullptr;
        run();
    }
}

WindowHandle FakeWindowSystem::FindWindowA(const char* className, const char* windowName) {
    WindowHandle found = 0;
    for (const Window& w : windows_) {
        if (w.parent == 0 && EqualIgnoringCase(w.className, className) && EqualIgnoringCase(w.title, windowName)) {
            found = w.handle;
            break;
        }
    }
    RunOnce(afterNextFind);
    return found;
}

WindowStyle FakeWindowSystem::GetWindowLongA(WindowHandle window, int index) {
    ++styleReads;
    WindowStyle style = 0;
    if (const Window* w = Find(window); !w) {
        lastError_ = ErrorInvalidWindowHandle;
    } else if (index == StyleIndex) {
        style = w->style;
    }
    RunOnce(afterNextRead);
    return style;
}

WindowStyle FakeWindowSystem::SetWindowLongA(WindowHandle window, int index, WindowStyle newLong) {
    ++styleWrites;
    Window* w = Find(window);
    if (!w) {
        lastError_ = ErrorInvalidWindowHandle;
        return 0;
    }
    if (w->refusesChanges) {
        lastError_ = ErrorAccessDenied;
        return 0;
    }
    if (index != StyleIndex) return 0;
    const WindowStyle previous = w->style;
    w->style = newLong;
    return previous;
}

int FakeWindowSystem::MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) {
    messageBoxes.push_back(MessageBox{text, caption, style});
    return 1;  // IDOK
}

}  // namespace framelatch::testing
