#pragma once

#include <windows.h>

// What the frame pacing knows of the display that shows the window: the window's monitor, its
// refresh period and, where the system tells, when its vertical blanks come.
//
// The blanks come from the first of these that the system has for the window's own monitor:
//  - the monitor's output itself: where its scan-out is (D3DKMTGetScanLine), against the lines of
//    the display mode (Windows 7 and later, with a display driver of Vista's model);
//  - the compositor's clock (DwmGetCompositionTimingInfo), only where it runs at the rate of the
//    window's monitor: it follows the primary monitor, or the fastest one on Windows 11, not the
//    window's (Windows 7 with Aero, every Windows from 8 on, Wine).
// The period is the exact rate from the display configuration (60000/1001 for 59.94 Hz), else
// the display mode's whole number, else the compositor's rate, else 60 Hz.

enum class BlankSource { None, ScanLine, Compositor };

struct DisplayTiming {
    HMONITOR monitor = nullptr;
    double period = 0.0; // seconds from one refresh to the next
    BlankSource blanks = BlankSource::None;
    // The output whose scan line is read, and the lines of one refresh, blank included.
    UINT adapter = 0;
    UINT outputId = 0;
    UINT visibleLines = 0;
    UINT totalLines = 0;
    double lastBlank = -1.0; // the latest blank read, kept for when the source stops answering
};

// Reads the timing of the display that shows `window` into `timing`, after releasing what it
// held.
void ReadDisplayTiming(HWND window, DisplayTiming& timing);

// The display's latest vertical blank at or before `now`, in seconds on the performance counter,
// or a negative number where the display gives no blanks. Never waits: where the source stops
// answering (a display that is off, a locked session), the blanks are counted on from the last one
// read.
double LatestBlank(DisplayTiming& timing, double now);

// True when `window` is no longer on the monitor whose timing was read.
bool MovedToAnotherMonitor(HWND window, const DisplayTiming& timing);

// Gives back the output the timing held open, and forgets the rest.
void ReleaseDisplayTiming(DisplayTiming& timing);
