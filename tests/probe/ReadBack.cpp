// What the probe reads back of the desktop: windows, message boxes and
// tooltips, each printed as JSON.
#include <windows.h>

#include "ToolSupport.h"

#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "Json.h"
#include "Verbs.h"

namespace {

// The window's own text, read without sending it a message, so a window
// whose thread is busy cannot hold the probe up.
std::wstring TextOf(HWND window) {
    wchar_t buffer[512]{};
    InternalGetWindowText(window, buffer, 512);
    return buffer;
}

// The text a window answers WM_GETTEXT with: for a tooltip, its current tip.
std::wstring AnsweredTextOf(HWND window) {
    wchar_t buffer[512]{};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, &length);
    return buffer;
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[256]{};
    GetClassNameW(window, buffer, 256);
    return buffer;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

long long Handle(HWND window) { return static_cast<long long>(reinterpret_cast<UINT_PTR>(window)); }

void DescribeCommon(Json& json, HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    RECT frame{};
    GetWindowRect(window, &frame);
    json.Key("hwnd").Number(Handle(window));
    json.Key("pid").Number(pid);
    json.Key("className").Text(ClassOf(window));
    json.Key("text").Text(TextOf(window));
    json.Key("style").Number(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)));
    json.Key("exStyle").Number(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
    json.Key("visible").Bool(IsWindowVisible(window));
    json.Key("enabled").Bool(IsWindowEnabled(window));
    json.Key("screenRect").Rect(frame);
}

// How the window scales: the DPI awareness it was created with. (Wine 8 does
// not tell per-monitor v2 from v1; the manifest test checks which is asked for.)
const wchar_t* DpiAwarenessOf(HWND window) {
    switch (GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(window))) {
    case DPI_AWARENESS_UNAWARE:
        return L"unaware";
    case DPI_AWARENESS_SYSTEM_AWARE:
        return L"system";
    case DPI_AWARENESS_PER_MONITOR_AWARE:
        return L"per-monitor";
    default:
        return L"invalid";
    }
}

// 32 or 64: the kind of program that owns a window (0 when it cannot be told).
int BitsOfProcess(DWORD pid) {
    BOOL probeIsWow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &probeIsWow64);
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return 0;
    BOOL isWow64 = FALSE;
    const BOOL known = IsWow64Process(process, &isWow64);
    CloseHandle(process);
    if (!known) return 0;
    if (isWow64) return 32;
    // Not under WoW64: a program native to this system, which is 64-bit if this probe is, or runs under WoW64.
    return (sizeof(void*) == 8 || probeIsWow64) ? 64 : 32;
}

void DescribeWindow(Json& json, HWND window) {
    json.Open('{');
    DescribeCommon(json, window);
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    json.Key("clientSize").Open('[').Number(client.right).Number(client.bottom).Close(']');
    json.Key("clientOrigin").Open('[').Number(origin.x).Number(origin.y).Close(']');
    json.Key("owner").Number(Handle(GetWindow(window, GW_OWNER)));
    json.Key("iconic").Bool(IsIconic(window));
    json.Key("zoomed").Bool(IsZoomed(window));
    json.Key("dpiAwareness").Text(DpiAwarenessOf(window));
    json.Key("dpi").Number(GetDpiForWindow(window));
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    json.Key("bits").Number(BitsOfProcess(pid));

    GUITHREADINFO thread{};
    thread.cbSize = sizeof(thread);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread);
    json.Key("active").Bool(thread.hwndActive == window);
    json.Key("focus").Number(thread.hwndFocus && IsChild(window, thread.hwndFocus) ? GetDlgCtrlID(thread.hwndFocus)
                                                                                   : 0);

    // Children in z-order, which is also the tab order.
    json.Key("children").Open('[');
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        json.Open('{');
        DescribeCommon(json, child);
        RECT rect{};
        GetWindowRect(child, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
        json.Key("id").Number(GetDlgCtrlID(child));
        json.Key("clientRect").Rect(rect);
        json.Close('}');
    }
    json.Close(']');
    json.Close('}');
}

// A memory DC that draws into a bitmap of the screen's kind.
struct Canvas {
    Canvas(HDC screen, int width, int height)
        : dc(CreateCompatibleDC(screen)), old(SelectObject(dc, CreateCompatibleBitmap(screen, width, height))) {}
    ~Canvas() {
        DeleteObject(SelectObject(dc, old));
        DeleteDC(dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    const HDC dc;
    const HGDIOBJ old;
};

// Which standard icon the control shows on screen: the one whose picture,
// drawn over the control's background, is nearest to the screen's pixels.
std::wstring IconShownBy(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return L"";
    const HDC screen = GetDC(nullptr);
    const Canvas shown(screen, width, height), drawn(screen, width, height);
    BitBlt(shown.dc, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    ReleaseDC(nullptr, screen);

    const std::pair<const wchar_t*, WORD> candidates[] = {
        {L"hand", 32513}, {L"question", 32514}, {L"exclamation", 32515}, {L"asterisk", 32516}};
    std::wstring best;
    long long bestDistance = -1;
    for (const auto& [name, id] : candidates) {
        const HBRUSH background = CreateSolidBrush(GetPixel(shown.dc, 0, 0));
        const RECT area{0, 0, width, height};
        FillRect(drawn.dc, &area, background);
        DeleteObject(background);
        DrawIconEx(drawn.dc, 0, 0, LoadIconW(nullptr, MAKEINTRESOURCEW(id)), 0, 0, 0, nullptr,
                   DI_NORMAL | DI_DEFAULTSIZE);
        long long distance = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const COLORREF a = GetPixel(shown.dc, x, y), b = GetPixel(drawn.dc, x, y);
                distance += std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
                            std::abs(GetBValue(a) - GetBValue(b));
            }
        }
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = name;
        }
    }
    return best;
}

}  // namespace

int Windows(const wchar_t* title) {
    Json json;
    json.Open('[');
    for (HWND window : TopLevelWindows()) {
        if (TextOf(window) == title) DescribeWindow(json, window);
    }
    json.Close(']').Print();
    return 0;
}

int Boxes() {
    Json json;
    json.Open('[');
    for (HWND window : TopLevelWindows()) {
        if (ClassOf(window) != L"#32770" || !IsWindowVisible(window)) continue;
        json.Open('{');
        DescribeCommon(json, window);
        json.Key("owner").Number(Handle(GetWindow(window, GW_OWNER)));
        HWND message = GetDlgItem(window, 0xFFFF);
        json.Key("message").Text(message ? AnsweredTextOf(message) : L"");
        json.Key("buttons").Open('[');
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassOf(child) == L"Button" && IsWindowVisible(child)) {
                json.Open('{').Key("id").Number(GetDlgCtrlID(child)).Key("text").Text(TextOf(child)).Close('}');
            }
        }
        json.Close(']');
        HWND icon = GetDlgItem(window, 0x0440);
        json.Key("icon").Text(icon ? IconShownBy(icon) : L"");
        json.Close('}');
    }
    json.Close(']').Print();
    return 0;
}

int Tooltips() {
    Json json;
    json.Open('[');
    for (HWND window : TopLevelWindows()) {
        if (ClassOf(window) != L"tooltips_class32") continue;
        json.Open('{');
        DescribeCommon(json, window);
        json.Key("tip").Text(AnsweredTextOf(window));
        json.Key("owner").Number(Handle(GetWindow(window, GW_OWNER)));
        json.Close('}');
    }
    json.Close(']').Print();
    return 0;
}

int WindowCount(DWORD pid) {
    int count = 0;
    for (HWND window : TopLevelWindows()) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        count += owner == pid;
    }
    Json().Number(count).Print();
    return 0;
}
