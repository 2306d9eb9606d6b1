// What a font itself has: read from its glyph table, apart from the bitmap
// comparison the program makes, and without the platform's font links.
#pragma once

#include <windows.h>

#include <string>

namespace framelatch {

// Whether `font` has a glyph of its own for every character of `text`.
inline bool HasEveryGlyph(HFONT font, const std::wstring& text) {
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ previous = SelectObject(dc, font);
    std::wstring glyphs(text.size(), L'\0');
    const DWORD converted = GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()),
                                             reinterpret_cast<WORD*>(&glyphs[0]), GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, previous);
    DeleteDC(dc);
    return converted == text.size() && glyphs.find(static_cast<wchar_t>(0xFFFF)) == std::wstring::npos;
}

// The face name of `font`.
inline std::wstring FaceOf(HFONT font) {
    LOGFONTW logFont{};
    GetObjectW(font, sizeof(logFont), &logFont);
    return logFont.lfFaceName;
}

}  // namespace framelatch
