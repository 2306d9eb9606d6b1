#pragma once

#include <windows.h>

#include "DpiFunctions.h"
#include "FrameToggles.h"
#include "GdiObject.h"
#include "User32WindowSystem.h"

namespace framelatch {

// The program's only window, "FLTX": a fixed tool window with the buttons
// "Min" and "TB". It owns the two frame toggles for its whole life and hands
// each button press to its toggle. Destroying it ends the program.
class Form1 {
public:
    explicit Form1(HINSTANCE instance) : instance_(instance) {}
    // The window must not outlive the object its procedure reaches.
    ~Form1() {
        if (window_) DestroyWindow(window_);
    }

    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window (running its load step) and shows it as its normal
    // small window, active or not.
    bool Create(bool activate);

    HWND Handle() const { return window_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    bool Load();
    HWND CreateButton(const wchar_t* caption, int id, DWORD defaultStyle);
    void LayOut();
    void SetTooltipFont();
    void OnDpiChanged(int dpi, const RECT& suggested);
    void FitFrameToClientArea();
    void AddTooltip(HWND button, const wchar_t* text);
    void OnActivate(WPARAM wParam);
    void OnCommand(WPARAM wParam, LPARAM lParam);
    HWND FocusedButton() const;

    HINSTANCE instance_;
    HWND window_ = nullptr;
    HWND command1_ = nullptr;
    HWND command2_ = nullptr;
    HWND tooltip_ = nullptr;
    HWND lastFocus_ = nullptr;
    DpiFunctions dpiFunctions_;
    // The DPI the window is laid out at, and its size there.
    int dpi_ = 96;
    SIZE windowSize_{};
    GdiFont font_;
    GdiFont tooltipFont_;
    bool tooltipsShown_ = false;
    User32WindowSystem system_;
    FrameToggles toggles_{system_};
};

}  // namespace framelatch
