#pragma once

#include "StyleToggle.h"
#include "WindowSystem.h"

namespace framelatch {

// The two frame toggles of the target window and their press procedures.
// The minimize button starts with Set, the title bar with Flip: the two run
// in opposite phase. Each press touches only its own flag and mask bits.
class FrameToggles {
public:
    explicit FrameToggles(WindowSystem& system) : system_(system) {}

    FrameToggles(const FrameToggles&) = delete;
    FrameToggles& operator=(const FrameToggles&) = delete;

    // Sets both flags to true; run once when the control window loads.
    void InitialiseToggles();

    // Press procedures of the "Min" and "TB" buttons.
    void ToggleMinimizeBox();
    void ToggleTitleBar();

    bool MinFlag() const { return minimizeBox_.flag; }
    bool TBFlag() const { return titleBar_.flag; }

private:
    // What one press came to.
    enum class PressOutcome {
        Changed,        // the new style was written
        TargetMissing,  // no target, or it closed during the press
        Refused,        // the target is there but refused the change
    };

    // Runs one press: the next style written and the flag flipped, or the
    // warning that says why nothing changed.
    void Press(StyleToggle& toggle);
    PressOutcome WriteNextStyle(const StyleToggle& toggle);
    // The last error of a style call that returned `result`; ErrorSuccess
    // when the call succeeded.
    ErrorCode ErrorOf(WindowStyle result);
    static PressOutcome OutcomeOf(ErrorCode error);

    WindowSystem& system_;
    StyleToggle minimizeBox_{MinimizeBoxMask, ToggleRule::Set, ToggleRule::Flip};
    StyleToggle titleBar_{CaptionMask, ToggleRule::Flip, ToggleRule::Set};
};

}  // namespace framelatch
