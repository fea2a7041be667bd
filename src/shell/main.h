#pragma once

#include <windows.h>

// The window procedure of the render window's class: turns window messages into changes of the
// state record, resizes and the quit request.
LRESULT CALLBACK MainWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Drains messages and draws one frame whenever none is pending (paced to the display where the
// driver does not wait for it), until WM_QUIT or a held Escape.
// Returns the exit code: WM_QUIT's, or 0 when the user pressed Escape.
int RunFrameLoop();
