#include "Json.h"

#include <cstdio>

Json& Json::Text(const std::wstring& value) {
    Separate();
    std::string utf8(value.size() * 4 + 1, '\0');
    const int length = WideCharToMultiByte(CP_UTF8, 0, value.c_str(), static_cast<int>(value.size()), &utf8[0],
                                           static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.resize(length > 0 ? length : 0);
    text_ += '"';
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            text_ += '\\';
            text_ += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            text_ += escaped;
        } else {
            text_ += c;
        }
    }
    text_ += '"';
    return *this;
}

void Json::Print() const {
    // Raw bytes to the pipe: no console code page in between.
    DWORD written = 0;
    const std::string line = text_ + "\n";
    if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        // An answer that did not arrive is a failure, said as such, not a JSON error for the reader.
        fwprintf(stderr, L"probe: its answer could not be written (error %lu)\n", GetLastError());
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
}
