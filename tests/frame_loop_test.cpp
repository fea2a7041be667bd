#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "scene/point_field.h"
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
    RunLater(300, PostClose);
    EXPECT_EQ(RunFrameLoop(), 0);
    EXPECT_GT(presentedFrames.load(), 3);
    // Each presented frame moved every point exactly one step.
    ExpectSameField(CopyPointField(), Advanced(placed, presentedFrames.load()));
    EXPECT_TRUE(IsWindow(sceneState.hWnd)); // closed by the teardown, not by WM_CLOSE
}

TEST_F(FrameLoop, AnEscapePressAndReleaseDrainedInOneBurstEndNothing) {
    PostEscapeDown();
    PostEscapeUp();
    RunLater(300, PostClose);
    EXPECT_EQ(RunFrameLoop(), 0);
    EXPECT_GT(presentedFrames.load(), 3);
}

TEST_F(FrameLoop, AHeldEscapeEndsAtTheFirstPassWithNoMessagePendingWithZero) {
    PostEscapeDown();
    // The last messages retrieved carry other values: the exit code is still 0.
    PostMessageA(sceneState.hWnd, WM_USER + 1, 1234, 0);
    EXPECT_EQ(RunFrameLoop(), 0);
    EXPECT_EQ(presentedFrames.load(), 0);
    ExpectSameField(CopyPointField(), placed);
}

TEST_F(FrameLoop, AQuitCodeIsPassedOn) {
    PostQuitMessage(7);
    EXPECT_EQ(RunFrameLoop(), 7);
    EXPECT_EQ(presentedFrames.load(), 0);
}

std::atomic<int> framesWhenRestored{-1};
std::vector<SpritePoint> fieldWhenRestored;

TEST_F(FrameLoop, WhileMinimisedNoFrameIsDrawnAndRestoredTheFieldGoesOn) {
    PostMinimised();
    PostEscapeDown(); // held while minimised: nothing happens until restored
    RunLater(400, [] {
        framesWhenRestored = presentedFrames.load();
        fieldWhenRestored = CopyPointField();
        PostEscapeUp();
        PostMessageA(sceneState.hWnd, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
        RunLater(300, PostClose);
    });
    EXPECT_EQ(RunFrameLoop(), 0);

    EXPECT_EQ(framesWhenRestored.load(), 0);
    ExpectSameField(fieldWhenRestored, placed);
    EXPECT_GT(presentedFrames.load(), 3);
    ExpectSameField(CopyPointField(), Advanced(placed, presentedFrames.load()));
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
        framesBeforeRestore = presentedFrames.load();
        // A restore arrives as a sent message, with nothing else to wake the loop.
        SendMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
        Sleep(300);
        framesAfterRestore = presentedFrames.load();
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
