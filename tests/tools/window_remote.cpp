// Drives the program's window from outside, for the run script: waits for it and prints where
// its client area is on the display, or asks it to close.
//
//   window_remote wait    prints WIDTHxHEIGHT+X+Y of the client area once the window is there
//   window_remote close   posts WM_CLOSE, as the window's close button does

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HWND WaitForProgramWindow() {
    for (int tries = 0; tries < 400; ++tries) {
        HWND window = FindWindowA("OpenGL", "Tovren");
        if (window && IsWindowVisible(window)) {
            return window;
        }
        Sleep(25);
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || (std::strcmp(argv[1], "wait") != 0 && std::strcmp(argv[1], "close") != 0)) {
        std::fprintf(stderr, "usage: window_remote wait|close\n");
        return 2;
    }
    HWND window = WaitForProgramWindow();
    if (!window) {
        std::fprintf(stderr, "window_remote: no Tovren window\n");
        return 1;
    }
    if (std::strcmp(argv[1], "close") == 0) {
        return PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    std::printf("%ldx%ld+%ld+%ld\n", client.right, client.bottom, origin.x, origin.y);
    return 0;
}
