#pragma once

// The program's own window, context and scene, built in the test process as WinMain builds them,
// with every frame counted as it is presented.

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "scene/point_field.h"
#include "support/fault_injection.h"

struct ProgramWindowSession {
    ProgramWindowSession();
    ~ProgramWindowSession();

    bool created = false;
    MessageBoxRecorder boxes;
    std::unique_ptr<ImportPatch> swapCounter;
};

// Frames presented (SwapBuffers calls) since the session began.
extern std::atomic<int> presentedFrames;

std::vector<SpritePoint> CopyPointField();

// Runs `action` on this thread `milliseconds` from now, from inside the message loop.
void RunLater(UINT milliseconds, void (*action)());
