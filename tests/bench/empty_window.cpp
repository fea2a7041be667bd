// The floor for start-up: a window of the program's size and pixel format that presents one
// cleared frame and then waits to be closed.

#include <windows.h>

#include <GL/gl.h>

#include "support/gl_window.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    TestGLWindow window;
    if (!CreateTestGLWindow(window, 800, 600, "Empty")) {
        return 1;
    }
    SetForegroundWindow(window.hWnd);
    SetFocus(window.hWnd);
    glViewport(0, 0, 800, 600);
    glClearColor(0.0f, 0.25f, 0.5f, 1.0f); // a colour the benchmark can recognise
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SwapBuffers(window.hDC);

    // Closing the window destroys it (the default handling of WM_CLOSE).
    MSG msg;
    while (IsWindow(window.hWnd) && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageA(&msg);
    }
    DestroyTestGLWindow(window);
    return 0;
}
