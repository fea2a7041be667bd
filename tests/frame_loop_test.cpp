#include <gtest/gtest.h>

#include <windows.h>
#include <dwmapi.h>

#include <GL/gl.h>

#include <atomic>
#include <functional>
#include <optional>
#include <cstdio>
#include <thread>
#include <vector>

#include "scene/point_field.h"
#include "scene/renderer.h"
#include "shell/display_timing.h"
#include "shell/main.h"
#include "shell/settings.h"
#include "shell/state.h"
#include "support/program_window.h"

namespace {

void PostClose() {
    PostMessageA(sceneState.hWnd, WM_CLOSE, 0, 0);
}

void PostEscapeDown() {
    PostMessageA(sceneState.hWnd, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
}

void PostEscapeUp() {
    PostMessageA(sceneState.hWnd, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void PostMinimised() {
    PostMessageA(sceneState.hWnd, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 1), 0);
}

// However slow the machine: the window is closed once enough frames are seen, or at the deadline.
void CloseAfterFrames(int frames) {
    RunAfterFrames(frames, PostClose);
    RunLater(30000, PostClose);
}

// The field as it should be after `steps` frames from `start`.
std::vector<SpritePoint> Advanced(std::vector<SpritePoint> start, int steps) {
    for (int i = 0; i < steps; ++i) {
        for (SpritePoint& point : start) {
            StepPoint(point);
        }
    }
    return start;
}

void ExpectSameField(const std::vector<SpritePoint>& actual,
                     const std::vector<SpritePoint>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_EQ(actual[i].z, expected[i].z) << "point " << i;
    }
}

} // namespace

class FrameLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.created);
        placed = CopyPointField();
    }

    ProgramWindowSession session;
    std::vector<SpritePoint> placed;
};

TEST_F(FrameLoop, DrawsUntilTheWindowIsClosedAndEndsWithZero) {
    CloseAfterFrames(5);
    EXPECT_EQ(RunFrameLoop(), 0);
    EXPECT_GE(calls.presented.load(), 5);
    // Each presented frame moved every point exactly one step.
    ExpectSameField(CopyPointField(), Advanced(placed, calls.presented.load()));
    EXPECT_TRUE(IsWindow(sceneState.hWnd)); // closed by the teardown, not by WM_CLOSE
}

TEST_F(FrameLoop, AnEscapePressAndReleaseDrainedInOneBurstEndNothing) {
    PostEscapeDown();
    PostEscapeUp();
    CloseAfterFrames(5);
    EXPECT_EQ(RunFrameLoop(), 0);
    EXPECT_GE(calls.presented.load(), 5);
}

TEST_F(FrameLoop, AHeldEscapeEndsAtTheFirstPassWithNoMessagePendingWithZero) {
    PostEscapeDown();
    // The last messages retrieved carry other values: the exit code is still 0.
    PostMessageA(sceneState.hWnd, WM_USER + 1, 1234, 0);
    EXPECT_EQ(RunFrameLoop(), 0);
    EXPECT_EQ(calls.presented.load(), 0);
    ExpectSameField(CopyPointField(), placed);
}

TEST_F(FrameLoop, AQuitCodeIsPassedOn) {
    // Only the system's own, sent, WM_DPICHANGED carries a rectangle: a posted one is dropped.
    PostMessageA(sceneState.hWnd, WM_DPICHANGED, MAKEWPARAM(144, 144), 1);
    PostQuitMessage(7);
    EXPECT_EQ(RunFrameLoop(), 7);
    EXPECT_EQ(calls.presented.load(), 0);
}

std::atomic<int> framesWhenRestored{-1};
std::vector<SpritePoint> fieldWhenRestored;

TEST_F(FrameLoop, WhileMinimisedNoFrameIsDrawnAndRestoredTheFieldGoesOn) {
    PostMinimised();
    PostEscapeDown(); // held while minimised: nothing happens until restored
    // Restored once the loop has handled both and gone round a few times more.
    int passes = 0;
    RunWhen(
        [&passes] { return !sceneState.isActive && sceneState.keyDown[VK_ESCAPE] && ++passes > 5; },
        [] {
            framesWhenRestored = calls.presented.load();
            fieldWhenRestored = CopyPointField();
            PostEscapeUp();
            PostMessageA(sceneState.hWnd, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
            CloseAfterFrames(5);
        });
    EXPECT_EQ(RunFrameLoop(), 0);

    EXPECT_EQ(framesWhenRestored.load(), 0);
    ExpectSameField(fieldWhenRestored, placed);
    EXPECT_GE(calls.presented.load(), 5);
    ExpectSameField(CopyPointField(), Advanced(placed, calls.presented.load()));
}

TEST_F(FrameLoop, WhileMinimisedTheLoopSleepsAndARestoreWakesItAtOnce) {
    PostMinimised();
    HWND window = sceneState.hWnd;
    const DWORD loopThreadId = GetCurrentThreadId();
    HANDLE loopThread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, loopThreadId);
    ASSERT_NE(loopThread, nullptr);

    auto cpuMilliseconds = [loopThread] {
        FILETIME created, exited, kernel, user;
        GetThreadTimes(loopThread, &created, &exited, &kernel, &user);
        const auto ticks = [](FILETIME t) {
            return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
    };

    double idleCpu = -1.0;
    int framesBeforeRestore = -1;
    int framesAfterRestore = -1;
    std::thread driver([&] {
        // The loop has handled the minimise and reached its wait: its processor time stands.
        double last = -1.0;
        WaitUntil(
            [&] {
                const double now = cpuMilliseconds();
                const bool standing = now == last;
                last = now;
                return !sceneState.isActive && standing;
            },
            30.0);
        const double start = cpuMilliseconds();
        Sleep(1000); // the span over which the idle processor time is measured
        idleCpu = cpuMilliseconds() - start;
        framesBeforeRestore = calls.presented.load();
        // A restore arrives as a sent message, with nothing else to wake the loop.
        SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
        // Nothing else would wake a loop that slept through the restore.
        WaitUntil([] { return calls.presented.load() > 3; }, 30.0);
        framesAfterRestore = calls.presented.load();
        PostMessageA(window, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(RunFrameLoop(), 0);
    driver.join();
    CloseHandle(loopThread);

    EXPECT_EQ(framesBeforeRestore, 0);
    EXPECT_GE(idleCpu, 0.0);
    EXPECT_LT(idleCpu, 20.0) << "milliseconds of CPU in one second minimised";
    EXPECT_GT(framesAfterRestore, 3) << "the restore did not wake the loop";
}

// ---- One frame per refresh of the window's monitor, whether or not the driver waits ----

namespace {

// The frame rate of a span of the run, and what the pacing did meanwhile.
enum class Waits { Some, None, Either };
struct Span {
    double from, to; // seconds from the start of the loop
    double lowest, highest;
    Waits waits;
    int repeats = 1000;    // at most this many refreshes that showed no new frame
    int neverShown = 1000; // and this many frames that were never shown
};

// The window's monitors, the first one primary (none: the real display, whose rate the spans
// scale); how its SwapBuffers behaves and what the program can learn of the blanks (see Fakes).
struct Row {
    const char* name;
    std::vector<FakeMonitor> monitors;
    int windowMonitor = 0;
    double swapHz = -1;
    int queue = 0;
    double swapWaitsFrom = 0;
    double swapCost = Fakes{}.swapCost; // where it does not wait
    bool composited = false;
    bool scanLines = false;
    bool compositorClock = false;
    std::vector<Span> spans;
    int movedTo = -1;       // at 2 s the window moves to this monitor...
    double movedSwapHz = 0; // ...whose swap waits for this rate
    DWORD changedHz = 0;    // at 1 s the display mode changes to this rate
    double blanksStopAt = 0;
    bool realTime = false; // on the performance counter, not the simulated clock
    bool refusesTouchWake = false;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

struct Mark {
    double seconds;
    int frames;
    int waits;
    int repeats;
    int neverShown;
    int waitingSwaps = 0;
};

// Seconds that drawing a frame takes on this machine, swap left out. The first frame, in which
// the driver compiles its pipeline, is left out too.
double DrawCost() {
    DrawScene();
    glFinish();
    const double start = SecondsNow();
    for (int i = 0; i < 20; ++i) {
        DrawScene();
    }
    glFinish();
    return (SecondsNow() - start) / 20;
}

// The rate of the window's monitor, read apart from the program: the display configuration's,
// else the display mode's, else the compositor's, else the 60 Hz the program takes then.
double MonitorRate(HWND window) {
    MONITORINFOEXW monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    DISPLAYCONFIG_PATH_INFO paths[16] = {};
    DISPLAYCONFIG_MODE_INFO modes[32];
    UINT32 pathCount = 16, modeCount = 32;
    QueryDisplayConfig(QDC_ONLY_ACTIVE_PATHS, &pathCount, paths, &modeCount, modes, nullptr);
    for (const DISPLAYCONFIG_PATH_INFO& path : paths) { // unused ones name no source
        DISPLAYCONFIG_SOURCE_DEVICE_NAME source{};
        source.header = {DISPLAYCONFIG_DEVICE_INFO_GET_SOURCE_NAME, sizeof(source),
                         path.sourceInfo.adapterId, path.sourceInfo.id};
        const DISPLAYCONFIG_RATIONAL rate = path.targetInfo.refreshRate;
        if (DisplayConfigGetDeviceInfo(&source.header) == ERROR_SUCCESS &&
            lstrcmpW(source.viewGdiDeviceName, monitor.szDevice) == 0 &&
            rate.Numerator > rate.Denominator) {
            return static_cast<double>(rate.Numerator) / rate.Denominator;
        }
    }
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    DWM_TIMING_INFO timing{};
    timing.cbSize = sizeof(timing);
    if (EnumDisplaySettingsW(monitor.szDevice, ENUM_CURRENT_SETTINGS, &mode) &&
        mode.dmDisplayFrequency > 1) {
        return mode.dmDisplayFrequency;
    }
    const UNSIGNED_RATIO ratio = SUCCEEDED(DwmGetCompositionTimingInfo(nullptr, &timing))
                                     ? timing.rateRefresh
                                     : UNSIGNED_RATIO{60, 1};
    return static_cast<double>(ratio.uiNumerator) / std::max(ratio.uiDenominator, 1u);
}

constexpr double ntsc = 60000.0 / 1001.0; // 59.94 Hz
// A display's own clock runs this much off the rate it was set to: a timer at the rate drifts
// against its blanks.
constexpr double offClock = 1.003;
const char* const first = "\\\\.\\DISPLAY1";
const char* const second = "\\\\.\\DISPLAY2";

} // namespace

class FramePacing : public FrameLoop, public ::testing::WithParamInterface<Row> {};

TEST_P(FramePacing, PresentsOneFramePerRefreshOfTheWindowsMonitor) {
    const Row& row = GetParam();
    const bool real = row.monitors.empty();
    std::vector<const char*> replaced = {
        "MonitorFromWindow",           "GetMonitorInfoA",
        "GetDisplayConfigBufferSizes", "QueryDisplayConfig",
        "DisplayConfigGetDeviceInfo",  "DwmGetCompositionTimingInfo"};
    if (row.refusesTouchWake) {
        replaced.push_back("MsgWaitForMultipleObjects");
    }
    Replacements monitors(real ? std::vector<const char*>{} : replaced);
    const double hz = real ? MonitorRate(sceneState.hWnd) : 60.0;
    std::optional<SimulatedClock> simulated;
    if (!row.realTime) {
        simulated.emplace();
    } else if (DrawCost() * hz > 0.7) {
        GTEST_SKIP() << "drawing takes " << DrawCost() * 1000.0
                     << " ms here: too slow to measure a pace of " << hz << " Hz on the wall clock";
    }
    fakes.monitors = row.monitors;
    fakes.windowMonitor = row.windowMonitor;
    fakes.swapHz = row.swapHz;
    fakes.waitingSwap = 0.25 / hz; // as the program judges a swap
    fakes.swapCost = row.swapCost;
    fakes.queue = row.queue;
    fakes.composited = row.composited;
    fakes.scanLines = row.scanLines;
    fakes.compositorClock = row.compositorClock;
    fakes.refusesTouchWake = row.refusesTouchWake;

    double (*const now)() = row.realTime ? SecondsNow : SimulatedClock::Now;
    const double start = now();
    fakes.swapWaitsFrom = start + row.swapWaitsFrom;
    const auto at = [&](double seconds, std::function<void()> action) {
        if (row.realTime) {
            RunLater(static_cast<UINT>(seconds * 1000.0), std::move(action));
        } else {
            SimulatedClock::At(start + seconds, std::move(action));
        }
    };
    std::vector<Mark> marks(2 * row.spans.size());
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const Span& span = row.spans[i / 2];
        at(i % 2 == 0 ? span.from : span.to, [&marks, i, now] {
            SettleDisplay();
            marks[i] = Mark{now(), calls.presented.load(), calls.timedWaits.load(),
                            calls.repeatedRefreshes, calls.neverShown};
            marks[i].waitingSwaps = calls.waitingSwaps;
        });
    }
    if (row.movedTo >= 0) {
        at(2.0, [&row] {
            fakes.windowMonitor = row.movedTo;
            fakes.swapHz = row.movedSwapHz;
            SetWindowPos(sceneState.hWnd, nullptr, 40, 40, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        });
    }
    if (row.changedHz != 0) {
        at(1.0, [&row] {
            fakes.monitors[0].wholeHz = row.changedHz;
            SendMessageA(sceneState.hWnd, WM_DISPLAYCHANGE, 32, MAKELPARAM(800, 600));
        });
    }
    if (row.blanksStopAt > 0) {
        fakes.blanksStopAt = start + row.blanksStopAt;
    }
    at(row.spans.back().to + 0.01, PostClose);
    EXPECT_EQ(RunFrameLoop(), 0);
    EXPECT_EQ(calls.openOutputs, 0) << "the display's output was not given back";
    if (row.refusesTouchWake) {
        EXPECT_GT(calls.refusedWakes, 0) << "no wait asked for touch and pen input";
    }

    for (std::size_t i = 0; i < row.spans.size(); ++i) {
        const Span& span = row.spans[i];
        const Mark& from = marks[2 * i];
        const Mark& to = marks[2 * i + 1];
        const double rate = (to.frames - from.frames) / (to.seconds - from.seconds);
        const int waits = to.waits - from.waits;
        std::printf("%s, %.1f-%.1f s: %.2f frames/s, %d timed waits, %d repeated refreshes, "
                    "%d frames never shown\n",
                    row.name, span.from, span.to, rate, waits, to.repeats - from.repeats,
                    to.neverShown - from.neverShown);
        const int waitingSwaps = to.waitingSwaps - from.waitingSwaps;
        if (real) {
            DisplayTiming timing; // the source of blanks, read as the program reads it
            ReadDisplayTiming(sceneState.hWnd, timing);
            const char* const sources[] = {"none, a timer", "the scan line", "the compositor"};
            std::printf("%s: monitor %.3f Hz, %.2f frames/s, blanks from %s, %.2f waits a frame, "
                        "swaps seen waiting %d times\n",
                        row.name, hz, rate, sources[static_cast<int>(timing.blanks)],
                        waits / (rate * (to.seconds - from.seconds)), waitingSwaps);
            ReleaseDisplayTiming(timing);
        }
        // Where the swap was seen waiting as the program judges it (a driver that waits, a busy
        // machine), the pacing lets go, and the swap or the machine sets the pace instead.
        if (!(real && waitingSwaps > 0)) {
            EXPECT_GE(rate, span.lowest * (real ? hz : 1)) << span.from << "-" << span.to << " s";
            EXPECT_LE(rate, span.highest * (real ? hz : 1)) << span.from << "-" << span.to << " s";
        }
        EXPECT_LE(to.repeats - from.repeats, span.repeats) << "refreshes that showed no new frame";
        EXPECT_LE(to.neverShown - from.neverShown, span.neverShown) << "frames never shown";
        // Only the wall clock's test timer and messages cut a wait short: ending early spins.
        EXPECT_LE(waits, (to.frames - from.frames) * (row.realTime ? 10 : 1) + 1)
            << "the pacing's waits do not wait";
        if (span.waits == Waits::Some) {
            EXPECT_GT(waits, 0) << "the pacing did not wait: frames race";
        } else if (span.waits == Waits::None) {
            EXPECT_EQ(waits, 0) << "the pacing waited where the swap already waits";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Displays, FramePacing,
    ::testing::Values(
        Row{.name = "OnTheRealDisplay",
            .monitors = {},
            .swapHz = 0,
            .spans = {{0.8, 5.8, 0.98, 1.02, Waits::Either}},
            .realTime = true},
        Row{.name = "AtOnceOnTheWallClock",
            .monitors = {{first, 1}},
            .spans = {{0.8, 2.8, 57, 63, Waits::Some}},
            .realTime = true},
        Row{.name = "AtOnceOnTheWallClockWhereTheWaitRefusesTouchAndPenAsOnWindows7",
            .monitors = {{first, 1}},
            .spans = {{0.8, 2.8, 57, 63, Waits::Some}},
            .realTime = true,
            .refusesTouchWake = true},
        Row{.name = "AtOnceAtTheDefaultRate",
            .monitors = {{first, 1}},
            .spans = {{1, 3, 59, 61, Waits::Some}}},
        Row{.name = "AtOnceAt75Hz",
            .monitors = {{first, 75}},
            .spans = {{1, 3, 74, 76, Waits::Some}}},
        Row{.name = "WaitsFor60Hz",
            .monitors = {{first, 60}},
            .swapHz = 60,
            .spans = {{1, 3, 57, 61, Waits::None}}},
        Row{.name = "WaitsFor144Hz",
            .monitors = {{first, 144}},
            .swapHz = 144,
            .spans = {{1, 3, 137, 145, Waits::None}}},
        Row{.name = "WaitsFor144HzBesideA60HzPrimary",
            .monitors = {{first, 60}, {second, 144}},
            .windowMonitor = 1,
            .swapHz = 144,
            .spans = {{1, 3, 0.95 * 144, 145, Waits::None}}},
        Row{.name = "AtOnceOn60HzBesideA144HzPrimary",
            .monitors = {{first, 144}, {second, 60}},
            .windowMonitor = 1,
            .spans = {{1, 3, 59, 61, Waits::Some}}},
        Row{.name = "QueuesTwoFramesAt59_94HzOnceUncoveredAfter3s",
            .monitors = {{first, 59, 60000, 1001}},
            .swapHz = ntsc,
            .queue = 2,
            .swapWaitsFrom = 3.0,
            .spans = {{3, 13, 0.999 * ntsc, 1.001 * ntsc, Waits::Either, 1}}},
        Row{.name = "MovedFromA60HzMonitorToAWaiting144HzOne",
            .monitors = {{first, 60}, {second, 144}},
            .spans = {{0.5, 2, 59, 61, Waits::Some}, {2.5, 4, 0.95 * 144, 145, Waits::None}},
            .movedTo = 1,
            .movedSwapHz = 144},
        Row{.name = "DisplayModeChangedTo30Hz",
            .monitors = {{first, 60}},
            .spans = {{1.5, 3, 29, 31, Waits::Some}},
            .changedHz = 30},
        Row{.name = "At60HzWhereTheSwapTakesAGoodPartOfAQuarterRefresh",
            .monitors = {{first, 60}},
            .swapCost = 0.003,
            .spans = {{1, 11, 59.9, 60.1, Waits::Some}}},
        Row{.name = "DisplayModeChangedTo144HzWhereTheSwapTakesAGoodPartOfTheRefresh",
            .monitors = {{first, 60}},
            .swapCost = 0.0025,
            .spans = {{0.5, 1, 59, 61, Waits::Some}, {1.5, 3, 144, 1000, Waits::None}},
            .changedHz = 144},
        // Composited, from 1 s: a new frame each blank; paced by a late timer only, half at worst.
        Row{.name = "CompositedAt60HzLockedToItsScanLine",
            .monitors = {{first, 60, 60, 1, 60 * offClock}},
            .composited = true,
            .scanLines = true,
            .spans = {{1, 11, 60 * offClock - 0.1, 60 * offClock + 0.1, Waits::Some, 0, 0}}},
        Row{.name = "CompositedAt59_94HzLockedToTheCompositor",
            .monitors = {{first, 59, 60000, 1001, ntsc / offClock}},
            .composited = true,
            .compositorClock = true,
            .spans = {{1, 11, ntsc / offClock - 0.1, ntsc / offClock + 0.1, Waits::Some, 0, 0}}},
        Row{.name = "CompositedOn144HzBesideA60HzPrimaryLockedToItsOwnScanLine",
            .monitors = {{first, 60, 60, 1}, {second, 144, 144, 1, 144 * offClock}},
            .windowMonitor = 1,
            .composited = true,
            .scanLines = true,
            .compositorClock = true,
            .spans = {{1, 11, 144 * offClock - 0.1, 144 * offClock + 0.1, Waits::Some, 0, 0}}},
        Row{.name = "CompositedOn144HzBesideA60HzPrimaryWithOnlyTheCompositorsClock",
            .monitors = {{first, 60, 60, 1}, {second, 144, 144, 1}},
            .windowMonitor = 1,
            .composited = true,
            .compositorClock = true,
            .spans = {{1, 11, 144 - 0.1, 144 + 0.1, Waits::Some, 720, 720}}},
        Row{.name = "CompositedOn75HzBesideA72HzPrimaryWithOnlyTheCompositorsClock",
            .monitors = {{first, 72, 72, 1}, {second, 75, 75, 1}},
            .windowMonitor = 1,
            .composited = true,
            .compositorClock = true,
            .spans = {{1, 11, 75 - 0.1, 75 + 0.1, Waits::Some}}},
        Row{.name = "CompositedAt59_94HzKnowingOnlyItsRate",
            .monitors = {{first, 59, 60000, 1001}},
            .composited = true,
            .spans = {{1, 31, ntsc - 0.02, ntsc + 0.02, Waits::Some, 900, 900}}},
        Row{.name = "CompositedAt60HzWhoseBlanksStopAt2s",
            .monitors = {{first, 60, 60, 1}},
            .composited = true,
            .scanLines = true,
            .compositorClock = true,
            .spans = {{1, 2, 59.9, 60.1, Waits::Some, 0, 0}, {2.5, 4, 59.9, 60.1, Waits::Some}},
            .blanksStopAt = 2.0},
        // No rate and no blanks to be had: the swap's own wait is the only clock there is.
        Row{.name = "WaitsFor144HzReportingNoRate",
            .monitors = {{first, 0}},
            .swapHz = 144,
            .spans = {{1, 11, 0.95 * 144, 145, Waits::None}}},
        Row{.name = "WaitsFor144HzReportingNoRateWithOneFrameInFlight",
            .monitors = {{first, 0}},
            .swapHz = 144,
            .queue = 1,
            .spans = {{1, 11, 0.95 * 144, 145, Waits::None}}}),
    [](const ::testing::TestParamInfo<Row>& param) { return param.param.name; });

// Where the system refuses the high-resolution timer, the pacing raises the system's timer
// resolution instead, and gives it back as soon as it lets go and when the loop ends; after the
// loop, a display change sets nothing up again.
TEST_F(FrameLoop, GivesBackTheTimerResolutionWhenItLetsGoAndWhenTheLoopEnds) {
    Replacements timers({"CreateWaitableTimerExW", "timeBeginPeriod", "timeEndPeriod"});
    SimulatedClock simulated;
    fakes.swapHz = 60;
    FailAt("CreateWaitableTimerExW", 1);
    std::size_t raised = 0, lowered = 0;
    const double start = SimulatedClock::Now();
    fakes.swapWaitsFrom = start + 1.0; // returns at once, then waits for the display
    SimulatedClock::At(start + 3.0, [&] {
        raised = CallsOf("timeBeginPeriod").size();
        lowered = CallsOf("timeEndPeriod").size();
        FailAt("CreateWaitableTimerExW", 1);
        fakes.swapHz = -1; // returns at once again: paced once more
    });
    SimulatedClock::At(start + 4.0, PostClose);
    EXPECT_EQ(RunFrameLoop(), 0);
    EXPECT_EQ(raised, 1u) << "the pacing did not engage";
    EXPECT_EQ(lowered, 1u) << "the timer resolution was not given back when the pacing let go";
    EXPECT_EQ(CallsOf("timeBeginPeriod").size(), 2u);
    EXPECT_EQ(CallsOf("timeEndPeriod").size(), 2u) << "nor when the loop ended";

    calls.log.clear();
    SendMessageA(sceneState.hWnd, WM_DISPLAYCHANGE, 32, MAKELPARAM(800, 600));
    ExpectCalls({}, calls.log);
}

// While the loop waits out a refresh, closing the window still ends it at once.
TEST_F(FrameLoop, EndsWithinOneRefreshWhilePaced) {
    fakes.swapHz = -1;
    HWND window = sceneState.hWnd;
    double closed = 0.0;
    int waitsBeforeClose = 0;
    std::thread driver([&] {
        // Once the pacing is waiting; the first frames can take long under emulation.
        WaitUntil([] { return calls.timedWaits.load() >= 10; }, 30.0);
        waitsBeforeClose = calls.timedWaits.load();
        closed = SecondsNow();
        PostMessageA(window, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(RunFrameLoop(), 0);
    const double ended = SecondsNow();
    driver.join();
    EXPECT_GT(waitsBeforeClose, 0) << "the loop was not paced";
    EXPECT_LT(ended - closed, 1.0 / 60 + 0.010) << "seconds from WM_CLOSE to the end of the loop";
}
