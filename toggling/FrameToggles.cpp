#include "FrameToggles.h"

#include "TargetWindow.h"

namespace framelatch {

void FrameToggles::InitialiseToggles() {
    minimizeBox_.flag = true;
    titleBar_.flag = true;
}

void FrameToggles::ToggleMinimizeBox() { Press(minimizeBox_); }

void FrameToggles::ToggleTitleBar() { Press(titleBar_); }

void FrameToggles::Press(StyleToggle& toggle) {
    if (WriteNextStyle(toggle)) {
        toggle.flag = !toggle.flag;
    } else {
        WarnTargetNotRunning(system_);
    }
}

bool FrameToggles::WriteNextStyle(const StyleToggle& toggle) {
    const WindowHandle target = FindTargetWindow(system_);
    if (target == 0) return false;

    // A live top-level window never has an empty style, so 0 from either
    // call means the target closed after it was found. Writing a style built
    // from a failed read could strip a window of everything but the mask, and
    // a press that reached nothing must not count.
    const WindowStyle style = system_.GetWindowLongA(target, StyleIndex);
    if (style == 0) return false;

    // No frame-change notice follows: the target redraws its frame when it
    // next recalculates it.
    return system_.SetWindowLongA(target, StyleIndex, toggle.NextStyle(style)) != 0;
}

}  // namespace framelatch
