#pragma once

// The program's own window, context and scene, built in the test process as WinMain builds them,
// with every frame counted as it is presented (calls.presented) and message boxes recorded.

#include <windows.h>

#include <vector>

#include "scene/point_field.h"
#include "support/replacements.h"

struct ProgramWindowSession {
    ProgramWindowSession();
    ~ProgramWindowSession();

    FreshState fresh;
    Replacements replaced{
        {"SwapBuffers", "MessageBoxA", "MsgWaitForMultipleObjects", "EnumDisplaySettingsA"}};
    bool created = false;
};

std::vector<SpritePoint> CopyPointField();

// Runs `action` on this thread `milliseconds` from now, from inside the message loop.
void RunLater(UINT milliseconds, void (*action)());

// Runs `action` from inside the message loop once `frames` frames have been presented, however
// long that takes.
void RunAfterFrames(int frames, void (*action)());
#include "support/launched_program.h"
