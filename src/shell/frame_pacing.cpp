#include "shell/frame_pacing.h"

#include <algorithm>

#include "scene/system_libraries.h"
#include "shell/display_timing.h"
#include "shell/state.h"

#ifndef CREATE_WAITABLE_TIMER_MANUAL_RESET
#define CREATE_WAITABLE_TIMER_MANUAL_RESET 0x00000001
#endif
// NOTE: Windows 10 1803 and later; older systems refuse the flag and get an ordinary timer.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
// NOTE: Windows 8 and later; the Windows 7 headers the program builds with lack them.
#ifndef QS_TOUCH
#define QS_TOUCH 0x0800
#endif
#ifndef QS_POINTER
#define QS_POINTER 0x1000
#endif

namespace {

// Faster than the display for more frames in a row than any driver queues, from swaps that do not
// wait: the pacing engages.
constexpr int fastFramesToEngage = 8;
constexpr double fastShare = 0.75; // of the refresh period
// A swap that takes this much of the refresh period longer than its own cost waits for the
// display; a few in a row are a trend, not a hiccup.
constexpr double waitingShare = 0.25;
constexpr int waitingSwapsToLetGo = 3;
// Locked to the blanks, a frame is due this far into a refresh: clear of the blank on both sides,
// so that a timer that wakes a little late, or a frame that takes a little longer, is still
// presented within the same refresh and shown at the next blank.
constexpr double presentPhase = 0.25;

struct Pacing {
    bool running = false; // the loop has presented its first frame
    DisplayTiming display;
    bool engaged = false;
    int streak = 0;           // frames in a row that argue for changing `engaged`
    double ownSwapCost = 0.0; // the quickest swap since the frames that engaged the pacing
    double lastPresent = 0.0;
    double drawn = 0.0;
    double nextDue = 0.0;
    HANDLE timer = nullptr;
    bool raisedTimerResolution = false;
    DWORD wakeMask = QS_ALLINPUT | QS_TOUCH | QS_POINTER;
};
Pacing pacing;

double PerformanceCounterSeconds() {
    LARGE_INTEGER frequency; // fixed at boot, and read from shared memory: no cost worth keeping
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool SleepOnTimer(HANDLE timer, double seconds) {
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = -static_cast<LONGLONG>(seconds * 1e7); // relative, in 100 ns units
    SetWaitableTimer(timer, &dueTime, 0, nullptr, nullptr, FALSE);
    // Messages and input still wake the loop at once, so Escape and closing are never held up.
    // The timeout only guards against a timer that did not start.
    const DWORD timeout = static_cast<DWORD>(seconds * 1000.0) + 2;
    DWORD woken = MsgWaitForMultipleObjects(1, &timer, FALSE, timeout, pacing.wakeMask);
    // NOTE: Windows 7 refuses the touch and pen bits as an invalid parameter.
    if (woken == WAIT_FAILED && pacing.wakeMask != QS_ALLINPUT) {
        pacing.wakeMask = QS_ALLINPUT;
        woken = MsgWaitForMultipleObjects(1, &timer, FALSE, timeout, pacing.wakeMask);
    }
    return woken != WAIT_OBJECT_0 + 1;
}

// When the frame after one presented `now`, and due at `lastDue`, is due.
double NextDue(double now, double lastDue) {
    const double blank = LatestBlank(pacing.display, now);
    if (blank >= 0.0) {
        // The refresh after the one this frame was presented in, at the same point of it.
        return blank + (1.0 + presentPhase) * pacing.display.period;
    }
    // Due one period after the last due time, so the rate stays exact; after a stall, from now.
    return std::max(lastDue + pacing.display.period, now);
}

void Engage(double now) {
    // NOTE: manual reset. A timer that fired while the loop was handling a message stays
    // signalled, and Wine's SetWaitableTimer clears that only for a manual-reset timer: an
    // auto-reset one would end the next wait at once and let a second frame into the refresh.
    if (pacing.timer == nullptr) {
        pacing.timer = CreateWaitableTimerExW(nullptr, nullptr,
                                              CREATE_WAITABLE_TIMER_MANUAL_RESET |
                                                  CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                              TIMER_ALL_ACCESS);
    }
    if (pacing.timer == nullptr) {
        // An ordinary timer keeps the system's timer resolution, 15.6 ms by default: ask for 1 ms.
        pacing.timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_MANUAL_RESET,
                                              TIMER_ALL_ACCESS);
        pacing.raisedTimerResolution =
            pacing.timer != nullptr && timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    // Without a timer the loop could only busy-wait: it then stays unpaced.
    pacing.engaged = pacing.timer != nullptr;
    pacing.streak = 0;
    pacing.nextDue = NextDue(now, now);
}

// Also gives back what engaging took: the raised timer resolution speeds up the whole system's
// timer on Windows 7, and nothing should pay for it while the loop does not wait.
void LetGo() {
    if (pacing.timer != nullptr) {
        CloseHandle(pacing.timer);
        pacing.timer = nullptr;
    }
    if (pacing.raisedTimerResolution) {
        timeEndPeriod(1);
        pacing.raisedTimerResolution = false;
    }
    pacing.engaged = false;
    pacing.streak = 0;
}

} // namespace

PacingClock pacingClock{PerformanceCounterSeconds, SleepOnTimer};

bool WaitUntilFrameDue() {
    if (!pacing.engaged) {
        return true;
    }
    const double now = pacingClock.now();
    if (now >= pacing.nextDue) {
        return true;
    }
    // A timer at the system's coarse resolution may also wake early: the clock decides.
    return pacingClock.sleep(pacing.timer, pacing.nextDue - now) &&
           pacingClock.now() >= pacing.nextDue;
}

void NoteFrameDrawn() {
    pacing.drawn = pacingClock.now();
}

void NoteFramePresented() {
    const double now = pacingClock.now();
    const double swap = now - pacing.drawn;
    const double interval = now - pacing.lastPresent;
    const double period = pacing.display.period;
    pacing.lastPresent = now;
    if (!pacing.running) {
        pacing.running = true;
        // After the first frame, which is left as it always was.
        ReadDisplayTiming(sceneState.hWnd, pacing.display);
        return;
    }

    if (!pacing.engaged) {
        // A swap that takes a good part of the refresh waits for the display, at whatever rate it
        // runs: a display whose rate the system reports wrongly, or not at all, is left to its
        // driver.
        const bool fast = interval < fastShare * period && swap < waitingShare * period;
        pacing.streak = fast ? pacing.streak + 1 : 0;
        pacing.ownSwapCost = pacing.streak == 1 ? swap : std::min(pacing.ownSwapCost, swap);
        if (pacing.streak >= fastFramesToEngage) {
            Engage(now);
        }
        return;
    }

    // The swap waits for the display now: the window was uncovered, or the queue of a driver
    // that queues frames has filled. Waiting on top of it would only lose frames.
    const bool waited = swap >= pacing.ownSwapCost + waitingShare * period;
    pacing.streak = waited ? pacing.streak + 1 : 0;
    pacing.ownSwapCost = std::min(pacing.ownSwapCost, swap);
    if (pacing.streak >= waitingSwapsToLetGo) {
        LetGo();
        return;
    }
    pacing.nextDue = NextDue(now, pacing.nextDue);
}

void NoteWindowMoved() {
    if (pacing.running && MovedToAnotherMonitor(sceneState.hWnd, pacing.display)) {
        NoteDisplayChanged();
    }
}

void NoteDisplayChanged() {
    if (!pacing.running) {
        return; // no loop runs: the next one reads the timing itself
    }
    const double before = pacing.display.period;
    ReadDisplayTiming(sceneState.hWnd, pacing.display);
    if (pacing.display.period != before) {
        LetGo(); // whether the new display's driver waits is judged afresh
    }
}

void StopFramePacing() {
    LetGo();
    ReleaseDisplayTiming(pacing.display);
    pacing = Pacing{};
}
