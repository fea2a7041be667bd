#include "support/gl_window.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>

namespace {

constexpr char testClassName[] = "TovrenTestGL";
GLfloat smoothRange[2] = {}; // of the points the driver draws, read with its extensions
GLfloat spriteRange[2] = {};

bool RegisterTestClass() {
    WNDCLASSA existing{};
    if (GetClassInfoA(GetModuleHandleA(nullptr), testClassName, &existing)) {
        return true;
    }
    WNDCLASSA windowClass{};
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = testClassName;
    return RegisterClassA(&windowClass) != 0;
}

} // namespace

bool CreateTestGLWindow(TestGLWindow& window, int width, int height, const char* title) {
    if (!RegisterTestClass()) {
        return false;
    }
    RECT rect{0, 0, width, height};
    AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0);
    window.hWnd = CreateWindowExA(0, testClassName, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window.hWnd) {
        return false;
    }
    window.hDC = GetDC(window.hWnd);
    PIXELFORMATDESCRIPTOR descriptor{};
    descriptor.nSize = sizeof(descriptor);
    descriptor.nVersion = 1;
    descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    descriptor.iPixelType = PFD_TYPE_RGBA;
    descriptor.cColorBits = 32;
    descriptor.cDepthBits = 16;
    const int format = ChoosePixelFormat(window.hDC, &descriptor);
    if (format == 0 || !SetPixelFormat(window.hDC, format, &descriptor)) {
        DestroyTestGLWindow(window);
        return false;
    }
    window.hRC = wglCreateContext(window.hDC);
    if (!window.hRC || !wglMakeCurrent(window.hDC, window.hRC)) {
        DestroyTestGLWindow(window);
        return false;
    }
    return true;
}

void DestroyTestGLWindow(TestGLWindow& window) {
    if (window.hRC) {
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(window.hRC);
    }
    if (window.hDC) {
        ReleaseDC(window.hWnd, window.hDC);
    }
    if (window.hWnd && IsWindow(window.hWnd)) {
        DestroyWindow(window.hWnd);
    }
    window = TestGLWindow{};
}

bool DriverReports(const std::string& extension) {
    // Read once, on a window of its own; whatever context was current stays current.
    static const std::string extensions = [] {
        const HDC currentDC = wglGetCurrentDC();
        const HGLRC current = wglGetCurrentContext();
        std::string names = " ";
        TestGLWindow probe;
        if (CreateTestGLWindow(probe, 64, 64, "extension probe")) {
            if (const auto* gl = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS))) {
                names += std::string(gl) + " ";
            }
            using GetWglString = const char*(WINAPI*)(HDC);
            const auto getWgl = reinterpret_cast<GetWglString>(
                reinterpret_cast<void (*)()>(wglGetProcAddress("wglGetExtensionsStringARB")));
            if (getWgl != nullptr && getWgl(probe.hDC) != nullptr) {
                names += std::string(getWgl(probe.hDC)) + " ";
            }
            glGetFloatv(GL_POINT_SIZE_RANGE, smoothRange);
            glGetFloatv(GL_ALIASED_POINT_SIZE_RANGE, spriteRange);
            DestroyTestGLWindow(probe);
        }
        wglMakeCurrent(currentDC, current);
        return names;
    }();
    return extensions.find(" " + extension + " ") != std::string::npos;
}

double WidestPoint() {
    const bool sprites = DriverReports("GL_ARB_point_sprite"); // reads the ranges too
    return std::min(30.0, static_cast<double>(sprites ? spriteRange[1] : smoothRange[1]));
}

Pixels ReadBackBuffer(int width, int height) {
    Pixels pixels;
    pixels.width = width;
    pixels.height = height;
    pixels.rgba.resize(static_cast<std::size_t>(width) * height * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.rgba.data());
    return pixels;
}

int WidestLitRun(const Pixels& pixels) {
    int widest = 0;
    for (int y = 0; y < pixels.height; ++y) {
        int run = 0;
        for (int x = 0; x < pixels.width; ++x) {
            const std::uint8_t* p = pixels.At(x, y);
            run = (p[0] | p[1] | p[2]) != 0 ? run + 1 : 0;
            widest = std::max(widest, run);
        }
    }
    return widest;
}
