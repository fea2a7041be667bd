#pragma once

#include <windows.h>

// Creates the window class, the optional fullscreen display mode, the window, its device context,
// pixel format and OpenGL rendering context, in that order, and leaves the window shown and
// focused with the context current and the projection set. On failure it has reported the
// failure to the user and torn down what it built, and returns false.
bool CreateRenderWindow(const char* title, int width, int height, int bits, bool fullscreen);

// Releases the point field and whatever CreateRenderWindow built, in reverse order, restoring the
// display mode if it was switched. Safe on partly built state and when called again.
void DestroyRenderWindow();

// The window moved to a monitor of another DPI: takes the place the system suggests, with the
// client area as large in pixels as it was.
void KeepClientAreaAtNewDpi(HWND window, const RECT& suggested);
