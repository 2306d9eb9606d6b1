#include <windows.h>

#include <commctrl.h>

#include "DllSearch.h"
#include "Form1.h"

// The launcher's show command is not taken: FLTX is never minimized, maximized or hidden.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    framelatch::RestrictDllSearchToSystem32();

    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    framelatch::Form1 form(instance);
    if (!form.Create(true)) return 1;

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab, Shift+Tab, Space and Enter work between the buttons as in a dialog.
        if (form.Handle() && IsDialogMessageW(form.Handle(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
