// Measures inside Wine what the benchmark compares, and prints it as JSON.
//
//   bench startup EXE
//       milliseconds from process creation to a visible, input-idle FLTX window
//   bench latency PRODUCT_HWND FLOOR_HWND TARGET_HWND N
//       milliseconds from a posted click on each program's TB button to the
//       target's WM_STYLECHANGED, N presses each, alternating
#include <windows.h>

#include "ToolSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindVisibleFltx(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t title[16]{};
    InternalGetWindowText(window, title, 16);
    if (pid == search->pid && IsWindowVisible(window) && std::wstring(title) == L"FLTX") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

void PrintMilliseconds(const char* key, const std::vector<double>& values, bool last) {
    std::printf("\"%s\":[", key);
    for (size_t i = 0; i < values.size(); ++i) std::printf("%s%.3f", i ? "," : "", values[i]);
    std::printf("]%s", last ? "" : ",");
}

int Startup(wchar_t* exe) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    const ULONGLONG start = NowMicroseconds();
    if (!CreateProcessW(nullptr, exe, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 1;

    Search search{process.dwProcessId, nullptr};
    const ULONGLONG deadline = start + 30000000ULL;
    while (NowMicroseconds() < deadline) {
        EnumWindows(FindVisibleFltx, reinterpret_cast<LPARAM>(&search));
        if (search.found && WaitForInputIdle(process.hProcess, 0) == 0) break;
        search.found = nullptr;
        Sleep(0);
    }
    const ULONGLONG ready = NowMicroseconds();
    if (search.found) {
        PostMessageW(search.found, WM_CLOSE, 0, 0);
        WaitForSingleObject(process.hProcess, 10000);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!search.found) return 1;
    std::printf("{\"ms\":%.3f}\n", (ready - start) / 1000.0);
    return 0;
}

int Latency(HWND product, HWND floor, HWND target, int presses) {
    HANDLE styleChanged = OpenEventW(SYNCHRONIZE, FALSE, L"DuskVeinStyleChanged");
    if (!styleChanged) return 1;
    std::vector<double> results[2];
    HWND buttons[2] = {GetDlgItem(product, 102), GetDlgItem(floor, 102)};
    for (int press = 0; press < 2 * presses; ++press) {
        const int which = press % 2;
        WaitForSingleObject(styleChanged, 0);  // drop a signal left over
        const ULONGLONG start = NowMicroseconds();
        PostMessageW(buttons[which], WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
        PostMessageW(buttons[which], WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
        if (WaitForSingleObject(styleChanged, 10000) != WAIT_OBJECT_0) return 1;
        const DWORD changed = static_cast<DWORD>(SendMessageW(target, WM_APP + 4, 0, 0));
        results[which].push_back(static_cast<DWORD>(changed - static_cast<DWORD>(start)) / 1000.0);
        Sleep(5);  // let the target redraw its frame before the next press
    }
    std::printf("{");
    PrintMilliseconds("product", results[0], false);
    PrintMilliseconds("floor", results[1], true);
    std::printf("}\n");
    CloseHandle(styleChanged);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetProcessDPIAware();
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"startup" && argc == 3) return Startup(argv[2]);
    if (command == L"latency" && argc == 6) {
        return Latency(ParseHandle(argv[2]), ParseHandle(argv[3]), ParseHandle(argv[4]),
                       static_cast<int>(wcstol(argv[5], nullptr, 10)));
    }
    std::fprintf(stderr, "usage: bench startup EXE | latency PRODUCT_HWND FLOOR_HWND TARGET_HWND N\n");
    return 2;
}
