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

private:
    HFONT font_ = nullptr;
};

}  // namespace framelatch
