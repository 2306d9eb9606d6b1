#include "DllSearch.h"

#include <windows.h>

#include "LoadedExport.h"

namespace framelatch {

void RestrictDllSearchToSystem32() {
    // Windows 7 has SetDefaultDllDirectories only with KB2533623.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefaultDllDirectories =
        LoadedExport<SetDefaultDllDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
    if (setDefaultDllDirectories && setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it, at least the current folder is no longer searched.
    SetDllDirectoryW(L"");
}

}  // namespace framelatch
