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

void WarnTargetNotRunning(WindowSystem& system) {
    // Whichever way the user closes the box, the press goes on the same way.
    system.MessageBoxW(NotRunningMessage, WarningCaption, WarningBoxStyle);
}

}  // namespace framelatch
