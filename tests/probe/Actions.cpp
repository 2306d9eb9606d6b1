// What the probe does, as a user or a launcher would: presses, clicks and
// starts, each reporting as JSON.
#include <windows.h>

#include <cwchar>
#include <string>

#include "Json.h"
#include "Verbs.h"

// Clicks FLTX's buttons with BM_CLICK, which returns once the press has run,
// and compares the target's style after each press with what the two
// toggles' rules give: Min sets then flips, TB flips then sets.
int PressLoop(HWND fltx, HWND target, int presses) {
    constexpr DWORD MinimizeBox = 0x00020000;
    constexpr DWORD Caption = 0x00C00000;
    const HWND min = GetDlgItem(fltx, 101), tb = GetDlgItem(fltx, 102);
    bool minFlag = true, tbFlag = true;
    DWORD expected = static_cast<DWORD>(GetWindowLongW(target, GWL_STYLE));
    int mismatches = 0, firstMismatch = -1;
    for (int press = 0; press < presses; ++press) {
        const bool pressTb = press % 2 == 0;
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(pressTb ? tb : min, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &ignored)) break;
        if (pressTb) {
            expected = tbFlag ? expected ^ Caption : expected | Caption;
            tbFlag = !tbFlag;
        } else {
            expected = minFlag ? expected | MinimizeBox : expected ^ MinimizeBox;
            minFlag = !minFlag;
        }
        if (static_cast<DWORD>(GetWindowLongW(target, GWL_STYLE)) != expected) {
            if (firstMismatch < 0) firstMismatch = press;
            ++mismatches;
        }
    }
    Json json;
    json.Open('{').Key("mismatches").Number(mismatches).Key("firstMismatch").Number(firstMismatch);
    json.Key("finalStyle").Number(static_cast<DWORD>(GetWindowLongW(target, GWL_STYLE)));
    json.Close('}').Print();
    return 0;
}

int RunShown(int showCommand, const wchar_t* path) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showCommand);
    std::wstring commandLine = std::wstring(L"\"") + path + L"\"";
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fwprintf(stderr, L"cannot start %ls: error %lu\n", path, GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}

// Clicks at (x, y) on the screen with Win32 input, for a session with no X
// display to take X input (Wine's Wayland driver): a move, a press and a
// release, through the same queue as the pointer's own.
int Click(int x, int y) {
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) input.type = INPUT_MOUSE;
    inputs[0].mi.dx = MulDiv(x - left, 65535, width - 1);
    inputs[0].mi.dy = MulDiv(y - top, 65535, height - 1);
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    const UINT sent = SendInput(3, inputs, sizeof(INPUT));
    Json().Bool(sent == 3).Print();
    return sent == 3 ? 0 : 1;
}

