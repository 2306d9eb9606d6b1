// The toggle logic on the real user32: real windows, real styles, and the
// real warning box read back as a user would see it.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "FrameToggles.h"
#include "SeenBox.h"
#include "TargetWindow.h"
#include "User32WindowSystem.h"

namespace framelatch {
namespace {

constexpr DWORD FullFrame = WS_OVERLAPPEDWINDOW;

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// A real window of the given class and title, destroyed with this object.
class TestWindow {
public:
    TestWindow(const wchar_t* className, const wchar_t* title, DWORD style, HWND parent = nullptr) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = PlainWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassW(&windowClass);  // fails harmlessly once registered
        window_ = CreateWindowExW(0, className, title, style, 40, 40, 320, 200, parent, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        // Keep exactly the style asked for: creation adds frame bits of its own.
        if (!parent) SetWindowLongW(window_, GWL_STYLE, static_cast<LONG>(style));
    }
    ~TestWindow() {
        if (window_) DestroyWindow(window_);
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Get() const { return window_; }
    DWORD Style() const { return static_cast<DWORD>(GetWindowLongW(window_, GWL_STYLE)); }

private:
    HWND window_;
};

// The real user32 in every call, except that the lookup yields the window a
// test names; a test can also act right after the lookup or the style read,
// as a target that closes in between would.
class SteeredUser32 final : public WindowSystem {
public:
    SteeredUser32(User32WindowSystem& real, HWND found) : real_(real), found_(found) {}

    std::function<void()> afterLookup;
    std::function<void()> afterRead;

    WindowHandle FindWindowA(const char*, const char*) override {
        RunOnce(afterLookup);
        return reinterpret_cast<WindowHandle>(found_);
    }
    WindowStyle GetWindowLongA(WindowHandle window, int index) override {
        const WindowStyle style = real_.GetWindowLongA(window, index);
        const DWORD error = ::GetLastError();  // kept across the test's own calls
        RunOnce(afterRead);
        ::SetLastError(error);
        return style;
    }
    WindowStyle SetWindowLongA(WindowHandle window, int index, WindowStyle newLong) override {
        return real_.SetWindowLongA(window, index, newLong);
    }
    void SetLastError(ErrorCode error) override { real_.SetLastError(error); }
    ErrorCode GetLastError() override { return real_.GetLastError(); }
    int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override {
        return real_.MessageBoxW(text, caption, style);
    }

private:
    static void RunOnce(std::function<void()>& hook) {
        if (auto run = std::exchange(hook, nullptr)) run();
    }

    User32WindowSystem& real_;
    HWND found_;
};

// "DUSK VEINが起動されていません", spelled out code unit by code unit.
const std::wstring NotRunningText{L'D', L'U', L'S', L'K', L' ', L'V', L'E', L'I', L'N', 0x304C, 0x8D77,
                                  0x52D5, 0x3055, 0x308C, 0x3066, 0x3044, 0x307E, 0x305B, 0x3093};
const std::wstring RefusedText = L"DUSK VEINのウィンドウを変更できませんでした。"
                                 L"DUSK VEINを管理者として実行している場合は、Framelatchも管理者として実行してください。";

// A warning as a user saw it: `text`, the caption, one OK button, the
// exclamation icon, and the program's window taking no input while it was up.
void ExpectWarning(const SeenBox& seen, const std::wstring& text) {
    ASSERT_TRUE(seen.found) << "no message box owned by the program's window appeared";
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.caption, L"Framelatch");
    EXPECT_EQ(seen.buttons, std::vector<std::wstring>{L"OK"});
    EXPECT_TRUE(seen.exclamationIcon);
    EXPECT_FALSE(seen.ownerEnabledWhileUp) << "the box must be modal to the program's window";
    // This session's prefix is a player's plain one, in which Wine's own UI
    // font has no Japanese and links to no font that has.
    EXPECT_TRUE(seen.textInItsFontsGlyphs) << "the Japanese would show as empty boxes";
    EXPECT_TRUE(seen.textShowsWhole) << "the text is cut off or overlaps the button";
}

class TogglingOnUser32 : public ::testing::Test {
protected:
    void SetUp() override {
        system.SetOwner(owner.Get());
        toggles.InitialiseToggles();
    }

    TestWindow owner{L"FramelatchTestOwner", L"FLTX test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE};
    User32WindowSystem system;
    FrameToggles toggles{system};
};

TEST_F(TogglingOnUser32, TitleBarGoesAndComesBack) {
    TestWindow target(L"DuskVein", L"Dusk Vein", FullFrame);
    const DWORD before = target.Style();
    ASSERT_EQ(before & WS_CAPTION, static_cast<DWORD>(WS_CAPTION));

    toggles.ToggleTitleBar();
    EXPECT_EQ(target.Style(), before & ~WS_CAPTION);
    toggles.ToggleTitleBar();
    EXPECT_EQ(target.Style(), before);
    toggles.ToggleTitleBar();
    EXPECT_EQ(target.Style(), before & ~WS_CAPTION);
}

TEST_F(TogglingOnUser32, MinimizeBoxComesAndGoes) {
    TestWindow target(L"DuskVein", L"Dusk Vein", FullFrame & ~WS_MINIMIZEBOX);
    const DWORD before = target.Style();

    toggles.ToggleMinimizeBox();
    EXPECT_EQ(target.Style(), before | WS_MINIMIZEBOX);
    toggles.ToggleMinimizeBox();
    EXPECT_EQ(target.Style(), before);
    toggles.ToggleMinimizeBox();
    EXPECT_EQ(target.Style(), before | WS_MINIMIZEBOX);
}

TEST_F(TogglingOnUser32, LookupIgnoresCaseButNotNearMissesOrChildren) {
    {
        TestWindow host(L"FramelatchTestHost", L"Host", WS_OVERLAPPEDWINDOW);
        TestWindow child(L"DuskVein", L"Dusk Vein", WS_CHILD | WS_VISIBLE, host.Get());
        TestWindow nearMiss(L"DuskVein", L"Dusk  Vein", FullFrame);
        TestWindow otherClass(L"FramelatchTestOther", L"Dusk Vein", FullFrame);
        EXPECT_EQ(FindTargetWindow(system), 0u);
    }
    TestWindow upperCase(L"DuskVein", L"DUSK VEIN", FullFrame);
    EXPECT_EQ(FindTargetWindow(system), reinterpret_cast<WindowHandle>(upperCase.Get()));
}

TEST_F(TogglingOnUser32, WarningBoxIsExactAndLeavesTheFlagsAlone) {
    ExpectWarning(PressAndReadBox(owner.Get(), [&] { toggles.ToggleTitleBar(); }), NotRunningText);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
    EXPECT_TRUE(toggles.TBFlag());

    // Started afterwards, the target meets the flag as it was: the bar goes.
    TestWindow target(L"DuskVein", L"Dusk Vein", FullFrame);
    toggles.ToggleTitleBar();
    EXPECT_EQ(target.Style() & WS_CAPTION, 0u);
}

TEST_F(TogglingOnUser32, TargetClosingDuringThePressIsReportedAsNotRunning) {
    {
        // What user32 itself says of a handle whose window has gone.
        HWND gone = TestWindow(L"DuskVein", L"Dusk Vein", FullFrame).Get();
        SetLastError(0);
        EXPECT_EQ(GetWindowLongA(gone, GWL_STYLE), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
        SetLastError(0);
        EXPECT_EQ(SetWindowLongA(gone, GWL_STYLE, FullFrame), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    }
    for (const bool closeBeforeTheRead : {true, false}) {
        SCOPED_TRACE(closeBeforeTheRead ? "closed before the read" : "closed between the read and the write");
        auto target = std::make_unique<TestWindow>(L"DuskVein", L"Dusk Vein", FullFrame);
        SteeredUser32 steered(system, target->Get());
        (closeBeforeTheRead ? steered.afterLookup : steered.afterRead) = [&] { target.reset(); };
        FrameToggles steeredToggles(steered);
        steeredToggles.InitialiseToggles();

        // A target that has gone is not running.
        ExpectWarning(PressAndReadBox(owner.Get(), [&] { steeredToggles.ToggleTitleBar(); }), NotRunningText);
        EXPECT_TRUE(steeredToggles.TBFlag());
    }
}

TEST_F(TogglingOnUser32, RefusedChangeIsReportedWithItsOwnWarning) {
    // user32 lets any program read the desktop window's style but lets none
    // change it: a real refusal, without the integrity levels Wine lacks.
    const HWND protectedWindow = GetDesktopWindow();
    const DWORD before = static_cast<DWORD>(GetWindowLongA(protectedWindow, GWL_STYLE));
    SteeredUser32 steered(system, protectedWindow);
    FrameToggles steeredToggles(steered);
    steeredToggles.InitialiseToggles();

    ExpectWarning(PressAndReadBox(owner.Get(), [&] { steeredToggles.ToggleTitleBar(); }), RefusedText);
    EXPECT_TRUE(steeredToggles.TBFlag()) << "a refused change must not count";
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(protectedWindow, GWL_STYLE)), before);
}

}  // namespace
}  // namespace framelatch
