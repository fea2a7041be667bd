#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scene/system_libraries.h"
#include "shell/state.h"
#include "support/gl_window.h"
#include "support/launched_program.h"
#include "support/program_window.h"
#include "support/replacements.h"

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
    ASSERT_TRUE(WaitUntilDrawing(program.window)); // Escape is read in the loop
    PostMessageA(program.window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    EXPECT_EQ(WaitForExitCode(program, 10000), 0);
}

int CountPixels(const Capture& capture, bool (*matches)(std::uint32_t)) {
    return static_cast<int>(std::count_if(capture.pixels.begin(), capture.pixels.end(), matches));
}

TEST_F(Program, ShowsGreenSpritesOfDifferentSizesOnBlackThatMove) {
    // The first frame can take a while (the driver compiles its pipeline): wait for it.
    Capture first;
    WaitUntil(
        [&] {
            first = CaptureClientArea(program.window);
            return CountPixels(first, IsGreen) > 2000;
        },
        30.0);
    Capture second;
    int changed = 0;
    WaitUntil(
        [&] {
            second = CaptureClientArea(program.window);
            changed = 0;
            for (std::size_t i = 0; i < first.pixels.size() && i < second.pixels.size(); ++i) {
                changed += first.pixels[i] != second.pixels[i] ? 1 : 0;
            }
            return changed > 500;
        },
        30.0);
    ASSERT_EQ(first.width, 800);
    ASSERT_EQ(first.height, 600);

    const int green = CountPixels(first, IsGreen);
    const int black = CountPixels(first, IsBlack);
    EXPECT_GT(green, 2000);
    EXPECT_EQ(green + black, 800 * 600) << "pixels neither green nor black";
    // The background: most of the window, whichever sprites happen to be near.
    EXPECT_GT(black, 800 * 600 / 2);

    const std::vector<int> runs = GreenRunLengths(first);
    ASSERT_FALSE(runs.empty());
    EXPECT_GE(*std::max_element(runs.begin(), runs.end()), std::min(20.0, WidestPoint() - 1))
        << "no near sprite";
    EXPECT_LE(*std::min_element(runs.begin(), runs.end()), 6) << "no far sprite";

    EXPECT_GT(changed, 500) << "the field did not move";

    PostMessageA(program.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExitCode(program, 10000), 0);
}

// Paced to the display while shown, asleep while minimised, and drawing again once restored.
TEST_F(Program, UsesLittleProcessorTimeShownAndAlmostNoneMinimised) {
    ASSERT_TRUE(WaitUntilDrawing(program.window)) << "it does not draw";
    const double shown = CpuPercentOver(program, 3.0);
    ASSERT_GE(shown, 0.0) << "the program's processor time cannot be read";

    // Minimised and then deactivated, as Windows does when another window takes the focus.
    ShowWindow(program.window, SW_MINIMIZE);
    HWND thief = CreateActivationThief();
    ASSERT_NE(thief, nullptr);
    PumpMessagesFor(0.5);
    const double minimised = CpuPercentOver(program, 2.0);
    RecordProperty("shown_cpu_percent", std::to_string(shown));
    RecordProperty("minimised_cpu_percent", std::to_string(minimised));
    std::printf("CPU of one core: shown %.1f %%, minimised %.1f %%\n", shown, minimised);
    // Paced to the display: 9 to 11 % here for the 64-bit build and 13 to 16 % for the 32-bit
    // one, nearly all of it the software driver's own cost of a frame (its two rasterising
    // threads and the copy of every frame to the X server); unpaced, over 110 %. On a busy machine
    // the pacing lets go now and then (slow swaps read as the display's wait): 16 % seen for the
    // 64-bit build, 20.3 % for the 32-bit one. The bound leaves room for that, and an unpaced
    // program (over 60 %) still fails it. Another driver, one without point sprites (smooth
    // points cost more), or emulation costs otherwise.
    if (RunningUnderWine() && DriverReports("GL_ARB_point_sprite") &&
        !RunsUnderEmulation(program.token)) {
        EXPECT_LE(shown, 25.0);
    } else {
        std::printf("shown: not bounded, this driver's cost of a frame is not known\n");
    }
    EXPECT_LT(minimised, 2.0);

    ShowWindow(program.window, SW_RESTORE);
    // It resumes once activated, which Windows refuses where the test may not take the foreground.
    if (SetForegroundWindow(program.window)) {
        EXPECT_TRUE(WaitUntilDrawing(program.window)) << "it did not resume";
    }

    DestroyWindow(thief);
    PostMessageA(program.window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExitCode(program, 10000), 0);
}

// ---- WinMain in the test process ----

class ProgramEntry : public ::testing::Test {
  protected:
    FreshState fresh;
    Replacements replaced{{"MessageBoxA", "ChoosePixelFormat", "SwapBuffers"}};
};

TEST_F(ProgramEntry, AFailedStartReportsItAndReturnsOne) {
    FailAt("ChoosePixelFormat", 1);
    EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOW), 1);
    ASSERT_EQ(calls.boxes.size(), 1u) << DescribeBoxes(calls.boxes);
    EXPECT_EQ(calls.boxes[0].text, "Can't Find A Suitable PixelFormat.");
    EXPECT_EQ(FindWindowA("OpenGL", "Tovren"), nullptr);
}

// Also: from its start on, the process looks for DLLs in the system folder only, so that what
// the driver or the system loads later by name is never one dropped beside the program. The
// planted DLL, beside the tests, is mapped without running it.
TEST_F(ProgramEntry, ARunClosedByItsWindowReturnsZeroWithEverythingReleased) {
    HMODULE planted = LoadLibraryExA("planted.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(planted, nullptr) << "the control: before the start, the tests' folder is searched";
    FreeLibrary(planted);
    RunAfterFrames(3, [] { PostMessageA(sceneState.hWnd, WM_CLOSE, 0, 0); });
    EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOW), 0);
    EXPECT_EQ(LoadLibraryExA("planted.dll", nullptr, DONT_RESOLVE_DLL_REFERENCES), nullptr)
        << "the DLL search is not restricted to the system folder";
    EXPECT_TRUE(calls.boxes.empty()) << DescribeBoxes(calls.boxes);
    WNDCLASSA info{};
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "OpenGL", &info));
    EXPECT_EQ(FindWindowA("OpenGL", "Tovren"), nullptr);
    EXPECT_EQ(sceneState.hWnd, nullptr);
    EXPECT_EQ(sceneState.hRC, nullptr);
    EXPECT_EQ(sceneState.pointField, nullptr);
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
}

TEST_F(ProgramEntry, ASystemLibraryThatCannotBeLoadedIsReportedAndTheStartFails) {
    const SystemLibraries loaded = systemLibraries;
    {
        Replacements refused({"LoadLibraryExA"});
        FailAt("LoadLibraryExA", 0);
        EXPECT_EQ(WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOW), 1);
    }
    systemLibraries = loaded;
    ASSERT_EQ(calls.boxes.size(), 1u) << DescribeBoxes(calls.boxes);
    EXPECT_EQ(calls.boxes[0].text, "Can't Load opengl32.dll From The System Folder.");
    EXPECT_EQ(calls.boxes[0].caption, "ERROR");
    EXPECT_EQ(calls.boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(FindWindowA("OpenGL", "Tovren"), nullptr);
}

// Windows 7 without update KB2533623 refuses LOAD_LIBRARY_SEARCH_SYSTEM32 as an invalid
// parameter: the library is then loaded by its full path in the system folder.
TEST_F(ProgramEntry, WithoutTheSearchFlagALibraryComesByItsFullSystemPath) {
    Replacements refused({"LoadLibraryExA"});
    FailAt("LoadLibraryExA", 1);
    EXPECT_TRUE(LoadSystemLibraries());
    char folder[MAX_PATH] = {};
    GetSystemDirectoryA(folder, MAX_PATH);
    const std::vector<std::pair<std::string, std::intptr_t>> expected = {
        {"opengl32.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
        {std::string(folder) + "\\opengl32.dll", LOAD_WITH_ALTERED_SEARCH_PATH},
        {"glu32.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
        {"winmm.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
        {"dwmapi.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
        {"gdi32.dll", LOAD_LIBRARY_SEARCH_SYSTEM32}};
    const std::vector<Call> loads = CallsOf("LoadLibraryExA");
    ASSERT_EQ(loads.size(), expected.size());
    for (std::size_t i = 0; i < loads.size(); ++i) {
        EXPECT_EQ(loads[i].text, expected[i].first);
        EXPECT_EQ(loads[i].args[2], expected[i].second) << loads[i].text;
    }
    EXPECT_TRUE(calls.boxes.empty()) << DescribeBoxes(calls.boxes);
}
