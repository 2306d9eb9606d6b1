#pragma once

#include "WindowSystem.h"

namespace framelatch {

// Index of the window style among a window's values.
inline constexpr int StyleIndex = -16;

// The minimize button in the frame.
inline constexpr WindowStyle MinimizeBoxMask = 0x00020000;
// The title bar: the border bit and the dialog-frame bit together.
inline constexpr WindowStyle BorderMask = 0x00800000;
inline constexpr WindowStyle DialogFrameMask = 0x00400000;
inline constexpr WindowStyle CaptionMask = BorderMask | DialogFrameMask;

// How a press turns the old style into the new one.
enum class ToggleRule {
    Set,   // old OR mask
    Flip,  // old XOR mask
};

WindowStyle ApplyRule(ToggleRule rule, WindowStyle style, WindowStyle mask);

// One frame feature of the target: a mask of style bits and a flag that
// decides which rule the next press that reaches the target applies.
struct StyleToggle {
    WindowStyle mask;
    ToggleRule ruleWhileTrue;
    ToggleRule ruleWhileFalse;
    bool flag = false;

    WindowStyle NextStyle(WindowStyle style) const {
        return ApplyRule(flag ? ruleWhileTrue : ruleWhileFalse, style, mask);
    }
};

}  // namespace framelatch
