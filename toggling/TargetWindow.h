#pragma once

#include "WindowSystem.h"

namespace framelatch {

// The target application's main window. The only place the program names it.
constexpr char16_t TargetClassName[] = u"DuskVein";
constexpr char16_t TargetWindowTitle[] = u"Dusk Vein";

// Dusk Vein has not been started.
constexpr char16_t NotRunningMessage[] = u"DUSK VEINが起動されていません";
// Dusk Vein's window could not be changed. If Dusk Vein runs as
// administrator, run Framelatch as administrator too.
constexpr char16_t RefusedChangeMessage[] =
    u"DUSK VEINのウィンドウを変更できませんでした。"
    u"DUSK VEINを管理者として実行している場合は、Framelatchも管理者として実行してください。";
constexpr char16_t WarningCaption[] = u"Framelatch";

inline constexpr unsigned MbOk = 0x0;
inline constexpr unsigned MbIconExclamation = 0x30;
// One OK button, the exclamation icon, application-modal; no other bit.
// Both warnings use it.
inline constexpr unsigned WarningBoxStyle = MbOk | MbIconExclamation;

// The target's main window, or 0 when the target is not running. Searches
// afresh on every call.
WindowHandle FindTargetWindow(WindowSystem& system);

// Tells the user the target is not running; returns once the box is dismissed.
void WarnTargetNotRunning(WindowSystem& system);

// Tells the user the target runs but refused the change; returns once the
// box is dismissed.
void WarnTargetRefusedChange(WindowSystem& system);

}  // namespace framelatch
