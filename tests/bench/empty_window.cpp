// The floor for start-up: a window of the program's size and pixel format that presents one
// cleared frame and then waits to be closed.

#include <windows.h>

#include <GL/gl.h>

namespace {

LRESULT CALLBACK EmptyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = EmptyWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "EmptyWindow";
    RegisterClassA(&windowClass);
    RECT rect{0, 0, 800, 600};
    AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE);
    HWND window = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, "EmptyWindow", "Empty",
                                  WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
                                  rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                  instance, nullptr);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR descriptor{};
    descriptor.nSize = sizeof(descriptor);
    descriptor.nVersion = 1;
    descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    descriptor.iPixelType = PFD_TYPE_RGBA;
    descriptor.cColorBits = 32;
    descriptor.cDepthBits = 16;
    SetPixelFormat(dc, ChoosePixelFormat(dc, &descriptor), &descriptor);
    HGLRC context = wglCreateContext(dc);
    wglMakeCurrent(dc, context);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(window);

    glViewport(0, 0, 800, 600);
    glClearColor(0.0f, 0.25f, 0.5f, 1.0f); // a colour the benchmark can recognise
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SwapBuffers(dc);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        DispatchMessageA(&msg);
    }
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(context);
    ReleaseDC(window, dc);
    DestroyWindow(window);
    return 0;
}
