#include "StyleToggle.h"

namespace framelatch {

WindowStyle ApplyRule(ToggleRule rule, WindowStyle style, WindowStyle mask) {
    switch (rule) {
    case ToggleRule::Set:
        return style | mask;
    case ToggleRule::Flip:
        return style ^ mask;
    }
    return style;
}

}  // namespace framelatch
