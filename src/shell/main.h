#pragma once

#include <windows.h>

// The window procedure of the render window's class.
LRESULT CALLBACK MainWindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
