#include "TargetWindow.h"

#include "AnsiText.h"

namespace framelatch {

WindowHandle FindTargetWindow(WindowSystem& system) {
    WindowHandle window;
    {
        const AnsiText title(TargetWindowTitle);
        const AnsiText className(TargetClassName);
        window = system.FindWindowA(className.c_str(), title.c_str());
    }  // both ANSI copies are gone before the result is looked at
    return window;
}

// Whichever way the user closes a warning, the press goes on the same way.
void WarnTargetNotRunning(WindowSystem& system) {
    system.MessageBoxW(NotRunningMessage, WarningCaption, WarningBoxStyle);
}

void WarnTargetRefusedChange(WindowSystem& system) {
    system.MessageBoxW(RefusedChangeMessage, WarningCaption, WarningBoxStyle);
}

}  // namespace framelatch
