#pragma once

#include "WindowSystem.h"

namespace framelatch {

// The target application's main window. The only place the program names it.
// "DuskVein"
inline constexpr char16_t TargetClassName[] = u"DuskVein";
// "Dusk Vein"
inline constexpr char16_t TargetWindowTitle[] = u"Dusk Vein";

// "DUSK VEINが起動されていません": Dusk Vein has not been started.
inline constexpr char16_t NotRunningMessage[] =
    u"DUSK VEIN\u304C\u8D77\u52D5\u3055\u308C\u3066\u3044\u307E\u305B\u3093";
inline constexpr char16_t WarningCaption[] = u"Framelatch";

inline constexpr unsigned MbOk = 0x0;
inline constexpr unsigned MbIconExclamation = 0x30;
// One OK button, the exclamation icon, application-modal; no other bit.
inline constexpr unsigned WarningBoxStyle = MbOk | MbIconExclamation;

// The target's main window, or 0 when the target is not running. Searches
// afresh on every call.
WindowHandle FindTargetWindow(WindowSystem& system);

// Tells the user the target is not running; returns once the box is dismissed.
void WarnTargetNotRunning(WindowSystem& system);

}  // namespace framelatch
