#pragma once

#include <windows.h>

namespace framelatch {

// Owns a GDI font and deletes it on every path.
class GdiFont {
public:
    GdiFont() = default;
    ~GdiFont() { Reset(); }

    GdiFont(const GdiFont&) = delete;
    GdiFont& operator=(const GdiFont&) = delete;

    HFONT Get() const { return font_; }
    void Reset(HFONT font = nullptr) {
        if (font_) DeleteObject(font_);
        font_ = font;
    }

    // The font the system uses in message boxes and dialogs; a bare button
    // would otherwise draw in the raw System font.
    static HFONT CreateMessageFont();

private:
    HFONT font_ = nullptr;
};

}  // namespace framelatch
