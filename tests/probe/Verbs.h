#pragma once

// The probe's verbs that do more than one call: each prints its answer as
// JSON and returns the probe's exit status.
#include <windows.h>

// Read back (ReadBack.cpp).
int Windows(const wchar_t* title);
int Boxes();
int Tooltips();
int WindowCount(DWORD pid);

// A program file's resources (Resources.cpp).
int Resources(const wchar_t* path);

// Done as a user or a launcher would (Actions.cpp).
int PressLoop(HWND fltx, HWND target, int presses);
int RunShown(int showCommand, const wchar_t* path);
int Click(int x, int y);
