#include "shell/frame_pacing.h"

#include <windows.h>

#include "scene/system_libraries.h"

// NOTE: Windows 10 1803 and later; older systems refuse the flag and get an ordinary timer.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// A streak this long is a trend, not a hiccup.
constexpr int streakToChange = 8;
// Frames presented within three quarters of the period come faster than the display refreshes.
constexpr double fastShare = 0.75;

struct Pacing {
    double period = 0.0; // seconds; 0 until the first frame has been presented
    bool engaged = false;
    int streak = 0;         // frames in a row that argue for changing `engaged`
    double lastPresent = 0; // seconds
    double frameStart = 0;  // when the frame being drawn was found due
    double nextDue = 0;
    HANDLE timer = nullptr;
    bool raisedTimerResolution = false;
};
Pacing pacing;

double SecondsNow() {
    static const double ticksPerSecond = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / ticksPerSecond;
}

bool CreatePacingTimer() {
    if (pacing.timer != nullptr) {
        return true;
    }
    pacing.timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
    if (pacing.timer == nullptr) {
        // An ordinary timer keeps the system's timer resolution, 15.6 ms by default: ask for 1 ms.
        pacing.timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        pacing.raisedTimerResolution =
            pacing.timer != nullptr && timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    return pacing.timer != nullptr;
}

void Engage(double now) {
    // Without a timer the loop could only busy-wait: it then stays unpaced.
    pacing.engaged = CreatePacingTimer();
    pacing.streak = 0;
    pacing.nextDue = now + pacing.period;
}

} // namespace

void ReadDisplayRefreshRate() {
    DEVMODEA mode{};
    mode.dmSize = sizeof(mode);
    DWORD hz = 0;
    if (EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode)) {
        hz = mode.dmDisplayFrequency;
    }
    // NOTE: 0 and 1 mean the hardware's default rate; Wine on a virtual display reads 0.
    pacing.period = 1.0 / (hz > 1 ? hz : 60);
}

void NoteFramePresented() {
    const double now = SecondsNow();
    if (pacing.period == 0.0) {
        ReadDisplayRefreshRate(); // after the first frame, which is left as it always was
        pacing.lastPresent = now;
        return;
    }
    const double interval = now - pacing.lastPresent;
    pacing.lastPresent = now;

    if (!pacing.engaged) {
        pacing.streak = interval < fastShare * pacing.period ? pacing.streak + 1 : 0;
        if (pacing.streak >= streakToChange) {
            Engage(now);
        }
        return;
    }

    // Drawing and presenting alone now take most of a period, or the frames come late: the swap
    // waits for the display after all, or the frames need no limit. Waiting on top of either
    // would only lose frames.
    const double busy = now - pacing.frameStart;
    const bool slow = busy >= fastShare * pacing.period || interval >= 1.5 * pacing.period;
    pacing.streak = slow ? pacing.streak + 1 : 0;
    if (pacing.streak >= streakToChange) {
        pacing.engaged = false;
        pacing.streak = 0;
        return;
    }
    // Due one period after the last due time, so the rate stays exact; after a stall, from now.
    pacing.nextDue += pacing.period;
    if (pacing.nextDue < now) {
        pacing.nextDue = now;
    }
}

bool WaitUntilFrameDue() {
    const double now = SecondsNow();
    if (!pacing.engaged || now >= pacing.nextDue) {
        pacing.frameStart = now;
        return true;
    }
    const double wait = pacing.nextDue - now;
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = -static_cast<LONGLONG>(wait * 1e7); // relative, in 100 ns units
    SetWaitableTimer(pacing.timer, &dueTime, 0, nullptr, nullptr, FALSE);
    // Messages still wake the loop at once, so Escape and closing are never held up. The
    // timeout only guards against a timer that did not start.
    const DWORD woken = MsgWaitForMultipleObjects(
        1, &pacing.timer, FALSE, static_cast<DWORD>(wait * 1000.0) + 2, QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0 + 1) {
        return false; // a message
    }
    pacing.frameStart = SecondsNow();
    return true;
}

void StopFramePacing() {
    if (pacing.timer != nullptr) {
        CloseHandle(pacing.timer);
    }
    if (pacing.raisedTimerResolution) {
        timeEndPeriod(1);
    }
    pacing = Pacing{};
}
