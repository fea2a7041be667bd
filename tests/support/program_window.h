#pragma once

// The program's own window, context and scene, built in the test process as WinMain builds them,
// with every frame counted as it is presented (calls.presented), the pacing's sleeps counted
// (calls.timedWaits) and message boxes recorded.

#include <windows.h>

#include <functional>
#include <vector>

#include "scene/point_field.h"
#include "support/launched_program.h"
#include "support/replacements.h"

struct ProgramWindowSession {
    ProgramWindowSession();
    ~ProgramWindowSession();

    FreshState fresh;
    Replacements replaced{{"SwapBuffers", "MessageBoxA", "EnumDisplaySettingsA"}};
    bool created = false;
};

std::vector<SpritePoint> CopyPointField();

// Runs `action` on this thread, from inside the message loop, once `condition` holds (asked
// every 10 ms).
void RunWhen(std::function<bool()> condition, std::function<void()> action);

// Runs `action` on this thread `milliseconds` from now, from inside the message loop.
void RunLater(UINT milliseconds, std::function<void()> action);

// Runs `action` from inside the message loop once `frames` frames have been presented, however
// long that takes.
void RunAfterFrames(int frames, std::function<void()> action);

// The frame pacing and the fake SwapBuffers on a simulated clock while it lives: time passes only
// as the swaps and the pacing's sleeps make it pass, and each action given to At runs once its
// time has come, from inside the frame loop. The clock starts at 1000 s, as a performance counter
// that has run a while. What the program can learn of the display's blanks comes from the fakes,
// on the same clock.
struct SimulatedClock {
    SimulatedClock();
    ~SimulatedClock();
    SimulatedClock(const SimulatedClock&) = delete;
    SimulatedClock& operator=(const SimulatedClock&) = delete;

    static double Now();
    static void At(double seconds, std::function<void()> action);

    Replacements blanks{{"DwmGetCompositionTimingInfo", "D3DKMTOpenAdapterFromGdiDisplayName",
                         "D3DKMTGetScanLine", "D3DKMTCloseAdapter", "CreateWaitableTimerExW",
                         "SetWaitableTimer", "MsgWaitForMultipleObjects"}};
};
