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
    // Runs one press: the next style written and the flag flipped, or the
    // warning when the press reached no target.
    void Press(StyleToggle& toggle);
    // Writes the toggle's next style to the target; false when there was none.
    bool WriteNextStyle(const StyleToggle& toggle);

    WindowSystem& system_;
    StyleToggle minimizeBox_{MinimizeBoxMask, ToggleRule::Set, ToggleRule::Flip};
    StyleToggle titleBar_{CaptionMask, ToggleRule::Flip, ToggleRule::Set};
};

}  // namespace framelatch
