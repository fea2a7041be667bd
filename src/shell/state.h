#pragma once

#include <windows.h>

#include <memory>

#include "scene/point_field.h"

// The one mutable record of the process. Only the process's single thread touches it.
struct SceneState {
    bool isActive = true; // frames are drawn before the first WM_ACTIVATE arrives
    bool keyDown[256] = {};

    // The initial value is the fullscreen start-up setting; CreateRenderWindow stores the mode it
    // finally uses.
    bool isFullscreen = false;

    // Each handle stays null until the creation step that obtains it has succeeded, and is
    // cleared again once released, so teardown releases only what exists.
    HINSTANCE hInstance = nullptr;
    HWND hWnd = nullptr;
    HDC hDC = nullptr;
    HGLRC hRC = nullptr;

    std::unique_ptr<SpritePoint[]> pointField;
};

extern SceneState sceneState;
