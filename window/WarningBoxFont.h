#pragma once

#include <windows.h>

#include "GdiObject.h"

namespace framelatch {

// While it lives, watches for the message box that this thread shows for
// `owner` with `text`. Where the platform would draw that text with empty
// boxes for its Japanese, it gives the text a face that draws it, and grows
// the text and the box so that the whole text shows. A box whose text the
// platform draws whole is left exactly as the platform made it.
class WarningBoxFont {
public:
    WarningBoxFont(HWND owner, const wchar_t* text);
    ~WarningBoxFont();

    WarningBoxFont(const WarningBoxFont&) = delete;
    WarningBoxFont& operator=(const WarningBoxFont&) = delete;

private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK OnBoxMessage(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
    void Fit(HWND box);

    HWND owner_;
    const wchar_t* text_;
    HHOOK hook_;
    HWND box_ = nullptr;
    WNDPROC boxProcedure_ = nullptr;
    GdiFont font_;
};

}  // namespace framelatch
