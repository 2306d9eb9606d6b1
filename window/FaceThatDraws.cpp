#include "FaceThatDraws.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "DeviceContext.h"
#include "GdiObject.h"

namespace framelatch {

namespace {

// Windows' Japanese UI faces, then those that Linux hosts carry.
constexpr const wchar_t* PreferredFaces[] = {
    L"Yu Gothic UI", L"Meiryo UI", L"MS UI Gothic", L"Noto Sans CJK JP", L"Source Han Sans JP",
    L"IPAexGothic", L"IPAPGothic", L"VL PGothic", L"TakaoPGothic",
};

// A character that no font has: it draws as the platform's missing glyph.
constexpr wchar_t NoSuchCharacter = 0xFFFF;

// Japanese faces found installed: enough for any system's.
struct InstalledFaces {
    wchar_t names[64][LF_FACESIZE];
    size_t count = 0;
};

int CALLBACK AddFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM faces) {
    auto& installed = *reinterpret_cast<InstalledFaces*>(faces);
    // '@' names the same face turned for vertical writing.
    if (font->lfFaceName[0] != L'@' && installed.count < std::size(installed.names)) {
        std::memcpy(installed.names[installed.count++], font->lfFaceName, sizeof(font->lfFaceName));
    }
    return 1;
}

size_t PreferenceOf(const wchar_t* face) {
    size_t rank = 0;
    while (rank < std::size(PreferredFaces) && std::wcscmp(PreferredFaces[rank], face) != 0) ++rank;
    return rank;
}

// Whether the platform draws every character of `texts` in `font` with a
// real glyph, as a user sees it.
bool DrawsEveryCharacter(const LOGFONTW& logFont, Texts texts) {
    // Each character is drawn into the right-hand cell of a small bitmap and
    // compared with the missing glyph in the left-hand one: what the platform
    // draws, links and all, where the font's own glyph table would miss the links.
    const int cell = 2 * (std::abs(logFont.lfHeight) + 8);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 2 * cell;
    info.bmiHeader.biHeight = -cell;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const MemoryDc dc;
    const GdiFont font(CreateFontIndirectW(&logFont));
    const GdiBitmap bitmap(CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    // Undecided: keep the font as it is.
    if (!dc.Get() || !font.Get() || !bitmap.Get()) return true;
    const Selection withBitmap(dc.Get(), bitmap.Get());
    const Selection withFont(dc.Get(), font.Get());

    const auto draw = [&](const wchar_t* character, int left) {
        // On a blank cell, as the platform's text calls draw it.
        const RECT rect{left, 0, left + cell, cell};
        ExtTextOutW(dc.Get(), left, 0, ETO_OPAQUE | ETO_CLIPPED, &rect, character, 1, nullptr);
        GdiFlush();
    };
    const auto drawsAsMissing = [&] {
        const auto* pixels = static_cast<const DWORD*>(bits);
        for (int row = 0; row < cell; ++row, pixels += 2 * cell) {
            if (std::memcmp(pixels, pixels + cell, cell * sizeof(DWORD)) != 0) return false;
        }
        return true;
    };

    draw(&NoSuchCharacter, 0);
    for (const wchar_t* text : texts) {
        for (const wchar_t* character = text; *character; ++character) {
            // A blank draws nothing, as a missing glyph may.
            if (*character == L' ') continue;
            draw(character, cell);
            if (drawsAsMissing()) return false;
        }
    }
    return true;
}

}  // namespace

bool ChooseFaceThatDraws(LOGFONTW& font, Texts texts) {
    if (DrawsEveryCharacter(font, texts)) return false;
    // Only now, where glyphs are missing: the installed Japanese faces.
    InstalledFaces installed;
    {
        LOGFONTW japanese{};
        japanese.lfCharSet = SHIFTJIS_CHARSET;
        const MemoryDc dc;
        if (dc.Get()) EnumFontFamiliesExW(dc.Get(), &japanese, AddFace, reinterpret_cast<LPARAM>(&installed), 0);
    }
    LOGFONTW candidate = font;
    candidate.lfCharSet = SHIFTJIS_CHARSET;
    // The preferred faces in their order, then the rest as found.
    for (size_t rank = 0; rank <= std::size(PreferredFaces); ++rank) {
        for (size_t i = 0; i < installed.count; ++i) {
            if (PreferenceOf(installed.names[i]) != rank) continue;
            std::memcpy(candidate.lfFaceName, installed.names[i], sizeof(candidate.lfFaceName));
            if (DrawsEveryCharacter(candidate, texts)) {
                font = candidate;
                return true;
            }
        }
    }
    return false;
}

}  // namespace framelatch
