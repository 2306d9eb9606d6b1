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
    switch (WriteNextStyle(toggle)) {
    case PressOutcome::Changed:
        toggle.flag = !toggle.flag;
        break;
    case PressOutcome::TargetMissing:
        WarnTargetNotRunning(system_);
        break;
    case PressOutcome::Refused:
        WarnTargetRefusedChange(system_);
        break;
    }
}

FrameToggles::PressOutcome FrameToggles::WriteNextStyle(const StyleToggle& toggle) {
    const WindowHandle target = FindTargetWindow(system_);
    if (target == 0) return PressOutcome::TargetMissing;

    // A style built from a failed read could strip the window of everything
    // but the mask, so nothing is written after one.
    system_.SetLastError(ErrorSuccess);
    const WindowStyle style = system_.GetWindowLongA(target, StyleIndex);
    if (const ErrorCode error = ErrorOf(style); error != ErrorSuccess) return OutcomeOf(error);

    // No frame-change notice follows: the target redraws its frame when it
    // next recalculates it.
    system_.SetLastError(ErrorSuccess);
    const WindowStyle previous = system_.SetWindowLongA(target, StyleIndex, toggle.NextStyle(style));
    return OutcomeOf(ErrorOf(previous));
}

ErrorCode FrameToggles::ErrorOf(WindowStyle result) {
    // 0 is also a legitimate style, and a legitimate previous style: a call
    // failed only if it returned 0 and set the last error, cleared before it.
    return result != 0 ? ErrorSuccess : system_.GetLastError();
}

FrameToggles::PressOutcome FrameToggles::OutcomeOf(ErrorCode error) {
    switch (error) {
    case ErrorSuccess:
        return PressOutcome::Changed;
    case ErrorInvalidWindowHandle:
        return PressOutcome::TargetMissing;
    default:
        return PressOutcome::Refused;
    }
}

}  // namespace framelatch
