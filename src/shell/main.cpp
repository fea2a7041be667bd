#include "shell/main.h"

#include "scene/renderer.h"
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

// Limits the search for DLLs loaded from now on to the system folder, so that an opengl32.dll,
// glu32.dll or winmm.dll dropped beside the program (a downloads folder) is never loaded in place
// of Windows' own. Looked up by name: Windows 7 has it only with update KB2533623.
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
        if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) {
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
    }
    return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

int RunFrameLoop() {
    MSG msg{};
    for (;;) {
        // One message per pass and no frame in a pass that handled one: a burst of messages is
        // drained before the next frame.
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return static_cast<int>(msg.wParam);
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
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
            return 0; // an end the user asked for, as closing the window is
        }

        DrawScene();
        SwapBuffers(sceneState.hDC); // waits for the display refresh under a swap interval of 1
    }
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    RestrictDllSearchToSystemFolder();
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
