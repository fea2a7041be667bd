#include "shell/frame_pacing.h"

#include <algorithm>

#include "scene/system_libraries.h"
#include "shell/state.h"

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

// Faster than the display for more frames in a row than any driver queues: the swap does not
// wait.
constexpr int fastFramesToEngage = 8;
constexpr double fastShare = 0.75; // of the refresh period
// A swap that takes this much of the refresh period longer than its own cost waits for the
// display; a few in a row are a trend, not a hiccup.
constexpr double waitingShare = 0.25;
constexpr int waitingSwapsToLetGo = 3;
// Paced this much ahead of an exactly known rate, a driver that queues frames fills its queue
// within seconds and is then seen waiting. Where the driver does not wait, one frame in 200 is
// replaced before the display has shown it whole, which no one sees on a display that tears
// anyway.
constexpr double leadOverExactRate = 1.005;
constexpr double defaultRate = 60.0;

struct Pacing {
    bool running = false; // the loop has presented its first frame
    HMONITOR monitor = nullptr;
    double refresh = 0.0; // the display's period, in seconds
    double period = 0.0;  // the pacing's period: a little shorter
    bool engaged = false;
    int streak = 0;           // frames in a row that argue for changing `engaged`
    double ownSwapCost = 0.0; // the quickest swap since the frames that engaged the pacing
    double lastPresent = 0.0;
    double drawn = 0.0;
    double nextDue = 0.0;
    HANDLE timer = nullptr;
    bool raisedTimerResolution = false;
};
Pacing pacing;

double PerformanceCounterSeconds() {
    LARGE_INTEGER frequency; // fixed at boot, and read from shared memory: no cost worth keeping
    LARGE_INTEGER counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

DWORD wakeMask = QS_ALLINPUT | QS_TOUCH | QS_POINTER;

bool SleepOnTimer(HANDLE timer, double seconds) {
    LARGE_INTEGER dueTime;
    dueTime.QuadPart = -static_cast<LONGLONG>(seconds * 1e7); // relative, in 100 ns units
    SetWaitableTimer(timer, &dueTime, 0, nullptr, nullptr, FALSE);
    // Messages and input still wake the loop at once, so Escape and closing are never held up.
    // The timeout only guards against a timer that did not start.
    const DWORD timeout = static_cast<DWORD>(seconds * 1000.0) + 2;
    DWORD woken = MsgWaitForMultipleObjects(1, &timer, FALSE, timeout, wakeMask);
    // NOTE: Windows 7 refuses the touch and pen bits as an invalid parameter.
    if (woken == WAIT_FAILED && wakeMask != QS_ALLINPUT) {
        wakeMask = QS_ALLINPUT;
        woken = MsgWaitForMultipleObjects(1, &timer, FALSE, timeout, wakeMask);
    }
    return woken != WAIT_OBJECT_0 + 1;
}

bool SameName(const WCHAR* wide, const char* narrow) {
    for (; *wide != 0 && *narrow != 0; ++wide, ++narrow) {
        if (*wide != static_cast<unsigned char>(*narrow)) {
            return false;
        }
    }
    return *wide == 0 && *narrow == 0;
}

// The exact rate of the display device (60000/1001 for what the display mode calls 59 Hz), or 0
// where the system does not say.
double ExactRefreshRate(const char* device) {
    DISPLAYCONFIG_PATH_INFO paths[16];
    DISPLAYCONFIG_MODE_INFO modes[32];
    UINT32 pathCount = 0;
    UINT32 modeCount = 0;
    if (GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &pathCount, &modeCount) !=
            ERROR_SUCCESS ||
        pathCount > 16 || modeCount > 32 ||
        QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &pathCount, paths, &modeCount, modes, nullptr) !=
            ERROR_SUCCESS) {
        return 0.0;
    }
    for (UINT32 i = 0; i < pathCount; ++i) {
        DISPLAYCONFIG_SOURCE_DEVICE_NAME source{};
        source.header.type = DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME;
        source.header.size = sizeof(source);
        source.header.adapterId = paths[i].sourceInfo.adapterId;
        source.header.id = paths[i].sourceInfo.id;
        const DISPLAYCONFIG_RATIONAL rate = paths[i].targetInfo.refreshRate;
        if (DisplayConfigGetDeviceInfo(&source.header) == ERROR_SUCCESS &&
            SameName(source.viewGdiDeviceName, device) && rate.Denominator != 0) {
            return static_cast<double>(rate.Numerator) / rate.Denominator;
        }
    }
    return 0.0;
}

// The rate of the monitor the window is on, not the primary one's: monitors beside each other
// often refresh at different rates.
void ReadRefreshRate() {
    pacing.monitor = MonitorFromWindow(sceneState.hWnd, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFOEXA info{};
    info.cbSize = sizeof(info);
    const char* device = GetMonitorInfoA(pacing.monitor, &info) ? info.szDevice : nullptr;
    double rate = device != nullptr ? ExactRefreshRate(device) : 0.0;
    double pacedRate = rate * leadOverExactRate;
    if (rate <= 1.0) {
        DEVMODEA mode{};
        mode.dmSize = sizeof(mode);
        const DWORD whole = EnumDisplaySettingsA(device, ENUM_CURRENT_SETTINGS, &mode)
                                ? mode.dmDisplayFrequency
                                : 0;
        // NOTE: 0 and 1 mean the hardware's default rate; Wine on a virtual display reads 0.
        // Any other whole number may be the rate rounded down (59 for 59.94 Hz): paced for the
        // next one up, the pacing is never the slower of the two.
        rate = whole > 1 ? whole : defaultRate;
        pacedRate = whole > 1 ? whole + 1.0 : defaultRate * leadOverExactRate;
    }
    pacing.refresh = 1.0 / rate;
    pacing.period = 1.0 / pacedRate;
}

void Engage(double now) {
    if (pacing.timer == nullptr) {
        pacing.timer = CreateWaitableTimerExW(
            nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    }
    if (pacing.timer == nullptr) {
        // An ordinary timer keeps the system's timer resolution, 15.6 ms by default: ask for 1 ms.
        pacing.timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        pacing.raisedTimerResolution =
            pacing.timer != nullptr && timeBeginPeriod(1) == TIMERR_NOERROR;
    }
    // Without a timer the loop could only busy-wait: it then stays unpaced.
    pacing.engaged = pacing.timer != nullptr;
    pacing.streak = 0;
    pacing.nextDue = now + pacing.period;
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
    return now >= pacing.nextDue || pacingClock.sleep(pacing.timer, pacing.nextDue - now);
}

void NoteFrameDrawn() {
    pacing.drawn = pacingClock.now();
}

void NoteFramePresented() {
    const double now = pacingClock.now();
    const double swap = now - pacing.drawn;
    const double interval = now - pacing.lastPresent;
    pacing.lastPresent = now;
    if (!pacing.running) {
        pacing.running = true;
        ReadRefreshRate(); // after the first frame, which is left as it always was
        return;
    }

    if (!pacing.engaged) {
        pacing.streak = interval < fastShare * pacing.refresh ? pacing.streak + 1 : 0;
        pacing.ownSwapCost = pacing.streak == 1 ? swap : std::min(pacing.ownSwapCost, swap);
        if (pacing.streak >= fastFramesToEngage) {
            Engage(now);
        }
        return;
    }

    // The swap waits for the display now: the window was uncovered, or the queue of a driver
    // that queues frames has filled. Waiting on top of it would only lose frames.
    const bool waited = swap >= pacing.ownSwapCost + waitingShare * pacing.refresh;
    pacing.streak = waited ? pacing.streak + 1 : 0;
    pacing.ownSwapCost = std::min(pacing.ownSwapCost, swap);
    if (pacing.streak >= waitingSwapsToLetGo) {
        LetGo();
        return;
    }
    // Due one period after the last due time, so the rate stays exact; after a stall, from now.
    pacing.nextDue = std::max(pacing.nextDue + pacing.period, now);
}

void NoteWindowMoved() {
    if (pacing.running &&
        MonitorFromWindow(sceneState.hWnd, MONITOR_DEFAULTTOPRIMARY) != pacing.monitor) {
        NoteDisplayChanged();
    }
}

void NoteDisplayChanged() {
    if (!pacing.running) {
        return; // no loop runs: the next one reads the rate itself
    }
    const double before = pacing.refresh;
    ReadRefreshRate();
    if (pacing.refresh != before) {
        LetGo(); // whether the new display's driver waits is judged afresh
    }
}

void StopFramePacing() {
    LetGo();
    pacing = Pacing{};
}
