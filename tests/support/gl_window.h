#pragma once

// A plain window with a double-buffered RGBA context, made by the tests themselves so that the
// scene can be tried on a real context independently of the program's own window code.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct TestGLWindow {
    HWND hWnd = nullptr;
    HDC hDC = nullptr;
    HGLRC hRC = nullptr;
};

// Creates and shows the window (class "TovrenTestGL") with the given client size, a pixel format
// like the program's and a current context.
bool CreateTestGLWindow(TestGLWindow& window, int width, int height,
                        const char* title = "scene test");
void DestroyTestGLWindow(TestGLWindow& window);

// RGBA pixels of the back buffer, bottom row first.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;

    const std::uint8_t* At(int x, int y) const {
        return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
    }
};
Pixels ReadBackBuffer(int width, int height);

// Widest horizontal run of non-black pixels.
int WidestLitRun(const Pixels& pixels);

// True when the OpenGL driver reports the extension (GL's or WGL's) for a window like the
// program's. A driver without a GPU behind it, Microsoft's OpenGL 1.1 on a CI runner for instance,
// reports none of those the program uses: tests that need one skip there, and say why.
bool DriverReports(const std::string& extension);

// The widest point the driver draws for the program's 30 pixels: a sprite, or a smooth point where
// it has none (at most 10 in the sample implementation Microsoft's OpenGL 1.1 comes from).
double WidestPoint();
