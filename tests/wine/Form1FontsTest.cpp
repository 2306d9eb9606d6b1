// Form1's Japanese texts in this process: the fonts its tooltips and its
// warning are drawn in, in a player's plain prefix and where the platform's
// UI fonts link to a Japanese one.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "FontGlyphs.h"
#include "Form1Fixture.h"

namespace framelatch {
namespace {

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

}  // namespace
}  // namespace framelatch
