// The entry point, the window procedure and the frame loop.
//
// Where the program deliberately departs from the obvious reading of the Win32 contract or of the
// behaviour it was built to:
//  - A start that fails (no system library, no window, no context) ends with exit code 1, not 0,
//    so that a script or launcher can tell it from a normal end. The user has seen a message box.
//  - Escape ends the program with exit code 0, as closing the window does, whatever message
//    happened to be retrieved last.
//  - Minimised, the loop sleeps until a message arrives instead of polling.
//  - Where the driver ignores the swap interval and SwapBuffers returns at once (vertical sync
//    forced off, virtual and remote displays), the loop paces itself to one frame per refresh of
//    the window's own monitor (shell/frame_pacing.*): each frame is due a quarter of a refresh
//    after a vertical blank of that monitor, read from its output's scan line or from the
//    compositor's clock where it runs at that monitor's rate (shell/display_timing.*). Where the
//    system gives no blanks, a timer runs at the monitor's exact rate, else its whole number,
//    else 60 Hz. The wait is a waitable timer that messages and input cut short. Where the swap
//    waits for the display, even only once the driver has frames queued, nothing waits but
//    SwapBuffers; a swap that takes a good part of the refresh is never paced.
//  - OpenGL, GLU, the multimedia timer and the compositor's library are loaded from the system
//    folder, never imported; the display timing is looked up by name, and done without where
//    the system lacks it (scene/system_libraries.*).
//  - Screen-saver and monitor power-down requests are recognised with the system's low four bits
//    of wParam masked off, as Windows documents.
//  - The client area is 800 x 600 physical pixels on a scaled display, on whatever monitor the
//    window opens or is moved to: the program is aware of each monitor's DPI, corrects the
//    outer size where the frame at the monitor's DPI differs from the one it measured, and
//    keeps the client area when the window moves to a monitor of another DPI.
//  - A posted WM_DPICHANGED is dropped, not dispatched: the system sends the real one, and a
//    posted one's lParam is no rectangle to read.
//  - The teardown releases the rendering context with wglMakeCurrent(NULL, NULL) only when it
//    is current: a context that never became current has nothing to release.

#include "shell/main.h"

#include "scene/renderer.h"
#include "scene/system_libraries.h"
#include "shell/frame_pacing.h"
#include "shell/render_window.h"
#include "shell/settings.h"
#include "shell/state.h"

namespace {

constexpr WPARAM keyCount = sizeof(sceneState.keyDown) / sizeof(sceneState.keyDown[0]);

void SetKeyState(WPARAM virtualKey, bool down) {
    // Virtual-key codes are below 256; anything else would write past the table.
    if (virtualKey < keyCount) {
        sceneState.keyDown[virtualKey] = down;
    }
}

// Limits the search for DLLs that the system itself loads from now on (the OpenGL driver, say) to
// the system folder. Looked up by name: Windows 7 has it only with update KB2533623.
void RestrictDllSearchToSystemFolder() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const FARPROC address =
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (address != nullptr) {
        const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
            reinterpret_cast<void (*)()>(address));
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    switch (uMsg) {
    case WM_ACTIVATE:
        // Only minimising pauses: the high word is the minimised flag, and a window that merely
        // loses focus keeps animating.
        sceneState.isActive = HIWORD(wParam) == 0;
        return 0;

    case WM_SYSCOMMAND:
        // No screen saver and no monitor power-down while the animation has the window.
        // NOTE: the system uses the low four bits of wParam itself; only the rest is the command.
        if ((wParam & 0xFFF0) == SC_SCREENSAVE || (wParam & 0xFFF0) == SC_MONITORPOWER) {
            return 0;
        }
        break;

    case WM_CLOSE:
        // The window stays until the teardown after the loop.
        PostQuitMessage(0);
        return 0;

    case WM_KEYDOWN:
        SetKeyState(wParam, true);
        return 0;

    case WM_KEYUP:
        SetKeyState(wParam, false);
        return 0;

    case WM_SIZE:
        ResizeScene(LOWORD(lParam), HIWORD(lParam));
        return 0;

    case WM_MOVE:
        NoteWindowMoved(); // the pacing follows the monitor; the default handling stays
        break;

    case WM_DISPLAYCHANGE:
        NoteDisplayChanged(); // the pacing follows the new mode; the default handling stays
        break;

    case WM_DPICHANGED:
        // The message's lParam is the system's suggested rectangle.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        KeepClientAreaAtNewDpi(hWnd, *reinterpret_cast<const RECT*>(lParam));
        NoteDisplayChanged();
        return 0;
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

int RunFrameLoop() {
    MSG msg{};
    int exitCode = 0;
    for (;;) {
        // One message per pass and no frame in a pass that handled one: a burst of messages is
        // drained before the next frame.
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                exitCode = static_cast<int>(msg.wParam);
                break;
            }
            // NOTE: the system sends WM_DPICHANGED, never posts it: a posted one is not the
            // system's, and its lParam is no rectangle to read.
            if (msg.message != WM_DPICHANGED) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            continue;
        }

        if (!sceneState.isActive) {
            // Minimised: sleep until anything arrives. Sent messages wake the wait too, so a
            // restore (a WM_ACTIVATE sent, not posted) resumes drawing at once.
            MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
            continue;
        }

        // Escape is read as a key state: a press and release drained in one burst end nothing.
        if (sceneState.keyDown[VK_ESCAPE]) {
            break; // an end the user asked for, as closing the window is: exit code 0
        }

        if (!WaitUntilFrameDue()) {
            continue; // a message came first, or the timer woke early
        }
        DrawScene();
        NoteFrameDrawn();
        SwapBuffers(sceneState.hDC); // waits for the display refresh under a swap interval of 1
        NoteFramePresented();
    }
    StopFramePacing();
    return exitCode;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystemFolder();
    if (!LoadSystemLibraries()) {
        return 1; // already reported to the user
    }
    if (!CreateRenderWindow(StartupSettings::windowTitle, StartupSettings::windowWidth,
                            StartupSettings::windowHeight, StartupSettings::colorBits,
                            sceneState.isFullscreen)) {
        return 1; // already reported to the user
    }
    InitGL();
    const int exitCode = RunFrameLoop();
    DestroyRenderWindow();
    return exitCode;
}
