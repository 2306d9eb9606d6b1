// Form1 in this process, where its fonts and metrics can be read directly.
#include <windows.h>

#include <commctrl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DllSearch.h"
#include "DpiFunctions.h"
#include "Form1.h"
#include "SeenBox.h"

namespace framelatch {
namespace {

constexpr int Command1Id = 101;
constexpr int Command2Id = 102;

LOGFONTW FontOf(HWND control) {
    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font;
}

NONCLIENTMETRICSW SystemMetrics() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0));
    return metrics;
}

// Runs the messages that are waiting; returns whether WM_QUIT was among them.
bool PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return true;
        DispatchMessageW(&message);
    }
    return false;
}

// Pumps messages until `condition` holds, for at most five seconds.
template <typename Condition>
bool PumpUntil(Condition condition) {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!condition()) {
        if (GetTickCount64() > deadline) return false;
        PumpMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return true;
}

RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

RECT ClientRectIn(HWND parent, HWND control) {
    RECT rect = WindowRect(control);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE ClientSize(HWND window) {
    RECT rect{};
    GetClientRect(window, &rect);
    return SIZE{rect.right, rect.bottom};
}

std::set<std::wstring> LoadedModules() {
    std::set<std::wstring> modules;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry)) {
        modules.insert(entry.szModule);
    }
    CloseHandle(snapshot);
    return modules;
}

// Presses a button of `window` with no target running, and reads the warning.
SeenBox PressForTheWarning(HWND window, int buttonId) {
    return PressAndReadBox(window, [&] { SendMessageW(GetDlgItem(window, buttonId), BM_CLICK, 0, 0); });
}

// As a platform may do: disabling the window takes the focus from its buttons
// before the window is deactivated.
LRESULT CALLBACK DropFocusWhenDisabled(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR) {
    if (message == WM_ENABLE && !wParam && IsChild(window, GetFocus())) SetFocus(nullptr);
    return DefSubclassProc(window, message, wParam, lParam);
}

// As a platform that draws another frame than it reports would: every edge a
// few pixels thicker than the platform's own, the top one more so.
constexpr int ExtraFrame = 2;
constexpr int ExtraFrameTop = 5;

LRESULT CALLBACK ThickerFrame(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    if (message == WM_NCCALCSIZE) {
        // The client rectangle: the first of NCCALCSIZE_PARAMS, or the only one.
        RECT& client = *reinterpret_cast<RECT*>(lParam);
        client.left += ExtraFrame;
        client.top += ExtraFrameTop;
        client.right -= ExtraFrame;
        client.bottom -= ExtraFrame;
    }
    return result;
}

// Gives each Form1 that this thread creates the thicker frame from the start.
LRESULT CALLBACK GiveFormsAThickerFrame(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        const auto window = reinterpret_cast<HWND>(wParam);
        wchar_t className[64] = L"";
        GetClassNameW(window, className, static_cast<int>(std::size(className)));
        if (std::wcscmp(className, L"Framelatch.Form1") == 0) SetWindowSubclass(window, ThickerFrame, 2, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

SIZE SizeOf(const RECT& rect) { return SIZE{rect.right - rect.left, rect.bottom - rect.top}; }

// Puts the pointer on `button` and waits for `tooltip` to show its tip.
bool ShowsTooltipOf(HWND tooltip, HWND button) {
    const RECT rect = WindowRect(button);
    SetCursorPos((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    return PumpUntil([&] {
        return IsWindowVisible(tooltip) &&
               SendMessageW(tooltip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) &&
               tool.uId == reinterpret_cast<UINT_PTR>(button);
    });
}

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(form_.Create(false)); }
    void TearDown() override {
        if (form_.Handle()) DestroyWindow(form_.Handle());
        PumpMessages();
    }

    std::vector<HWND> Buttons() const {
        std::vector<HWND> buttons;
        for (HWND child = GetWindow(form_.Handle(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            buttons.push_back(child);
        }
        return buttons;
    }

    // The tooltip window that Form1 owns.
    HWND Tooltip() const {
        HWND tooltip = nullptr;
        while ((tooltip = FindWindowExW(nullptr, tooltip, TOOLTIPS_CLASSW, nullptr))) {
            if (GetWindow(tooltip, GW_OWNER) == form_.Handle()) return tooltip;
        }
        return nullptr;
    }

    // What the platform suggests on a change to `dpi`: the window a little
    // further on, with room for the client area of that DPI in its frame.
    RECT Suggested(SIZE client) const {
        const RECT window = WindowRect(form_.Handle());
        const SIZE now = ClientSize(form_.Handle());
        const LONG left = window.left + 40;
        const LONG top = window.top + 30;
        return RECT{left, top, left + (window.right - window.left) - now.cx + client.cx,
                    top + (window.bottom - window.top) - now.cy + client.cy};
    }

    Form1 form_{GetModuleHandleW(nullptr)};
};

TEST_F(Form1Test, ButtonsUseTheSystemMessageFont) {
    const NONCLIENTMETRICSW metrics = SystemMetrics();
    const std::vector<HWND> buttons = Buttons();
    ASSERT_EQ(buttons.size(), 2u);
    for (HWND button : buttons) {
        ASSERT_NE(SendMessageW(button, WM_GETFONT, 0, 0), 0) << "a button without a font draws in the System font";
        const LOGFONTW font = FontOf(button);
        EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
        EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight);
    }

    DestroyWindow(form_.Handle());
    EXPECT_TRUE(PumpMessages()) << "destroying the window ends the program's loop";
}

struct LayoutAtDpi {
    int dpi;
    SIZE client;
    RECT command1;
    RECT command2;
};

TEST_F(Form1Test, LaysItselfOutAgainWhenItsDpiChanges) {
    const HWND window = form_.Handle();
    const int systemDpi = DpiFunctions::SystemDpi();
    const LONG systemFontHeight = SystemMetrics().lfMessageFont.lfHeight;
    const LONG systemTooltipFontHeight = SystemMetrics().lfStatusFont.lfHeight;
    const HWND tooltip = Tooltip();
    ASSERT_NE(tooltip, nullptr);
    ASSERT_EQ(systemDpi, 96) << "the session runs at 96 DPI";

    // 1095 x 375 twips of client area; the buttons 495 twips wide, at 0 and 600.
    const LayoutAtDpi layouts[] = {
        {144, {110, 38}, {0, 0, 50, 38}, {60, 0, 110, 38}},
        {96, {73, 25}, {0, 0, 33, 25}, {40, 0, 73, 25}},
    };
    for (const LayoutAtDpi& layout : layouts) {
        SCOPED_TRACE(testing::Message() << layout.dpi << " DPI");
        const HFONT oldFont = reinterpret_cast<HFONT>(SendMessageW(Buttons()[0], WM_GETFONT, 0, 0));
        const HFONT oldTooltipFont = reinterpret_cast<HFONT>(SendMessageW(tooltip, WM_GETFONT, 0, 0));
        RECT suggested = Suggested(layout.client);
        SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(layout.dpi, layout.dpi), reinterpret_cast<LPARAM>(&suggested));

        const RECT placed = WindowRect(window);
        EXPECT_TRUE(EqualRect(&placed, &suggested)) << "the window takes the suggested rectangle";
        const SIZE client = ClientSize(window);
        EXPECT_NEAR(client.cx, layout.client.cx, 1);
        EXPECT_NEAR(client.cy, layout.client.cy, 1);

        const std::vector<HWND> buttons = Buttons();
        ASSERT_EQ(buttons.size(), 2u);
        const RECT expectedRects[] = {layout.command1, layout.command2};
        for (size_t i = 0; i < buttons.size(); ++i) {
            const RECT rect = ClientRectIn(window, buttons[i]);
            const RECT& expected = expectedRects[i];
            EXPECT_NEAR(rect.left, expected.left, 1);
            EXPECT_NEAR(rect.top, expected.top, 1);
            EXPECT_NEAR(rect.right, expected.right, 1);
            EXPECT_NEAR(rect.bottom, expected.bottom, 1);
            EXPECT_NEAR(FontOf(buttons[i]).lfHeight, MulDiv(systemFontHeight, layout.dpi, systemDpi), 1);
        }
        EXPECT_EQ(SendMessageW(buttons[0], WM_GETFONT, 0, 0), SendMessageW(buttons[1], WM_GETFONT, 0, 0));
        EXPECT_EQ(GetObjectType(oldFont), 0u) << "the font of the previous DPI is deleted";

        // The tooltips take the status font of the new DPI.
        EXPECT_NEAR(FontOf(tooltip).lfHeight, MulDiv(systemTooltipFontHeight, layout.dpi, systemDpi), 1);
        EXPECT_EQ(GetObjectType(oldTooltipFont), 0u) << "the tooltip font of the previous DPI is deleted";
    }
}

TEST_F(Form1Test, AsksForTheSizeThatHoldsItsClientAreaAtTheNewDpi) {
    using AdjustWindowRectExForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    const auto adjust = reinterpret_cast<AdjustWindowRectExForDpiFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    ASSERT_NE(adjust, nullptr);
    const HWND window = form_.Handle();
    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));

    for (const auto& [dpi, client] : {std::pair{144, SIZE{110, 38}}, std::pair{120, SIZE{91, 31}}}) {
        RECT expected{0, 0, client.cx, client.cy};
        ASSERT_TRUE(adjust(&expected, style, FALSE, exStyle, dpi));
        SIZE size{};
        EXPECT_TRUE(SendMessageW(window, WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&size)));
        EXPECT_EQ(size.cx, expected.right - expected.left) << dpi << " DPI";
        EXPECT_EQ(size.cy, expected.bottom - expected.top) << dpi << " DPI";
    }
}

TEST_F(Form1Test, TooltipsShowAtTheButtonsNewPlaceAfterADpiChange) {
    RECT suggested = Suggested(SIZE{110, 38});
    SendMessageW(form_.Handle(), WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    const HWND tooltip = Tooltip();
    ASSERT_NE(tooltip, nullptr);

    // Command2's middle at 144 DPI lies beyond the right edge the window had at 96.
    const HWND command2 = GetDlgItem(form_.Handle(), Command2Id);
    const RECT inClient = ClientRectIn(form_.Handle(), command2);
    ASSERT_GT((inClient.left + inClient.right) / 2, 73);
    ASSERT_TRUE(ShowsTooltipOf(tooltip, command2)) << "no tooltip for TB under the pointer";
    wchar_t text[80] = L"";
    TOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    SendMessageW(tooltip, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    tool.lpszText = text;
    SendMessageW(tooltip, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, L"タイトルバーを切り替えます");
}

TEST(Form1Frame, ClientAreaIsExactWhateverFrameThePlatformDraws) {
    const HHOOK hook = SetWindowsHookExW(WH_CBT, GiveFormsAThickerFrame, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    Form1 form(GetModuleHandleW(nullptr));
    const bool created = form.Create(false);
    UnhookWindowsHookEx(hook);
    ASSERT_TRUE(created);
    const HWND window = form.Handle();
    const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
    const DpiFunctions functions;

    // The client area is `expected`, both buttons are as high, and the
    // platform's minimum size does not take the correction back.
    const auto expectExact = [&](SIZE expected) {
        const SIZE client = ClientSize(window);
        EXPECT_EQ(client.cx, expected.cx);
        EXPECT_EQ(client.cy, expected.cy);
        for (const int id : {Command1Id, Command2Id}) {
            EXPECT_EQ(SizeOf(ClientRectIn(window, GetDlgItem(window, id))).cy, client.cy) << "control " << id;
        }
        const SIZE frame = SizeOf(WindowRect(window));
        MINMAXINFO limits{};
        SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
        EXPECT_EQ(limits.ptMinTrackSize.x, frame.cx);
        EXPECT_EQ(limits.ptMinTrackSize.y, frame.cy);
        return frame;
    };

    // At creation the window grew by the frame's extra pixels, and by nothing else.
    const SIZE reported = functions.WindowSize(SIZE{73, 25}, style, exStyle, 96);
    const SIZE frame = expectExact(SIZE{73, 25});
    EXPECT_EQ(frame.cx, reported.cx + 2 * ExtraFrame);
    EXPECT_EQ(frame.cy, reported.cy + ExtraFrameTop + ExtraFrame);

    // After a DPI change to the rectangle the platform suggests for the frame it
    // reports. (Its own frame may then differ from that one too, as Wine's does.)
    const SIZE suggestedSize = functions.WindowSize(SIZE{110, 38}, style, exStyle, 144);
    const RECT now = WindowRect(window);
    RECT suggested{now.left + 40, now.top + 30, now.left + 40 + suggestedSize.cx, now.top + 30 + suggestedSize.cy};
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    SCOPED_TRACE("144 DPI");
    expectExact(SIZE{110, 38});
    DestroyWindow(window);
    PumpMessages();
}

TEST_F(Form1Test, GoesBackToItsNormalWindowWhateverMinimizesOrMaximizesIt) {
    const HWND window = form_.Handle();
    for (const int showCommand : {SW_SHOWMINNOACTIVE, SW_SHOWMAXIMIZED, SW_MINIMIZE}) {
        SCOPED_TRACE(testing::Message() << "ShowWindow " << showCommand);
        ShowWindow(window, showCommand);
        EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(window) && !IsIconic(window) && !IsZoomed(window); }));
        const SIZE client = ClientSize(window);
        EXPECT_EQ(client.cx, 73);
        EXPECT_EQ(client.cy, 25);
    }
}

TEST_F(Form1Test, FocusComesBackToThePressedButtonAfterTheWarning) {
    // No target runs in this session, so each press shows the not-running warning.
    const HWND window = form_.Handle();
    ASSERT_TRUE(SetWindowSubclass(window, DropFocusWhenDisabled, 1, 0));
    for (const int pressedId : {Command2Id, Command1Id}) {
        SCOPED_TRACE(pressedId == Command2Id ? "TB" : "Min");
        const HWND pressed = GetDlgItem(window, pressedId);
        ASSERT_TRUE(PressForTheWarning(window, pressedId).found) << "no warning box came";
        EXPECT_TRUE(PumpUntil([&] { return GetFocus() == pressed; }))
            << "the focus is on control " << GetDlgCtrlID(GetFocus());
    }
    RemoveWindowSubclass(window, DropFocusWhenDisabled, 1);
}

constexpr wchar_t Command1Tooltip[] = L"最小化ボタンを切り替えます";
constexpr wchar_t Command2Tooltip[] = L"タイトルバーを切り替えます";
constexpr wchar_t NotRunning[] = L"DUSK VEINが起動されていません";

TEST_F(Form1Test, TooltipsAndTheWarningAreInFontsThatHaveTheirJapanese) {
    // This session's prefix is a player's plain one: Wine's UI fonts have no
    // Japanese and link to none that has.
    const std::wstring tooltips = std::wstring(Command1Tooltip) + Command2Tooltip;
    const LOGFONTW status = SystemMetrics().lfStatusFont;
    const HWND tooltip = Tooltip();
    ASSERT_NE(tooltip, nullptr);
    // The face is looked for once a tooltip is about to show, not at start.
    ASSERT_TRUE(ShowsTooltipOf(tooltip, GetDlgItem(form_.Handle(), Command1Id))) << "no tooltip for Min";
    for (const int dpi : {96, 144}) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        if (dpi != 96) {
            RECT suggested = Suggested(SIZE{110, 38});
            SendMessageW(form_.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        }
        const auto font = reinterpret_cast<HFONT>(SendMessageW(tooltip, WM_GETFONT, 0, 0));
        EXPECT_TRUE(HasEveryGlyph(font, tooltips)) << "the tooltips' font " << testing::PrintToString(FaceOf(font));
        // The same size and weight as the platform's tooltip font.
        EXPECT_NEAR(FontOf(tooltip).lfHeight, MulDiv(status.lfHeight, dpi, 96), 1);
        EXPECT_EQ(FontOf(tooltip).lfWeight, status.lfWeight);
    }

    const SeenBox warning = PressForTheWarning(form_.Handle(), Command2Id);
    ASSERT_TRUE(warning.found) << "no warning box came";
    EXPECT_EQ(warning.text, NotRunning);
    EXPECT_TRUE(warning.textInItsFontsGlyphs)
        << "the warning's font " << testing::PrintToString(FaceOf(warning.textFont));
}

// Links Wine's UI fonts to a Japanese face, as Windows links its own, for the
// processes started while it lives.
class JapaneseLinkedUiFonts {
public:
    JapaneseLinkedUiFonts() {
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink",
                        0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr);
        constexpr wchar_t link[] = L"NotoSansCJK-Regular.ttc,Noto Sans CJK JP\0";
        for (Saved& saved : saved_) {
            DWORD size = sizeof(saved.value);
            saved.existed = RegQueryValueExW(key_, saved.face, nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(saved.value), &size) == ERROR_SUCCESS;
            saved.size = size;
            RegSetValueExW(key_, saved.face, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(link), sizeof(link));
        }
    }
    ~JapaneseLinkedUiFonts() {
        for (const Saved& saved : saved_) {
            if (saved.existed) {
                RegSetValueExW(key_, saved.face, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(saved.value),
                               saved.size);
            } else {
                RegDeleteValueW(key_, saved.face);
            }
        }
        RegCloseKey(key_);
    }
    JapaneseLinkedUiFonts(const JapaneseLinkedUiFonts&) = delete;
    JapaneseLinkedUiFonts& operator=(const JapaneseLinkedUiFonts&) = delete;

private:
    struct Saved {
        const wchar_t* face;
        bool existed = false;
        DWORD size = 0;
        wchar_t value[1024] = L"";
    };
    HKEY key_ = nullptr;
    Saved saved_[3] = {{L"Tahoma"}, {L"MS Shell Dlg"}, {L"MS Shell Dlg 2"}};
};

TEST(FontLinks, WhereThePlatformDrawsTheJapaneseFltxKeepsItsFontsAndTheBoxAsTheyAre) {
    // As on Windows, where the UI fonts link to a Japanese one. Wine reads the
    // links when a process starts: the checks run in a new one.
    const JapaneseLinkedUiFonts links;
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t report[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, report);
    wcscat_s(report, L"framelatch-linked-fonts.xml");
    std::wstring command = std::wstring(L"\"") + self + L"\" --gtest_also_run_disabled_tests" +
                           L" --gtest_filter=WithLinkedUiFonts.* --gtest_output=xml:" + report;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(status, 0u) << "a check failed in the process with linked fonts";

    // It ran the one check: a filter that matches nothing passes too.
    char text[4096] = "";
    if (FILE* file = _wfopen(report, L"rb")) {
        text[fread(text, 1, sizeof(text) - 1, file)] = '\0';
        fclose(file);
    }
    DeleteFileW(report);
    EXPECT_NE(std::strstr(text, "<testsuites tests=\"1\" failures=\"0\""), nullptr) << text;
}

// Run by the test above, in a process that has the links; disabled otherwise.
TEST(WithLinkedUiFonts, DISABLED_FltxUsesThePlatformsFontsAndLeavesTheBoxAlone) {
    Form1 form(GetModuleHandleW(nullptr));
    ASSERT_TRUE(form.Create(false));
    const HWND tooltip = FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr);
    ASSERT_NE(tooltip, nullptr);
    ASSERT_TRUE(ShowsTooltipOf(tooltip, GetDlgItem(form.Handle(), Command1Id))) << "no tooltip for Min";
    EXPECT_EQ(FaceOf(reinterpret_cast<HFONT>(SendMessageW(tooltip, WM_GETFONT, 0, 0))),
              SystemMetrics().lfStatusFont.lfFaceName);

    const SeenBox warning = PressForTheWarning(form.Handle(), Command1Id);
    ASSERT_TRUE(warning.found) << "no warning box came";
    EXPECT_EQ(warning.text, NotRunning);
    EXPECT_EQ(warning.textFont, warning.buttonFont) << "the box's text has another font than its button";
    DestroyWindow(form.Handle());
    PumpMessages();
}

TEST(DllSearch, DllsLoadedByNameComeOnlyFromSystem32) {
    // The planted DLL lies beside this test program and nowhere else.
    constexpr wchar_t planted[] = L"framelatch_planted.dll";
    const HMODULE before = LoadLibraryW(planted);
    ASSERT_NE(before, nullptr) << "without the restriction the program's own folder is searched";
    FreeLibrary(before);
    ASSERT_EQ(GetModuleHandleW(planted), nullptr) << "still loaded: the next load would not search";

    RestrictDllSearchToSystem32();
    const HMODULE after = LoadLibraryW(planted);
    EXPECT_EQ(after, nullptr) << "a DLL beside the program was loaded";
    if (after) FreeLibrary(after);
    const HMODULE system = LoadLibraryW(L"msimg32.dll");
    EXPECT_NE(system, nullptr) << "a DLL of System32 no longer loads by name";
    if (system) FreeLibrary(system);
}

TEST(DpiFunctions, LooksUpTheDpiCallsInTheLoadedUser32Only) {
    const std::set<std::wstring> before = LoadedModules();
    ASSERT_FALSE(before.empty());
    const DpiFunctions functions;
    EXPECT_GT(functions.WindowDpi(GetDesktopWindow()), 0);
    EXPECT_GT(functions.WindowSize(SIZE{73, 25}, WS_CAPTION | WS_SYSMENU, WS_EX_TOOLWINDOW, 96).cy, 25);
    LOGFONTW message{};
    LOGFONTW status{};
    EXPECT_TRUE(functions.MessageFont(144, message));
    EXPECT_TRUE(functions.StatusFont(144, status));
    EXPECT_NE(message.lfHeight, 0);
    EXPECT_NE(status.lfHeight, 0);
    EXPECT_EQ(LoadedModules(), before) << "the lookup loaded a module";
}

}  // namespace
}  // namespace framelatch
