#pragma once

#include <windows.h>

namespace framelatch {

inline constexpr int TwipsPerInch = 1440;

// Converts a length in twips to pixels at `dpi` dots per inch, rounded to
// the nearest pixel.
inline int TwipsToPixels(int twips, int dpi) { return MulDiv(twips, dpi, TwipsPerInch); }

}  // namespace framelatch
