#pragma once

#include <windows.h>

namespace framelatch {

// An export of a module the program already has loaded, as the function type
// it has; null when the module or the export is missing. Loads nothing, so
// calls newer than the oldest supported Windows are never imported.
template <typename Function>
Function LoadedExport(const wchar_t* module, const char* name) {
    const HMODULE loaded = GetModuleHandleW(module);
    if (!loaded) return nullptr;
    // Through void(*)(), the one function type a cast from FARPROC may go by unremarked.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(loaded, name)));
}

}  // namespace framelatch
