#pragma once

#include <windows.h>

#include <initializer_list>

namespace framelatch {

using Texts = std::initializer_list<const wchar_t*>;

// Windows links its UI fonts to a Japanese font. Plain Wine links them to
// Windows' Japanese fonts by file name, which a Linux host lacks, and then
// draws empty boxes for Japanese text.
//
// Where the platform would draw a character of `texts` in `font` as a missing
// glyph, font links included, gives `font` the first installed Japanese face
// that draws them all (Japanese UI faces first), at the same size and weight,
// and returns true. Returns false, leaving `font` alone, where the platform
// draws them whole or no installed face does.
bool ChooseFaceThatDraws(LOGFONTW& font, Texts texts);

}  // namespace framelatch
