// Reads back what a user would see of the windows on the desktop, and prints
// it as JSON for the end-to-end tests.
//
//   probe windows TITLE       top-level windows titled TITLE, front first
//   probe boxes               message boxes, with their texts, buttons and icon
//   probe tooltips            tooltip windows with their current texts
//   probe resources PATH      icon groups, icon images and version texts of a file
//   probe style-changes HWND  style changes the stand-in target has seen
//   probe hang HWND MS        makes the stand-in target stop pumping for MS ms
//   probe close HWND          asks a window to close, as its close box does
//   probe ping HWND           whether the window's thread answers within a second
//   probe window-count PID    how many top-level windows the process has
//   probe code-page           the ANSI code page this process runs with
//   probe caption-height      the height of a title bar
//   probe system-colour INDEX a system colour (GetSysColor), as "#RRGGBB"
//   probe recalculate-frame HWND
//                             has the stand-in target recalculate its frame
//   probe click X Y           a left click at (X, Y) through SendInput
//   probe minimize HWND       posts what the window's minimize button sends
//   probe run-shown SHOW PATH starts PATH as a launcher would that asks for
//                             the show command SHOW (STARTF_USESHOWWINDOW),
//                             and waits until it ends
//   probe press-loop FLTX TARGET N
//                             presses TB and Min of a freshly started FLTX in
//                             turn, N times, checking the target's style after each
#include <windows.h>

#include "ToolSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "Json.h"
#include "Verbs.h"

namespace {

// The stand-in's own messages.
constexpr UINT HangMessage = WM_APP + 1, StyleChangeCountMessage = WM_APP + 2, RecalculateFrameMessage = WM_APP + 3;

// Prints an answer as JSON; a false one fails the probe too.
int Print(bool answer) {
    Json().Bool(answer).Print();
    return answer ? 0 : 1;
}

int PrintNumber(long long number) {
    Json().Number(number).Print();
    return 0;
}

// A message to a window, as the stand-in or a window's own frame buttons get it.
int Post(const wchar_t* window, UINT message, WPARAM wParam = 0) {
    return Print(PostMessageW(ParseHandle(window), message, wParam, 0));
}

// The stand-in's count of its style changes.
int StyleChanges(wchar_t** args) {
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(ParseHandle(args[0]), StyleChangeCountMessage, 0, 0, SMTO_ABORTIFHUNG, 5000, &count)) {
        return 1;
    }
    return PrintNumber(static_cast<long long>(count));
}

// Whether the window's thread answers within a second: once it has, it has
// handled every message sent to it before.
int Ping(wchar_t** args) {
    DWORD_PTR ignored = 0;
    Print(SendMessageTimeoutW(ParseHandle(args[0]), WM_NULL, 0, 0, SMTO_NORMAL, 1000, &ignored) != 0);
    return 0;
}

// A system colour, as "#RRGGBB".
int SystemColour(wchar_t** args) {
    const COLORREF colour = GetSysColor(static_cast<int>(wcstol(args[0], nullptr, 10)));
    wchar_t text[8];
    swprintf(text, 8, L"#%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    Json().Text(text).Print();
    return 0;
}

struct Verb {
    const wchar_t* name;
    const wchar_t* arguments;  // as the usage names them
    int count;                 // how many
    int (*run)(wchar_t** args);
};

const Verb verbs[] = {
    {L"windows", L"TITLE", 1, [](wchar_t** a) { return Windows(a[0]); }},
    {L"boxes", L"", 0, [](wchar_t**) { return Boxes(); }},
    {L"tooltips", L"", 0, [](wchar_t**) { return Tooltips(); }},
    {L"resources", L"PATH", 1, [](wchar_t** a) { return Resources(a[0]); }},
    {L"style-changes", L"HWND", 1, StyleChanges},
    {L"hang", L"HWND MS", 2, [](wchar_t** a) { return Post(a[0], HangMessage, wcstoul(a[1], nullptr, 10)); }},
    {L"close", L"HWND", 1, [](wchar_t** a) { return Post(a[0], WM_CLOSE); }},
    {L"recalculate-frame", L"HWND", 1, [](wchar_t** a) { return Post(a[0], RecalculateFrameMessage); }},
    {L"ping", L"HWND", 1, Ping},
    // What a window's own minimize button and system menu send it.
    {L"minimize", L"HWND", 1, [](wchar_t** a) { return Post(a[0], WM_SYSCOMMAND, SC_MINIMIZE); }},
    {L"window-count", L"PID", 1, [](wchar_t** a) { return WindowCount(wcstoul(a[0], nullptr, 10)); }},
    {L"code-page", L"", 0, [](wchar_t**) { return PrintNumber(GetACP()); }},
    {L"caption-height", L"", 0, [](wchar_t**) { return PrintNumber(GetSystemMetrics(SM_CYCAPTION)); }},
    {L"system-colour", L"INDEX", 1, SystemColour},
    {L"run-shown", L"SHOW PATH", 2,
     [](wchar_t** a) { return RunShown(static_cast<int>(wcstol(a[0], nullptr, 10)), a[1]); }},
    {L"press-loop", L"FLTX TARGET N", 3,
     [](wchar_t** a) {
         return PressLoop(ParseHandle(a[0]), ParseHandle(a[1]), static_cast<int>(wcstol(a[2], nullptr, 10)));
     }},
    {L"click", L"X Y", 2, [](wchar_t** a) { return Click(wcstol(a[0], nullptr, 10), wcstol(a[1], nullptr, 10)); }},
};

// Runs the verb the command line names; prints the usage for any other.
int Run(int argc, wchar_t** argv) {
    for (const Verb& verb : verbs) {
        if (argc > 1 && std::wcscmp(argv[1], verb.name) == 0 && argc == verb.count + 2) return verb.run(argv + 2);
    }
    fwprintf(stderr, L"usage: probe");
    for (const Verb& verb : verbs) fwprintf(stderr, L"%ls %ls%ls%ls\n", &verb == verbs ? L"" : L"     |", verb.name,
                                            *verb.arguments ? L" " : L"", verb.arguments);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Real pixels, from any process: a reader of lower awareness gets sizes
    // and places scaled to its own DPI.
    if (!SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) SetProcessDPIAware();
    const int status = Run(argc, argv);
    // Ended here, once the answer is out, not by returning: Wine ends a
    // process that returns through its whole exit path (the DLLs' detach, then
    // the Unix libraries' exit handlers, Wayland's among them), and its server
    // kills (SIGKILL) a process still there half a second after it counts it
    // as ended. Under load, with Wine's Wayland driver, that path took longer:
    // a probe whose whole answer was printed exited with -9. TerminateProcess
    // leaves the Unix process at once.
    fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    return status;
}
