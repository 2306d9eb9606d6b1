#pragma once

#include <cstddef>

namespace framelatch {

// An ANSI copy of a UTF-16 text constant, for the platform calls that take
// ANSI text. The texts it is used for are plain ASCII, which has the same
// bytes in every ANSI code page; any other character becomes '?', as the
// platform's own conversion does for a character the code page lacks.
// The copy lives on the stack, so it is released when it goes out of scope.
template <std::size_t Size>
class AnsiText {
public:
    explicit AnsiText(const char16_t (&text)[Size]) {
        for (std::size_t i = 0; i < Size; ++i) {
            text_[i] = text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
        }
        text_[Size - 1] = '\0';
    }

    AnsiText(const AnsiText&) = delete;
    AnsiText& operator=(const AnsiText&) = delete;

    const char* c_str() const { return text_; }

private:
    char text_[Size];
};

}  // namespace framelatch
