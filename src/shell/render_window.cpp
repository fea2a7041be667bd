#include "shell/render_window.h"

#include <windows.h>

#include "scene/renderer.h"
#include "scene/system_libraries.h"
#include "shell/main.h"
#include "shell/state.h"

namespace {

constexpr char windowClassName[] = "OpenGL";

void ReportStartupError(const char* text) {
    MessageBoxA(nullptr, text, "ERROR", MB_OK | MB_ICONEXCLAMATION);
}

void ReportShutdownError(const char* text) {
    MessageBoxA(nullptr, text, "SHUTDOWN ERROR", MB_OK | MB_ICONINFORMATION);
}

// The user sees the failure only once the teardown is complete.
bool FailCreation(const char* text) {
    DestroyRenderWindow();
    ReportStartupError(text);
    return false;
}

bool RegisterWindowClass() {
    WNDCLASSA windowClass{};
    // CS_OWNDC: the device context, and so the pixel format chosen for it, stays the window's own.
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = sceneState.hInstance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_WINLOGO);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr; // OpenGL paints every pixel
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = windowClassName;
    return RegisterClassA(&windowClass) != 0;
}

bool ChangeToFullscreenMode(int width, int height, int bits) {
    DEVMODEA mode{};
    mode.dmSize = sizeof(mode);
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    mode.dmBitsPerPel = static_cast<DWORD>(bits);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
}

// Asks the user what to do when the display mode was refused. False when the program should end.
bool AcceptWindowedInstead() {
    const int answer = MessageBoxA(nullptr,
                                   "The Requested Fullscreen Mode Is Not Supported By\n"
                                   "Your Video Card. Use Windowed Mode Instead?",
                                   "Vorn GL", MB_YESNO | MB_ICONEXCLAMATION);
    if (answer == IDYES) {
        return true;
    }
    MessageBoxA(nullptr, "Program Will Now Close.", "ERROR", MB_OK | MB_ICONSTOP);
    return false;
}

PIXELFORMATDESCRIPTOR DescribeRequestedPixelFormat(int bits) {
    // Every field not set here is 0: no alpha, no accumulation, stencil or auxiliary buffers, the
    // colour bits and shifts left to the driver, no layer masks.
    PIXELFORMATDESCRIPTOR descriptor{};
    descriptor.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    descriptor.nVersion = 1;
    descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    descriptor.iPixelType = PFD_TYPE_RGBA;
    descriptor.cColorBits = static_cast<BYTE>(bits);
    descriptor.cDepthBits = 16;
    descriptor.iLayerType = PFD_MAIN_PLANE;
    return descriptor;
}

// NOTE: AdjustWindowRectEx measures the frame at the system's DPI. The window is aware of each
// monitor's DPI, so on a monitor of another DPI its frame differs and the client area misses the
// size asked for: the outer size is corrected by the difference, where there is one.
void FitClientArea(HWND window, int width, int height) {
    RECT client{};
    RECT frame{};
    GetClientRect(window, &client);
    GetWindowRect(window, &frame);
    const int missingWidth = width - (client.right - client.left);
    const int missingHeight = height - (client.bottom - client.top);
    if (missingWidth != 0 || missingHeight != 0) {
        SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left + missingWidth,
                     frame.bottom - frame.top + missingHeight,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

} // namespace

bool CreateRenderWindow(const char* title, int width, int height, int bits, bool fullscreen) {
    sceneState.isFullscreen = fullscreen;
    sceneState.hInstance = GetModuleHandleA(nullptr);

    if (!RegisterWindowClass()) {
        ReportStartupError("Failed To Register The Window Class.");
        return false;
    }

    DWORD exStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
    DWORD style = WS_OVERLAPPEDWINDOW;
    if (sceneState.isFullscreen) {
        if (ChangeToFullscreenMode(width, height, bits)) {
            ShowCursor(FALSE);
            exStyle = WS_EX_APPWINDOW;
            style = WS_POPUP;
        } else if (AcceptWindowedInstead()) {
            sceneState.isFullscreen = false;
        } else {
            return false; // the class stays registered
        }
    }

    // The requested size is the client area's; the frame is added around it.
    RECT rect{0, 0, width, height};
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);

    sceneState.hWnd = CreateWindowExA(exStyle,                                   // dwExStyle
                                      windowClassName,                           // lpClassName
                                      title,                                     // lpWindowName
                                      style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, // dwStyle
                                      0,                                         // X: top left
                                      0,                                         // Y
                                      rect.right - rect.left,                    // nWidth
                                      rect.bottom - rect.top,                    // nHeight
                                      nullptr,                                   // hWndParent
                                      nullptr,                                   // hMenu
                                      sceneState.hInstance,                      // hInstance
                                      nullptr);                                  // lpParam
    if (!sceneState.hWnd) {
        return FailCreation("Window Creation Error.");
    }
    FitClientArea(sceneState.hWnd, width, height);

    sceneState.hDC = GetDC(sceneState.hWnd);
    if (!sceneState.hDC) {
        return FailCreation("Can't Create A GL Device Context.");
    }

    const PIXELFORMATDESCRIPTOR descriptor = DescribeRequestedPixelFormat(bits);
    const int format = ChoosePixelFormat(sceneState.hDC, &descriptor);
    if (format == 0) {
        return FailCreation("Can't Find A Suitable PixelFormat.");
    }
    if (!SetPixelFormat(sceneState.hDC, format, &descriptor)) {
        return FailCreation("Can't Set The PixelFormat.");
    }

    sceneState.hRC = wglCreateContext(sceneState.hDC);
    if (!sceneState.hRC) {
        return FailCreation("Can't Create A GL Rendering Context.");
    }
    if (!wglMakeCurrent(sceneState.hDC, sceneState.hRC)) {
        return FailCreation("Can't Activate The GL Rendering Context.");
    }

    ShowWindow(sceneState.hWnd, SW_SHOW);
    SetForegroundWindow(sceneState.hWnd);
    SetFocus(sceneState.hWnd);

    // Messages sent while the window was created and shown found no context; set the projection
    // now that there is one.
    ResizeScene(width, height);
    return true;
}

void DestroyRenderWindow() {
    sceneState.pointField.reset();

    if (sceneState.isFullscreen) {
        ChangeDisplaySettingsA(nullptr, 0); // back to the mode stored in the registry
        ShowCursor(TRUE);
    }

    if (sceneState.hRC) {
        // NOTE: a context that never became current (its activation is what failed) has nothing to
        // release, and releasing nothing fails on some systems: no error to report then.
        if (wglGetCurrentContext() == sceneState.hRC && !wglMakeCurrent(nullptr, nullptr)) {
            ReportShutdownError("Release Of DC And RC Failed.");
        }
        if (!wglDeleteContext(sceneState.hRC)) {
            ReportShutdownError("Release Rendering Context Failed.");
        }
        sceneState.hRC = nullptr;
    }

    if (sceneState.hDC) {
        if (!ReleaseDC(sceneState.hWnd, sceneState.hDC)) {
            ReportShutdownError("Release Device Context Failed.");
        }
        sceneState.hDC = nullptr;
    }

    if (sceneState.hWnd) {
        if (!DestroyWindow(sceneState.hWnd)) {
            ReportShutdownError("Could Not Release hWnd.");
        }
        sceneState.hWnd = nullptr;
    }

    // Every path that reaches the teardown from creation has registered the class, and the
    // instance handle is cleared once it is unregistered: a second teardown has nothing to do.
    if (sceneState.hInstance) {
        if (!UnregisterClassA(windowClassName, sceneState.hInstance)) {
            ReportShutdownError("Could Not Unregister Class.");
        }
        sceneState.hInstance = nullptr;
    }
}

void KeepClientAreaAtNewDpi(HWND window, const RECT& suggested) {
    RECT client{};
    GetClientRect(window, &client);
    // The suggestion scales the whole window to the new DPI, client area included.
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (!IsZoomed(window)) { // a maximised window fills its monitor, whatever its DPI
        FitClientArea(window, client.right - client.left, client.bottom - client.top);
    }
}
