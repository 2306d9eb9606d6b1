#pragma once

// Small helpers shared by the project's Windows-side tools (the stand-in
// target, the probe, the benchmark driver); not part of the program.
#include <windows.h>

#include <cwchar>

// The performance counter in microseconds: one clock for every process.
inline ULONGLONG NowMicroseconds() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<ULONGLONG>(now.QuadPart) * 1000000ULL / static_cast<ULONGLONG>(frequency.QuadPart);
}

// A window handle given on the command line, in decimal or 0x hex.
inline HWND ParseHandle(const wchar_t* text) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(wcstoull(text, nullptr, 0)));
}
