#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "shell/state.h"
#include "support/fault_injection.h"
#include "support/launched_program.h"

namespace {

bool IsGreen(std::uint32_t pixel) {
    const auto r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return r == 0 && b == 0 && g > 0;
}

bool IsBlack(std::uint32_t pixel) {
    return (pixel & 0xFFFFFF) == 0;
}

// Lengths of the horizontal runs of green along every row.
std::vector<int> GreenRunLengths(const Capture& capture) {
    std::vector<int> runs;
    for (int y = 0; y < capture.height; ++y) {
        int run = 0;
        for (int x = 0; x <= capture.width; ++x) {
            if (x < capture.width && IsGreen(capture.pixels[y * capture.width + x])) {
                ++run;
            } else if (run > 0) {
                runs.push_back(run);
                run = 0;
            }
        }
    }
    return runs;
}

// A window of the test's own that takes the activation away from the program.
HWND CreateActivationThief() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TovrenTestActivationThief";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, windowClass.lpszClassName, "thief", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                           900, 600, 100, 100, nullptr, nullptr, GetModuleHandleA(nullptr),
                           nullptr);
}

void PumpMessagesFor(DWORD milliseconds) {
    const DWORD end = GetTickCount() + milliseconds;
    while (GetTickCount() < end) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

} // namespace

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(LaunchProgram(program));
    }
    void TearDown() override {
        if (program.process.hProcess) {
            WaitForExitCode(program, 0);
        }
    }
    LaunchedProgram program;
};

TEST_F(Program, ClosingItsWindowEndsItWithZero) {
    EXPECT_TRUE(IsWindowVisible(program.window));
    PostMessageA(program.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExitCode(program, 10000), 0);
    EXPECT_FALSE(IsWindow(program.window));
}

TEST_F(Program, EscapeEndsItWithZero) {
    Sleep(200);
    PostMessageA(program.window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    EXPECT_EQ(WaitForExitCode(program, 10000), 0);
}

TEST_F(Program, ShowsGreenSpritesOfDifferentSizesOnBlackThatMove) {
    Sleep(500);
    const Capture first = CaptureClientArea(program.window);
    Sleep(200);
    const Capture second = CaptureClientArea(program.window);
    ASSERT_EQ(first.width, 800);
    ASSERT_EQ(first.height, 600);

    int green = 0, other = 0;
    for (std::uint32_t pixel : first.pixels) {
        green += IsGreen(pixel) ? 1 : 0;
        other += !IsGreen(pixel) && !IsBlack(pixel) ? 1 : 0;
    }
    EXPECT_GT(green, 2000);
    EXPECT_EQ(other, 0);
    EXPECT_TRUE(IsBlack(first.pixels[0]));

    const std::vector<int> runs = GreenRunLengths(first);
    ASSERT_FALSE(runs.empty());
    EXPECT_GE(*std::max_element(runs.begin(), runs.end()), 20) << "no near sprite";
    EXPECT_LE(*std::min_element(runs.begin(), runs.end()), 6) << "no far sprite";

    int changed = 0;
    for (std::size_t i = 0; i < first.pixels.size(); ++i) {
        changed += first.pixels[i] != second.pixels[i] ? 1 : 0;
    }
    EXPECT_GT(changed, 500) << "the field did not move";

    PostMessageA(program.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExitCode(program, 10000), 0);
}

TEST_F(Program, MinimisedItUsesAlmostNoProcessorTime) {
    Sleep(300);
    const long long shownStart = ReadProcessCpuTicks(program);
    ASSERT_GE(shownStart, 0) << "the program's process was not found in /proc";
    Sleep(1000);
    const long long shownTicks = ReadProcessCpuTicks(program) - shownStart;

    // Minimised and then deactivated, as Windows does when another window takes the focus.
    ShowWindow(program.window, SW_MINIMIZE);
    HWND thief = CreateActivationThief();
    ASSERT_NE(thief, nullptr);
    SetForegroundWindow(thief);
    SetActiveWindow(thief);
    PumpMessagesFor(500);

    const long long idleStart = ReadProcessCpuTicks(program);
    PumpMessagesFor(2000);
    const long long idleTicks = ReadProcessCpuTicks(program) - idleStart;
    const double idlePercent = idleTicks / 2.0; // ticks are 1/100 s, over two seconds
    RecordProperty("minimised_cpu_percent", std::to_string(idlePercent));
    RecordProperty("shown_cpu_percent", std::to_string(shownTicks));
    std::printf("CPU of one core: shown %lld %%, minimised %.1f %%\n", shownTicks, idlePercent);
    EXPECT_LT(idlePercent, 2.0);
    EXPECT_GT(shownTicks, 20) << "the measure does not see the program drawing";

    // Restored, it draws again and still ends cleanly.
    ShowWindow(program.window, SW_RESTORE);
    SetForegroundWindow(program.window);
    PumpMessagesFor(300);
    const long long restoredStart = ReadProcessCpuTicks(program);
    PumpMessagesFor(1000);
    EXPECT_GT(ReadProcessCpuTicks(program) - restoredStart, 20) << "it did not resume";

    DestroyWindow(thief);
    PostMessageA(program.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExitCode(program, 10000), 0);
}

// ---- WinMain in the test process ----

namespace {

int WINAPI FailChoosePixelFormat(HDC, const PIXELFORMATDESCRIPTOR*) {
    return 0;
}

void CALLBACK CloseProgramWindow(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    PostMessageA(sceneState.hWnd, WM_CLOSE, 0, 0);
}

} // namespace

TEST(ProgramEntry, AFailedStartReportsItAndReturnsOne) {
    sceneState = SceneState{};
    MessageBoxRecorder boxes;
    int exitCode = -1;
    {
        ImportPatch patch("gdi32.dll", "ChoosePixelFormat",
                          reinterpret_cast<const void*>(&FailChoosePixelFormat));
        ASSERT_TRUE(patch.patched());
        exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOW);
    }
    EXPECT_EQ(exitCode, 1);
    ASSERT_EQ(boxes.boxes.size(), 1u) << DescribeBoxes(boxes.boxes);
    EXPECT_EQ(boxes.boxes[0].text, "Can't Find A Suitable PixelFormat.");
    EXPECT_EQ(FindWindowA("OpenGL", "Tovren"), nullptr);
    sceneState = SceneState{};
}

TEST(ProgramEntry, ARunClosedByItsWindowReturnsZeroWithEverythingReleased) {
    sceneState = SceneState{};
    MessageBoxRecorder boxes;
    SetTimer(nullptr, 0, 300, CloseProgramWindow);
    EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOW), 0);
    EXPECT_TRUE(boxes.boxes.empty()) << DescribeBoxes(boxes.boxes);
    WNDCLASSA info{};
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "OpenGL", &info));
    EXPECT_EQ(FindWindowA("OpenGL", "Tovren"), nullptr);
    EXPECT_EQ(sceneState.hWnd, nullptr);
    EXPECT_EQ(sceneState.hRC, nullptr);
    EXPECT_EQ(sceneState.pointField, nullptr);
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
    sceneState = SceneState{};
}
