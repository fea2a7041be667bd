#include <gtest/gtest.h>

#include <windows.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "scene/point_field.h"
#include "scene/renderer.h"
#include "shell/main.h"
#include "shell/render_window.h"
#include "shell/settings.h"
#include "shell/state.h"
#include "support/replacements.h"

namespace {

constexpr char className[] = "OpenGL";

HINSTANCE ThisModule() {
    return GetModuleHandleA(nullptr);
}

bool CreateDefaultWindow(bool fullscreen = false) {
    return CreateRenderWindow(StartupSettings::windowTitle, StartupSettings::windowWidth,
                              StartupSettings::windowHeight, StartupSettings::colorBits,
                              fullscreen);
}

LONG WindowStyle(HWND window) {
    return GetWindowLongA(window, GWL_STYLE);
}

LONG WindowExStyle(HWND window) {
    return GetWindowLongA(window, GWL_EXSTYLE);
}

// What the state looks like when nothing of the window is left.
void ExpectNothingLeft() {
    EXPECT_EQ(FindWindowA(className, nullptr), nullptr);
    EXPECT_FALSE(IsClassRegistered(className, ThisModule()));
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
    EXPECT_EQ(sceneState.hWnd, nullptr);
    EXPECT_EQ(sceneState.hDC, nullptr);
    EXPECT_EQ(sceneState.hRC, nullptr);
    EXPECT_EQ(sceneState.pointField, nullptr);
}

void ExpectBox(const RecordedMessageBox& box, const char* text, const char* caption, UINT type) {
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.type, type);
    EXPECT_EQ(box.owner, nullptr);
}

std::intptr_t AsId(HWND window) {
    return reinterpret_cast<std::intptr_t>(window);
}

std::pair<LONG, LONG> ClientSize(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    return {client.right - client.left, client.bottom - client.top};
}

// Every field, named, so that a difference shows which one.
std::string DescribeFormat(const PIXELFORMATDESCRIPTOR& f) {
    char text[512];
    std::snprintf(
        text, sizeof(text),
        "nSize=%u nVersion=%u dwFlags=0x%lx iPixelType=%u cColorBits=%u "
        "red=%u/%u green=%u/%u blue=%u/%u alpha=%u/%u accum=%u:%u/%u/%u/%u "
        "cDepthBits=%u cStencilBits=%u cAuxBuffers=%u iLayerType=%u bReserved=%u "
        "masks=%lx/%lx/%lx",
        f.nSize, f.nVersion, static_cast<unsigned long>(f.dwFlags), f.iPixelType, f.cColorBits,
        f.cRedBits, f.cRedShift, f.cGreenBits, f.cGreenShift, f.cBlueBits, f.cBlueShift,
        f.cAlphaBits, f.cAlphaShift, f.cAccumBits, f.cAccumRedBits, f.cAccumGreenBits,
        f.cAccumBlueBits, f.cAccumAlphaBits, f.cDepthBits, f.cStencilBits, f.cAuxBuffers,
        f.iLayerType, f.bReserved, static_cast<unsigned long>(f.dwLayerMask),
        static_cast<unsigned long>(f.dwVisibleMask), static_cast<unsigned long>(f.dwDamageMask));
    return text;
}

} // namespace

class RenderWindow : public ::testing::Test {
  protected:
    void TearDown() override {
        DestroyRenderWindow();
        UnregisterClassA(className, ThisModule()); // where a test left it registered on purpose
    }

    FreshState fresh;
    Replacements boxes{{"MessageBoxA"}};
};

TEST_F(RenderWindow, DefaultSettingsGiveAFramedWindowWithAClientAreaOf800By600) {
    ASSERT_TRUE(CreateDefaultWindow());
    EXPECT_TRUE(calls.boxes.empty());
    HWND window = sceneState.hWnd;
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(sceneState.hInstance, ThisModule());
    EXPECT_FALSE(sceneState.isFullscreen);

    WNDCLASSA windowClass{};
    ASSERT_TRUE(GetClassInfoA(ThisModule(), className, &windowClass));
    EXPECT_EQ(windowClass.style, 0x23u);
    EXPECT_EQ(windowClass.lpfnWndProc, &MainWindowProc);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_EQ(windowClass.hIcon, LoadIconA(nullptr, IDI_WINLOGO));
    EXPECT_EQ(windowClass.hCursor, LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(windowClass.hbrBackground, nullptr);
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);

    char title[64] = {};
    GetWindowTextA(window, title, sizeof(title));
    EXPECT_STREQ(title, "Tovren");

    RECT frame{}, client{};
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(client.right - client.left, 800);
    EXPECT_EQ(client.bottom - client.top, 600);
    EXPECT_GT(frame.right - frame.left, 800);
    EXPECT_GT(frame.bottom - frame.top, 600 + GetSystemMetrics(SM_CYCAPTION) - 1);

    EXPECT_EQ(WindowStyle(window), static_cast<LONG>(WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS |
                                                     WS_CLIPCHILDREN | WS_VISIBLE));
    EXPECT_EQ(WindowExStyle(window), static_cast<LONG>(WS_EX_APPWINDOW | WS_EX_WINDOWEDGE));

    PIXELFORMATDESCRIPTOR format{};
    ASSERT_NE(DescribePixelFormat(sceneState.hDC, GetPixelFormat(sceneState.hDC), sizeof(format),
                                  &format),
              0);
    EXPECT_TRUE(format.dwFlags & PFD_DOUBLEBUFFER);
    EXPECT_TRUE(format.dwFlags & PFD_SUPPORT_OPENGL);
    EXPECT_TRUE(format.dwFlags & PFD_DRAW_TO_WINDOW);
    EXPECT_EQ(format.iPixelType, PFD_TYPE_RGBA);
    EXPECT_GE(format.cDepthBits, 16);

    EXPECT_EQ(wglGetCurrentContext(), sceneState.hRC);
    EXPECT_EQ(wglGetCurrentDC(), sceneState.hDC);
    EXPECT_TRUE(IsWindowVisible(window));
    // Asked for (CreationSendsItsMessagesInAFixedOrder); Windows may refuse it, Wine grants it.
    if (RunningUnderWine()) {
        EXPECT_EQ(GetFocus(), window);
        EXPECT_EQ(GetForegroundWindow(), window);
    }

    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 600);
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[0], 1.0 / std::tan(27.5 * 3.14159265358979 / 180.0) / (800.0 / 600.0),
                1e-6);
}

// The request itself, not only what the driver made of it: a driver rounds a request up.
TEST_F(RenderWindow, AsksForTheDescribedPixelFormatFieldByField) {
    {
        Replacements watched({"ChoosePixelFormat", "SetPixelFormat"});
        ASSERT_TRUE(CreateDefaultWindow());
    }
    PIXELFORMATDESCRIPTOR expected{};
    expected.nSize = 40;
    expected.nVersion = 1;
    expected.dwFlags = 0x25; // draw to window, OpenGL, double-buffered
    expected.iPixelType = PFD_TYPE_RGBA;
    expected.cColorBits = 32;
    expected.cDepthBits = 16;
    expected.iLayerType = PFD_MAIN_PLANE;
    ASSERT_EQ(calls.requestedFormats.size(), 2u);
    EXPECT_EQ(DescribeFormat(calls.requestedFormats[0]), DescribeFormat(expected));
    EXPECT_EQ(DescribeFormat(calls.requestedFormats[1]), DescribeFormat(expected));
}

TEST_F(RenderWindow, TeardownLeavesNothingAndASecondOneIsHarmless) {
    ASSERT_TRUE(CreateDefaultWindow());
    sceneState.pointField = BuildPointField(StartupSettings::pointCount);

    DestroyRenderWindow();
    ExpectNothingLeft();
    EXPECT_EQ(sceneState.hInstance, nullptr);

    Replacements watched(windowCalls);
    DestroyRenderWindow();
    ExpectNothingLeft();
    ExpectCalls({}, calls.log); // the second teardown has nothing to release
    EXPECT_TRUE(calls.boxes.empty());
}

TEST_F(RenderWindow, TeardownReleasesInReverseOrderOfCreation) {
    ASSERT_TRUE(CreateDefaultWindow());
    Replacements watched(windowCalls);
    DestroyRenderWindow();
    ExpectCalls({{"wglMakeCurrent", {0, 0}},
                 {"wglDeleteContext"},
                 {"ReleaseDC"},
                 {"DestroyWindow"},
                 {"UnregisterClassA"}},
                calls.log);
    ExpectNothingLeft();
}

// The messages the program acts on, in their order against the creation steps: a change in the
// order of creation shows here.
TEST_F(RenderWindow, CreationSendsItsMessagesInAFixedOrder) {
    SentMessageRecorder messages(className, {{WM_SIZE, "WM_SIZE"}, {WM_ACTIVATE, "WM_ACTIVATE"}});
    {
        Replacements watched(windowCalls);
        ASSERT_TRUE(CreateDefaultWindow());
    }
    const HWND window = sceneState.hWnd;
    ExpectCalls({{"CreateWindowExA"},
                 {"GetDC"},
                 {"ChoosePixelFormat"},
                 {"SetPixelFormat"},
                 {"wglCreateContext"},
                 {"wglMakeCurrent"},
                 {"ShowWindow", {AsId(window), SW_SHOW}},
                 {"WM_ACTIVATE", {WA_ACTIVE}, !RunningUnderWine()}, // Windows may refuse it
                 {"WM_SIZE", {SIZE_RESTORED, MAKELPARAM(800, 600)}},
                 {"wglMakeCurrent"}, // the window procedure's resize, which finds the context
                 {"glViewport", {0, 0, 800, 600}},
                 {"SetForegroundWindow", {AsId(window)}},
                 {"SetFocus", {AsId(window)}},
                 {"wglMakeCurrent"},
                 {"glViewport", {0, 0, 800, 600}}},
                calls.log);
}

// On a monitor whose DPI is not the system's, the frame differs from the one AdjustWindowRectEx
// measures (here 6 x 14 pixels thinner, as at 144 DPI against a system DPI of 96), and moving to
// a monitor of another DPI brings a suggested rectangle scaled to it: the client area stays
// 800 x 600 in both cases.
TEST_F(RenderWindow, TheClientAreaIs800By600AtAnyDpi) {
    Replacements frame({"AdjustWindowRectEx"});
    fakes.thinnerFrame = {6, 14};
    ASSERT_TRUE(CreateDefaultWindow());
    EXPECT_EQ(ClientSize(sceneState.hWnd), std::make_pair(800L, 600L));

    // The window takes the suggested place, a little further in, and keeps its client area.
    RECT outer{};
    GetWindowRect(sceneState.hWnd, &outer);
    RECT suggested{outer.left + 30, outer.top + 40,
                   outer.left + 30 + (outer.right - outer.left) * 3 / 2,
                   outer.top + 40 + (outer.bottom - outer.top) * 3 / 2};
    EXPECT_EQ(SendMessageA(sceneState.hWnd, WM_DPICHANGED, MAKEWPARAM(144, 144),
                           reinterpret_cast<LPARAM>(&suggested)),
              0);
    EXPECT_EQ(ClientSize(sceneState.hWnd), std::make_pair(800L, 600L));
    GetWindowRect(sceneState.hWnd, &outer);
    EXPECT_EQ(std::make_pair(outer.left, outer.top), std::make_pair(suggested.left, suggested.top));
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 600);
}

// ---- Every point where a creation can stop: torn down before the report, every handle released
// exactly once, and later teardowns release nothing. ----

struct StopPoint {
    const char* name;
    const char* failing; // the creation step that fails; null: the creation completes
    const char* text;
};

void PrintTo(const StopPoint& stop, std::ostream* out) {
    *out << stop.name;
}

// What the releases took back: the window, the device context, the rendering context.
std::vector<std::intptr_t> Released() {
    std::vector<std::intptr_t> released;
    for (const Call& call : calls.log) {
        if (call.function == "DestroyWindow" || call.function == "wglDeleteContext") {
            released.push_back(call.args[0]);
        } else if (call.function == "ReleaseDC") {
            released.push_back(call.args[1]);
        }
    }
    return released;
}

bool windowGoneAtBox = false, classGoneAtBox = false, contextGoneAtBox = false;

void NoteWhatIsLeftAtTheBox(const RecordedMessageBox&) {
    windowGoneAtBox = FindWindowA(className, nullptr) == nullptr;
    classGoneAtBox = !IsClassRegistered(className, ThisModule());
    contextGoneAtBox = wglGetCurrentContext() == nullptr;
}

class CreationStop : public RenderWindow, public ::testing::WithParamInterface<StopPoint> {};

TEST_P(CreationStop, TearsDownReleasingEachHandleOnceThenReports) {
    const StopPoint& stop = GetParam();
    Replacements watched(windowCalls);
    if (stop.failing != nullptr) {
        FailAt(stop.failing, 1);
    }
    fakes.onBox = NoteWhatIsLeftAtTheBox;

    const bool created = CreateDefaultWindow();
    EXPECT_EQ(created, stop.failing == nullptr);
    if (created) {
        InitGL(); // the field exists too
        ASSERT_NE(sceneState.pointField, nullptr);
        DestroyRenderWindow();
    }
    const std::size_t releasesAfterFirst = Released().size();
    DestroyRenderWindow();
    DestroyRenderWindow();

    // The ledger: handles that creation handed out, and handles that releases took back.
    const std::vector<std::intptr_t> released = Released();
    std::vector<std::intptr_t> acquired;
    for (const Call& call : calls.log) {
        const bool creates = call.function == "CreateWindowExA" || call.function == "GetDC" ||
                             call.function == "wglCreateContext";
        if (creates && call.result != 0) {
            acquired.push_back(call.result);
        }
    }
    EXPECT_EQ(released.size(), releasesAfterFirst) << "a later teardown released again";
    for (std::intptr_t handle : acquired) {
        EXPECT_EQ(std::count(released.begin(), released.end(), handle), 1)
            << "handle " << handle << " of " << acquired.size();
    }
    EXPECT_EQ(released.size(), acquired.size()) << "released what was not acquired";
    const std::vector<Call> unregistered = CallsOf("UnregisterClassA");
    ASSERT_EQ(unregistered.size(), 1u);
    EXPECT_NE(unregistered[0].result, 0);
    ExpectNothingLeft();
    EXPECT_EQ(sceneState.hInstance, nullptr);

    if (stop.failing == nullptr) {
        EXPECT_TRUE(calls.boxes.empty()) << DescribeBoxes(calls.boxes);
        return;
    }
    // Only the creation failure itself is reported; no teardown step failed.
    ASSERT_EQ(calls.boxes.size(), 1u) << DescribeBoxes(calls.boxes);
    ExpectBox(calls.boxes[0], stop.text, "ERROR", MB_OK | MB_ICONEXCLAMATION);
    EXPECT_TRUE(windowGoneAtBox);
    EXPECT_TRUE(classGoneAtBox);
    EXPECT_TRUE(contextGoneAtBox);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, CreationStop,
    ::testing::Values(
        StopPoint{"CreateWindowExA", "CreateWindowExA", "Window Creation Error."},
        StopPoint{"GetDC", "GetDC", "Can't Create A GL Device Context."},
        StopPoint{"ChoosePixelFormat", "ChoosePixelFormat", "Can't Find A Suitable PixelFormat."},
        StopPoint{"SetPixelFormat", "SetPixelFormat", "Can't Set The PixelFormat."},
        StopPoint{"wglCreateContext", "wglCreateContext", "Can't Create A GL Rendering Context."},
        StopPoint{"wglMakeCurrent", "wglMakeCurrent", "Can't Activate The GL Rendering Context."},
        StopPoint{"WholeCreation", nullptr, nullptr}),
    [](const ::testing::TestParamInfo<StopPoint>& param) { return param.param.name; });

TEST_F(RenderWindow, AClassAlreadyRegisteredIsReportedWithNothingTornDown) {
    WNDCLASSA other{};
    other.lpfnWndProc = DefWindowProcA;
    other.hInstance = ThisModule();
    other.lpszClassName = className;
    ASSERT_NE(RegisterClassA(&other), 0);

    EXPECT_FALSE(CreateDefaultWindow());
    ASSERT_EQ(calls.boxes.size(), 1u) << DescribeBoxes(calls.boxes);
    ExpectBox(calls.boxes[0], "Failed To Register The Window Class.", "ERROR",
              MB_OK | MB_ICONEXCLAMATION);

    // The class that was there is left alone, and no window was made.
    WNDCLASSA stillThere{};
    ASSERT_TRUE(GetClassInfoA(ThisModule(), className, &stillThere));
    EXPECT_EQ(stillThere.lpfnWndProc, &DefWindowProcA);
    EXPECT_EQ(FindWindowA(className, nullptr), nullptr);
    EXPECT_EQ(sceneState.hWnd, nullptr);
}

// ---- Fullscreen: the display switch and the cursor are answered without touching either ----

class RenderWindowFullscreen : public RenderWindow {
  protected:
    Replacements display{{"ChangeDisplaySettingsA", "ShowCursor"}};
};

TEST_F(RenderWindowFullscreen, ASwitchedDisplayGetsABorderlessWindowAndIsRestoredAtTeardown) {
    ASSERT_TRUE(CreateDefaultWindow(true));
    EXPECT_TRUE(calls.boxes.empty());
    EXPECT_TRUE(sceneState.isFullscreen);

    ASSERT_EQ(calls.displayModes.size(), 1u);
    const DEVMODEA& mode = calls.displayModes[0];
    ExpectCalls({{"ChangeDisplaySettingsA", {any, CDS_FULLSCREEN}}, {"ShowCursor", {FALSE}}},
                calls.log);
    EXPECT_EQ(mode.dmSize, 156);
    EXPECT_EQ(mode.dmFields, 0x1C0000u);
    EXPECT_EQ(mode.dmPelsWidth, 800u);
    EXPECT_EQ(mode.dmPelsHeight, 600u);
    EXPECT_EQ(mode.dmBitsPerPel, 32u);
    EXPECT_EQ(mode.dmDisplayFrequency, 0u);
    EXPECT_EQ(fakes.cursorCount, -1);

    HWND window = sceneState.hWnd;
    EXPECT_EQ(WindowStyle(window),
              static_cast<LONG>(WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE));
    EXPECT_EQ(WindowExStyle(window), static_cast<LONG>(WS_EX_APPWINDOW));
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.right - frame.left, 800);
    EXPECT_EQ(frame.bottom - frame.top, 600);

    calls.log.clear();
    DestroyRenderWindow();
    EXPECT_EQ(calls.displayModes.size(), 1u);
    EXPECT_EQ(fakes.cursorCount, 0);
    ExpectCalls({{"ChangeDisplaySettingsA", {0, 0}}, {"ShowCursor", {TRUE}}}, calls.log);
    ExpectNothingLeft();
}

TEST_F(RenderWindowFullscreen, ARefusedModeAnsweredYesOpensTheFramedWindowAndRestoresNothing) {
    FailAt("ChangeDisplaySettingsA", 1, Fault::Refuse, DISP_CHANGE_BADMODE);
    fakes.boxAnswers = {IDYES};
    ASSERT_TRUE(CreateDefaultWindow(true));

    ASSERT_EQ(calls.boxes.size(), 1u) << DescribeBoxes(calls.boxes);
    ExpectBox(calls.boxes[0],
              "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed "
              "Mode Instead?",
              "Vorn GL", MB_YESNO | MB_ICONEXCLAMATION);

    EXPECT_FALSE(sceneState.isFullscreen);
    EXPECT_EQ(
        WindowStyle(sceneState.hWnd),
        static_cast<LONG>(WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE));
    EXPECT_EQ(fakes.cursorCount, 0);

    calls.log.clear();
    DestroyRenderWindow();
    EXPECT_TRUE(CallsOf("ChangeDisplaySettingsA").empty()) << "nothing to restore";
    EXPECT_EQ(fakes.cursorCount, 0);
    ExpectNothingLeft();
}

TEST_F(RenderWindowFullscreen, ARefusedModeAnsweredNoEndsWithTheClassStillRegistered) {
    FailAt("ChangeDisplaySettingsA", 1, Fault::Refuse, DISP_CHANGE_BADMODE);
    fakes.boxAnswers = {IDNO};
    EXPECT_FALSE(CreateDefaultWindow(true));

    ASSERT_EQ(calls.boxes.size(), 2u) << DescribeBoxes(calls.boxes);
    EXPECT_EQ(calls.boxes[0].caption, "Vorn GL");
    ExpectBox(calls.boxes[1], "Program Will Now Close.", "ERROR", MB_OK | MB_ICONSTOP);

    EXPECT_TRUE(IsClassRegistered(className, ThisModule()));
    EXPECT_EQ(FindWindowA(className, nullptr), nullptr);
    EXPECT_EQ(sceneState.hWnd, nullptr);
    EXPECT_EQ(fakes.cursorCount, 0);
}

TEST_F(RenderWindow, AModeTheDisplayLacksIsRefusedForReal) {
    if (!RunningUnderWine()) {
        GTEST_SKIP()
            << "a real display may well have a 1234 x 567 mode; Wine's virtual one has not";
    }
    fakes.boxAnswers = {IDNO};
    EXPECT_FALSE(CreateRenderWindow("Tovren", 1234, 567, 32, true));
    ASSERT_EQ(calls.boxes.size(), 2u) << DescribeBoxes(calls.boxes);
    EXPECT_EQ(calls.boxes[0].caption, "Vorn GL");
    EXPECT_EQ(calls.boxes[1].text, "Program Will Now Close.");
}

// ---- Teardown failures: each is reported and every later step still runs ----

struct TeardownFailure {
    const char* failing;
    const char* text;
};

void PrintTo(const TeardownFailure& row, std::ostream* out) {
    *out << row.failing;
}

class TeardownFailureAt : public RenderWindow,
                          public ::testing::WithParamInterface<TeardownFailure> {};

TEST_P(TeardownFailureAt, IsReportedAndTheTeardownGoesOn) {
    ASSERT_TRUE(CreateDefaultWindow());
    {
        Replacements watched(windowCalls);
        FailAt(GetParam().failing, 1, Fault::AfterDoing);
        DestroyRenderWindow();
    }
    ASSERT_EQ(calls.boxes.size(), 1u) << DescribeBoxes(calls.boxes);
    ExpectBox(calls.boxes[0], GetParam().text, "SHUTDOWN ERROR", MB_OK | MB_ICONINFORMATION);
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, TeardownFailureAt,
    ::testing::Values(TeardownFailure{"wglMakeCurrent", "Release Of DC And RC Failed."},
                      TeardownFailure{"wglDeleteContext", "Release Rendering Context Failed."},
                      TeardownFailure{"ReleaseDC", "Release Device Context Failed."},
                      TeardownFailure{"DestroyWindow", "Could Not Release hWnd."},
                      TeardownFailure{"UnregisterClassA", "Could Not Unregister Class."}),
    [](const ::testing::TestParamInfo<TeardownFailure>& param) { return param.param.failing; });

// A failure that really leaves something behind: a window that will not go keeps its class
// registered, and both are reported.
TEST_F(RenderWindow, AWindowThatWillNotGoIsReportedAndSoIsItsClass) {
    ASSERT_TRUE(CreateDefaultWindow());
    HWND window = sceneState.hWnd;
    {
        Replacements watched({"DestroyWindow"});
        FailAt("DestroyWindow", 0, Fault::Refuse);
        DestroyRenderWindow();
    }
    ASSERT_EQ(calls.boxes.size(), 2u) << DescribeBoxes(calls.boxes);
    EXPECT_EQ(calls.boxes[0].text, "Could Not Release hWnd.");
    EXPECT_EQ(calls.boxes[1].text, "Could Not Unregister Class.");
    EXPECT_EQ(sceneState.hWnd, nullptr);
    EXPECT_EQ(sceneState.hRC, nullptr);
    DestroyWindow(window);
    EXPECT_TRUE(UnregisterClassA(className, ThisModule()));
}
