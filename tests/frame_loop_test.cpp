#include <gtest/gtest.h>

#include <windows.h>

#include <GL/gl.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "scene/point_field.h"
#include "scene/renderer.h"
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
    PostQuitMessage(7);
    EXPECT_EQ(RunFrameLoop(), 7);
    EXPECT_EQ(calls.presented.load(), 0);
}

std::atomic<int> framesWhenRestored{-1};
std::vector<SpritePoint> fieldWhenRestored;

TEST_F(FrameLoop, WhileMinimisedNoFrameIsDrawnAndRestoredTheFieldGoesOn) {
    PostMinimised();
    PostEscapeDown(); // held while minimised: nothing happens until restored
    RunLater(400, [] {
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
        Sleep(200); // let the loop reach its wait
        const double start = cpuMilliseconds();
        Sleep(1000);
        idleCpu = cpuMilliseconds() - start;
        framesBeforeRestore = calls.presented.load();
        // A restore arrives as a sent message, with nothing else to wake the loop.
        SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
        // Nothing else would wake a loop that slept through the restore.
        for (int waited = 0; waited < 30000 && calls.presented.load() <= 3; waited += 10) {
            Sleep(10);
        }
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

// ---- One frame per display refresh, whether or not the driver waits for it ----

namespace {

struct Display {
    const char* name;
    DWORD reportedHz; // what EnumDisplaySettingsA says; 1 is the hardware's default, 60 Hz
    int swapHz;       // how SwapBuffers behaves: -1 returns at once, else waits for this rate
    double rate;      // frames per second the loop should present
    bool paced;       // whether the loop itself has to wait
};

void PrintTo(const Display& display, std::ostream* out) {
    *out << display.name;
}

struct Mark {
    double seconds;
    int frames;
    int waits;
};
Mark settled, finished;

Mark MarkNow() {
    return Mark{SecondsNow(), calls.presented.load(), calls.timedWaits.load()};
}

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

struct Measured {
    double rate; // frames per second
    int waits;   // timed waits of the pacing
};

// Runs the loop for 2.8 s and measures the last two, when the pacing has settled.
Measured RunAndMeasure() {
    RunLater(800, [] { settled = MarkNow(); });
    RunLater(2800, [] {
        finished = MarkNow();
        PostClose();
    });
    EXPECT_EQ(RunFrameLoop(), 0);
    return Measured{(finished.frames - settled.frames) / (finished.seconds - settled.seconds),
                    finished.waits - settled.waits};
}

} // namespace

class FramePacing : public FrameLoop, public ::testing::WithParamInterface<Display> {};

TEST_P(FramePacing, PresentsOneFramePerRefresh) {
    const Display& display = GetParam();
    fakes.displayHz = display.reportedHz;
    fakes.swapHz = display.swapHz;
    const bool canKeepUp = DrawCost() * display.rate < 0.7;
    const auto [rate, waits] = RunAndMeasure();
    std::printf("%s: %.1f frames/s, %d timed waits\n", display.name, rate, waits);
    if (!canKeepUp) {
        // A machine too slow for this rate (32-bit code under emulation): no frame is held back.
        EXPECT_EQ(waits, 0) << rate << " frames/s";
        return;
    }
    if (display.paced) {
        EXPECT_NEAR(rate, display.rate, 3.0);
        EXPECT_GT(waits, 0);
    } else {
        EXPECT_GE(rate, 0.95 * display.rate);
        EXPECT_EQ(waits, 0) << "the swap already waits for the display";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Displays, FramePacing,
    ::testing::Values(Display{"SwapReturnsAtOnceAtTheDefaultRate", 1, -1, 60.0, true},
                      Display{"SwapReturnsAtOnceAt75Hz", 75, -1, 75.0, true},
                      Display{"SwapWaitsFor60Hz", 60, 60, 60.0, false},
                      Display{"SwapWaitsFor144Hz", 144, 144, 144.0, false}),
    [](const ::testing::TestParamInfo<Display>& param) { return param.param.name; });

// A display mode changed while running: the pacing follows the new refresh rate.
TEST_F(FrameLoop, FollowsTheRefreshRateAfterADisplayChange) {
    fakes.displayHz = 1;
    fakes.swapHz = -1;
    RunLater(300, [] {
        fakes.displayHz = 30;
        SendMessageA(sceneState.hWnd, WM_DISPLAYCHANGE, 32, MAKELPARAM(800, 600));
    });
    const Measured measured = RunAndMeasure();
    EXPECT_NEAR(measured.rate, 30.0, 2.0);
    EXPECT_GT(measured.waits, 0);
}

// While the loop waits out a refresh, closing the window still ends it at once.
TEST_F(FrameLoop, EndsWithinOneRefreshWhilePaced) {
    fakes.displayHz = 1; // 60 Hz
    fakes.swapHz = -1;
    HWND window = sceneState.hWnd;
    double closed = 0.0;
    int waitsBeforeClose = 0;
    std::thread driver([&] {
        // Once the pacing is waiting; the first frames can take long under emulation.
        for (int waited = 0; waited < 30000 && calls.timedWaits.load() < 10; waited += 10) {
            Sleep(10);
        }
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
