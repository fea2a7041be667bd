#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <random>

#include "support/launched_program.h"

// A storm of random window messages sent to the live window of the real program: it must
// survive, keep drawing, and still end cleanly when closed.

namespace {

constexpr int stormSize = 100000;

// Messages that end the program or destroy its window on purpose are not part of the storm: the
// program is to survive everything else. Nor are those whose default handling enters a modal loop
// (window menu, move, size) that waits for the user, or hands the shell an app command that may
// start a program; nor timer messages, whose lParam Wine calls as the timer's procedure where
// Windows first checks that the program set such a timer; screen-saver and power-down requests
// are sent on their own.
bool IsLeftOut(UINT message, WPARAM wParam) {
    switch (message) {
    case WM_CLOSE:
    case WM_QUIT:
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_ENDSESSION:
    case WM_SYSCOMMAND:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDOWN:
    case WM_NCRBUTTONUP:
    case WM_CONTEXTMENU:
    case WM_APPCOMMAND:
    case WM_TIMER:
    case 0x0118: // WM_SYSTIMER, the system's own timer
    case 0x0313: // the taskbar's request to pop up the window menu
        return true;
    case WM_KEYDOWN:
        return wParam == VK_ESCAPE;
    default:
        return false;
    }
}

struct Storm {
    int posted = 0;
    int refused = 0; // messages the system will not post (pointer parameters)
    int windowChanges = 0;
};

void Resize(HWND window, int width, int height) {
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool PostWithRetry(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Storm& storm) {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (PostMessageA(window, message, wParam, lParam)) {
            ++storm.posted;
            return true;
        }
        if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA) {
            ++storm.refused;
            return false;
        }
        Sleep(1); // the queue is full: let the program drain it
    }
    return false;
}

} // namespace

TEST(MessageStorm, TheProgramSurvivesItKeepsDrawingAndEndsCleanly) {
    LaunchedProgram program;
    ASSERT_TRUE(LaunchProgram(program));
    HWND window = program.window;

    std::mt19937_64 random(20261207);
    Storm storm;
    const DWORD start = GetTickCount();
    while (storm.posted < stormSize) {
        const std::uint64_t pick = random() % 100;
        UINT message;
        WPARAM wParam = static_cast<WPARAM>(random());
        LPARAM lParam = static_cast<LPARAM>(random());
        if (pick < 45) {
            message = static_cast<UINT>(random() % 0x400); // the system's own messages
        } else if (pick < 65) {
            message = static_cast<UINT>(0x400 + random() % 0xFC00); // application and registered
        } else if (pick < 80) {
            message = static_cast<UINT>(random()); // anything at all
        } else if (pick < 88) {
            message = pick % 2 ? WM_KEYDOWN : WM_KEYUP;
            wParam = 256 + static_cast<WPARAM>(random() % 0x10000); // past the key table
        } else if (pick < 92) {
            message = WM_KEYDOWN + static_cast<UINT>(random() % 2);
            wParam = static_cast<WPARAM>(random() % 256);
        } else if (pick < 97) {
            message = WM_SIZE;
            const int sizes[][2] = {{0, 0}, {1, 1}, {16384, 16384}, {800, 0}, {0, 600}};
            const auto* size = sizes[random() % 5];
            lParam = MAKELPARAM(size[0], size[1]);
        } else if (pick < 99) {
            message = WM_ACTIVATE; // activate, deactivate, minimised or not
        } else {
            message = WM_SYSCOMMAND; // refused by the program
            wParam = random() % 2 ? SC_SCREENSAVE : SC_MONITORPOWER;
            PostWithRetry(window, message, wParam, lParam, storm);
            continue;
        }
        if (IsLeftOut(message, wParam)) {
            continue;
        }
        PostWithRetry(window, message, wParam, lParam, storm);

        // Real changes of the window between the posted ones.
        if (storm.posted % 5000 == 0) {
            switch ((storm.posted / 5000) % 6) {
            case 0:
                Resize(window, 0, 0);
                break;
            case 1:
                Resize(window, 1, 1);
                break;
            case 2:
                Resize(window, 16384, 16384);
                break;
            case 3:
                ShowWindow(window, SW_MINIMIZE);
                break;
            case 4:
                ShowWindow(window, SW_RESTORE);
                break;
            default:
                Resize(window, 808, 627);
                break;
            }
            ++storm.windowChanges;
        }
        ASSERT_EQ(WaitForSingleObject(program.process.hProcess, 0), WAIT_TIMEOUT)
            << "the program ended after " << storm.posted << " messages";
    }
    std::printf("%d messages posted (%d refused by the system, %d window changes) in %lu ms\n",
                storm.posted, storm.refused, storm.windowChanges, GetTickCount() - start);

    // Bring it back to a normal, active window.
    ShowWindow(window, SW_RESTORE);
    PostMessageA(window, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    PostMessageA(window, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, 0), 0);
    // Posted WM_SIZE messages carried made-up sizes; a real resize tells the truth again.
    RECT frame{0, 0, 800, 600};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE);
    Resize(window, 320, 240);
    Resize(window, frame.right - frame.left, frame.bottom - frame.top);

    ASSERT_EQ(WaitForSingleObject(program.process.hProcess, 0), WAIT_TIMEOUT)
        << "it did not survive";
    EXPECT_TRUE(IsWindow(window));
    // The program handles one message per pass and draws only once its queue is empty: the
    // backlog of the storm drains first, which takes seconds on a busy machine.
    EXPECT_TRUE(WaitUntilDrawing(window)) << "it no longer draws";

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExitCode(program, 15000), 0);
}
