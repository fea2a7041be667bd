#include <gtest/gtest.h>

#include <windows.h>

#include <GL/gl.h>

#include <string>

#include "shell/main.h"
#include "shell/state.h"
#include "support/program_window.h"
#include "support/replacements.h"

namespace {

constexpr LRESULT defaultResult = 0x5EED; // what the replaced DefWindowProcA answers
// Virtual-key codes of letters are their capitals.
constexpr WPARAM keyA = 'A';
constexpr WPARAM keyX = 'X';

} // namespace

// The window procedure called directly, case by case, on the program's real window.
class WindowProcedure : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.created);
        window = sceneState.hWnd;
    }

    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
        return MainWindowProc(window, message, wParam, lParam);
    }

    // DefWindowProcA replaced, for cases that must or must not reach it.
    LRESULT SendCountingDefault(UINT message, WPARAM wParam, LPARAM lParam) {
        Replacements replaced({"DefWindowProcA"});
        return Send(message, wParam, lParam);
    }

    static int DefaultProcCalls() {
        return static_cast<int>(CallsOf("DefWindowProcA").size());
    }

    ProgramWindowSession session;
    HWND window = nullptr;
};

TEST_F(WindowProcedure, StartsActiveWithNoKeyDownAndActivationFollowsOnlyTheMinimisedFlag) {
    // Window creation and showing already sent WM_ACTIVATE (active, not minimised).
    EXPECT_TRUE(sceneState.isActive);
    for (bool down : sceneState.keyDown) {
        ASSERT_FALSE(down);
    }
    EXPECT_EQ(Send(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0), 0);
    EXPECT_FALSE(sceneState.isActive);
    EXPECT_EQ(Send(WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0), 0);
    EXPECT_TRUE(sceneState.isActive);
    // Losing focus without being minimised keeps the animation going.
    EXPECT_EQ(Send(WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), 0), 0);
    EXPECT_TRUE(sceneState.isActive);
    // Activated while still minimised (a click on its taskbar button) stays paused.
    EXPECT_EQ(Send(WM_ACTIVATE, MAKEWPARAM(WA_CLICKACTIVE, 1), 0), 0);
    EXPECT_FALSE(sceneState.isActive);
}

TEST_F(WindowProcedure, ScreenSaverAndMonitorPowerDownAreRefused) {
    EXPECT_EQ(SendCountingDefault(WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
    EXPECT_EQ(SendCountingDefault(WM_SYSCOMMAND, SC_MONITORPOWER, 2), 0);
    // The system keeps its own flags in the low four bits: still the same two requests.
    EXPECT_EQ(SendCountingDefault(WM_SYSCOMMAND, SC_SCREENSAVE | 0x3, 0), 0);
    EXPECT_EQ(SendCountingDefault(WM_SYSCOMMAND, SC_MONITORPOWER | 0xF, 2), 0);
    EXPECT_EQ(DefaultProcCalls(), 0);

    // Any other system command goes on as usual, with or without such flags.
    EXPECT_EQ(SendCountingDefault(WM_SYSCOMMAND, SC_KEYMENU, 0), defaultResult);
    EXPECT_EQ(SendCountingDefault(WM_SYSCOMMAND, SC_MINIMIZE | 0x2, 0), defaultResult);
    EXPECT_EQ(DefaultProcCalls(), 2);
}

TEST_F(WindowProcedure, CloseAsksToQuitAndLeavesTheWindowAlive) {
    EXPECT_EQ(Send(WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(IsWindow(window));
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(WindowProcedure, KeysAreRecordedDownAndUp) {
    EXPECT_EQ(Send(WM_KEYDOWN, keyA, 0x001E0001), 0);
    EXPECT_EQ(Send(WM_KEYDOWN, VK_ESCAPE, 0x00010001), 0);
    EXPECT_EQ(Send(WM_KEYDOWN, 255, 0), 0);
    EXPECT_TRUE(sceneState.keyDown[keyA]);
    EXPECT_TRUE(sceneState.keyDown[VK_ESCAPE]);
    EXPECT_TRUE(sceneState.keyDown[255]);
    EXPECT_EQ(Send(WM_KEYUP, keyA, 0xC01E0001), 0);
    EXPECT_FALSE(sceneState.keyDown[keyA]);
    EXPECT_TRUE(sceneState.keyDown[VK_ESCAPE]);
}

TEST_F(WindowProcedure, KeyCodesPastTheTableAreIgnored) {
    const SceneState before{sceneState.isActive,     {},
                            sceneState.isFullscreen, sceneState.hInstance,
                            sceneState.hWnd,         sceneState.hDC,
                            sceneState.hRC,          nullptr};
    for (WPARAM code : {WPARAM{256}, WPARAM{257}, WPARAM{0x10000}, ~WPARAM{0}}) {
        EXPECT_EQ(Send(WM_KEYDOWN, code, 0), 0);
        EXPECT_EQ(Send(WM_KEYUP, code, 0), 0);
        EXPECT_EQ(Send(WM_KEYDOWN, code, 0), 0);
    }
    for (bool down : sceneState.keyDown) {
        ASSERT_FALSE(down);
    }
    // What lies beyond the table is untouched.
    EXPECT_EQ(sceneState.isFullscreen, before.isFullscreen);
    EXPECT_EQ(sceneState.hInstance, before.hInstance);
    EXPECT_EQ(sceneState.hWnd, before.hWnd);
    EXPECT_EQ(sceneState.hDC, before.hDC);
    EXPECT_EQ(sceneState.hRC, before.hRC);
    EXPECT_NE(sceneState.pointField, nullptr);
}

TEST_F(WindowProcedure, SystemKeysLeaveTheKeyTableAlone) {
    SendCountingDefault(WM_SYSKEYDOWN, VK_ESCAPE, 0x20010001);
    SendCountingDefault(WM_SYSKEYDOWN, VK_MENU, 0x20380001);
    SendCountingDefault(WM_SYSKEYDOWN, keyX, 0x202D0001);
    EXPECT_EQ(DefaultProcCalls(), 3);
    EXPECT_FALSE(sceneState.keyDown[VK_ESCAPE]);
    EXPECT_FALSE(sceneState.keyDown[VK_MENU]);
    EXPECT_FALSE(sceneState.keyDown[keyX]);
    sceneState.keyDown[keyX] = true;
    SendCountingDefault(WM_SYSKEYUP, keyX, 0xE02D0001);
    EXPECT_TRUE(sceneState.keyDown[keyX]);
}

TEST_F(WindowProcedure, SizeResizesTheViewportAndProjection) {
    GLint viewport[4];
    EXPECT_EQ(Send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480)), 0);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);

    GLdouble projection[16];
    EXPECT_EQ(Send(WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 0)), 0);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_EQ(viewport[2], 300);
    EXPECT_EQ(viewport[3], 1);
    EXPECT_NEAR(projection[0] * 300.0 / projection[5], 1.0, 1e-6); // aspect equal to the width

    // A real resize of the window arrives the same way.
    RECT rect{0, 0, 500, 400};
    AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE);
    SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 500);
    EXPECT_EQ(viewport[3], 400);
}

TEST_F(WindowProcedure, OtherMessagesGoToTheDefaultProcedure) {
    EXPECT_EQ(SendCountingDefault(WM_USER + 7, 1, 2), defaultResult);
    EXPECT_EQ(SendCountingDefault(WM_PAINT, 0, 0), defaultResult);
    EXPECT_EQ(DefaultProcCalls(), 2);
}
