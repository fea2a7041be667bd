#pragma once

#include <windows.h>

// Keeps the frame loop to one frame per refresh of the window's monitor where the driver ignores
// the swap interval (vertical sync forced off, virtual and remote displays) and so lets
// SwapBuffers return at once. Where the driver waits for the display, even only once it has a
// few frames queued, the loop adds no wait of its own.
//
// The pacing engages once frames keep coming well inside the refresh period from swaps that
// return well inside it, and lets go as soon as SwapBuffers is seen waiting for the display.
// While engaged it presents one frame per refresh: locked to the blanks of the window's monitor
// where the system tells when they come (shell/display_timing.*), else on a timer at the
// monitor's rate.

// The clock and the sleep the pacing runs on: the performance counter, and a waitable timer that
// any input or message cuts short. Set once; tests set their own.
struct PacingClock {
    double (*now)(); // seconds
    // Sleeps on the timer for `seconds`. True when the time has passed, false when a message came
    // first.
    bool (*sleep)(HANDLE timer, double seconds);
};
extern PacingClock pacingClock;

// Call before drawing a frame. Returns true when the frame is due. Otherwise it has slept until
// the frame became due or a message arrived, whichever came first, and returns false: handle the
// messages and ask again.
bool WaitUntilFrameDue();

// Call once the frame is drawn, just before presenting it, and once it has been presented.
void NoteFrameDrawn();
void NoteFramePresented();

// The window moved: the display's timing is read again when it is now on another monitor.
void NoteWindowMoved();

// The display mode, the monitors or the window's DPI changed: the display's timing is read again.
void NoteDisplayChanged();

// Releases what the pacing took (its timer, the timer resolution, the display's output); the next
// frame loop starts afresh, and display changes until then change nothing.
void StopFramePacing();
