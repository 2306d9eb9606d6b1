// What the program looks up as it starts: DLLs by name from System32 alone,
// and the DPI calls in the user32 already loaded.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "DllSearch.h"
#include "DpiFunctions.h"

namespace framelatch {
namespace {

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
