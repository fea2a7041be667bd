#include <gtest/gtest.h>

#include <windows.h>

#include <GL/gl.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "scene/point_field.h"
#include "shell/main.h"
#include "shell/render_window.h"
#include "shell/settings.h"
#include "shell/state.h"
#include "support/call_log.h"
#include "support/fault_injection.h"

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

// ---- Recording replacements: each notes the call in the log and passes it on. ----

HWND WINAPI RecordCreateWindowExA(DWORD exStyle, LPCSTR windowClass, LPCSTR title, DWORD style,
                                  int x, int y, int width, int height, HWND parent, HMENU menu,
                                  HINSTANCE instance, LPVOID parameter) {
    callLog.push_back("CreateWindowExA");
    HWND window = RealFunction<decltype(&CreateWindowExA)>("user32.dll", "CreateWindowExA")(
        exStyle, windowClass, title, style, x, y, width, height, parent, menu, instance, parameter);
    callLog.push_back("CreateWindowExA returned");
    return window;
}

HDC WINAPI RecordGetDC(HWND window) {
    callLog.push_back("GetDC");
    return RealFunction<decltype(&GetDC)>("user32.dll", "GetDC")(window);
}

int WINAPI RecordChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor) {
    callLog.push_back("ChoosePixelFormat");
    return RealFunction<decltype(&ChoosePixelFormat)>("gdi32.dll", "ChoosePixelFormat")(dc,
                                                                                        descriptor);
}

BOOL WINAPI RecordSetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor) {
    callLog.push_back("SetPixelFormat");
    return RealFunction<decltype(&SetPixelFormat)>("gdi32.dll", "SetPixelFormat")(dc, format,
                                                                                  descriptor);
}

HGLRC WINAPI RecordWglCreateContext(HDC dc) {
    callLog.push_back("wglCreateContext");
    return RealFunction<decltype(&wglCreateContext)>("opengl32.dll", "wglCreateContext")(dc);
}

BOOL WINAPI RecordWglMakeCurrent(HDC dc, HGLRC context) {
    callLog.push_back(context ? "wglMakeCurrent" : "wglMakeCurrent(none)");
    return RealFunction<decltype(&wglMakeCurrent)>("opengl32.dll", "wglMakeCurrent")(dc, context);
}

BOOL WINAPI RecordWglDeleteContext(HGLRC context) {
    callLog.push_back("wglDeleteContext");
    return RealFunction<decltype(&wglDeleteContext)>("opengl32.dll", "wglDeleteContext")(context);
}

BOOL WINAPI RecordShowWindow(HWND window, int command) {
    callLog.push_back("ShowWindow " + std::to_string(command));
    BOOL result = RealFunction<decltype(&ShowWindow)>("user32.dll", "ShowWindow")(window, command);
    callLog.push_back("ShowWindow returned");
    return result;
}

BOOL WINAPI RecordSetForegroundWindow(HWND window) {
    callLog.push_back("SetForegroundWindow");
    return RealFunction<decltype(&SetForegroundWindow)>("user32.dll",
                                                        "SetForegroundWindow")(window);
}

HWND WINAPI RecordSetFocus(HWND window) {
    callLog.push_back("SetFocus");
    return RealFunction<decltype(&SetFocus)>("user32.dll", "SetFocus")(window);
}

void WINAPI RecordGlViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    // Only calls that reach a context do anything.
    if (wglGetCurrentContext() != nullptr) {
        callLog.push_back("glViewport " + std::to_string(width) + "x" + std::to_string(height));
    }
    RealFunction<decltype(&glViewport)>("opengl32.dll", "glViewport")(x, y, width, height);
}

int WINAPI RecordReleaseDC(HWND window, HDC dc) {
    callLog.push_back("ReleaseDC");
    return RealFunction<decltype(&ReleaseDC)>("user32.dll", "ReleaseDC")(window, dc);
}

BOOL WINAPI RecordDestroyWindow(HWND window) {
    callLog.push_back("DestroyWindow");
    return RealFunction<decltype(&DestroyWindow)>("user32.dll", "DestroyWindow")(window);
}

BOOL WINAPI RecordUnregisterClassA(LPCSTR name, HINSTANCE instance) {
    callLog.push_back("UnregisterClassA");
    return RealFunction<decltype(&UnregisterClassA)>("user32.dll", "UnregisterClassA")(name,
                                                                                       instance);
}

// ---- The display-mode switch and the cursor, answered without touching the display. ----

struct DisplayChange {
    bool hasMode;
    DEVMODEA mode;
    DWORD flags;
};
std::vector<DisplayChange> displayChanges;
LONG displayChangeResult = DISP_CHANGE_SUCCESSFUL;

LONG WINAPI FakeChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
    DisplayChange change{mode != nullptr, {}, flags};
    if (mode) {
        change.mode = *mode;
    }
    displayChanges.push_back(change);
    callLog.push_back(mode ? "ChangeDisplaySettingsA" : "ChangeDisplaySettingsA(restore)");
    return mode ? displayChangeResult : DISP_CHANGE_SUCCESSFUL;
}

int cursorCount = 0;

int WINAPI FakeShowCursor(BOOL show) {
    callLog.push_back(show ? "ShowCursor(TRUE)" : "ShowCursor(FALSE)");
    cursorCount += show ? 1 : -1;
    return cursorCount;
}

struct PatchedImport {
    const char* dll;
    const char* function;
    const void* replacement;
};

template <typename Function>
const void* Address(Function function) {
    return reinterpret_cast<const void*>(function);
}

const std::vector<PatchedImport> creationRecorders = {
    {"user32.dll", "CreateWindowExA", Address(&RecordCreateWindowExA)},
    {"user32.dll", "GetDC", Address(&RecordGetDC)},
    {"gdi32.dll", "ChoosePixelFormat", Address(&RecordChoosePixelFormat)},
    {"gdi32.dll", "SetPixelFormat", Address(&RecordSetPixelFormat)},
    {"opengl32.dll", "wglCreateContext", Address(&RecordWglCreateContext)},
    {"opengl32.dll", "wglMakeCurrent", Address(&RecordWglMakeCurrent)},
    {"user32.dll", "ShowWindow", Address(&RecordShowWindow)},
    {"user32.dll", "SetForegroundWindow", Address(&RecordSetForegroundWindow)},
    {"user32.dll", "SetFocus", Address(&RecordSetFocus)},
    {"opengl32.dll", "glViewport", Address(&RecordGlViewport)},
};

const std::vector<PatchedImport> teardownRecorders = {
    {"opengl32.dll", "wglMakeCurrent", Address(&RecordWglMakeCurrent)},
    {"opengl32.dll", "wglDeleteContext", Address(&RecordWglDeleteContext)},
    {"user32.dll", "ReleaseDC", Address(&RecordReleaseDC)},
    {"user32.dll", "DestroyWindow", Address(&RecordDestroyWindow)},
    {"user32.dll", "UnregisterClassA", Address(&RecordUnregisterClassA)},
    {"user32.dll", "ChangeDisplaySettingsA", Address(&FakeChangeDisplaySettingsA)},
    {"user32.dll", "ShowCursor", Address(&FakeShowCursor)},
};

struct PatchSet {
    explicit PatchSet(const std::vector<PatchedImport>& imports) {
        for (const PatchedImport& import : imports) {
            patches.push_back(
                std::make_unique<ImportPatch>(import.dll, import.function, import.replacement));
        }
    }
    bool AllPatched() const {
        for (const auto& patch : patches) {
            if (!patch->patched()) {
                return false;
            }
        }
        return true;
    }
    std::vector<std::unique_ptr<ImportPatch>> patches;
};

} // namespace

class RenderWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        sceneState = SceneState{};
        callLog.clear();
        displayChanges.clear();
        displayChangeResult = DISP_CHANGE_SUCCESSFUL;
        cursorCount = 0;
    }

    void TearDown() override {
        DestroyRenderWindow();
        UnregisterClassA(className, ThisModule()); // where a test left it registered on purpose
        sceneState = SceneState{};
    }

    MessageBoxRecorder boxes;
};

TEST_F(RenderWindow, DefaultSettingsGiveAFramedWindowWithAClientAreaOf800By600) {
    ASSERT_TRUE(CreateDefaultWindow());
    EXPECT_TRUE(boxes.boxes.empty());
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
    EXPECT_EQ(GetFocus(), window);
    EXPECT_EQ(GetForegroundWindow(), window);

    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 800);
    EXPECT_EQ(viewport[3], 600);
    GLdouble projection[16];
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[0], 1.0 / std::tan(27.5 * 3.14159265358979 / 180.0) / (800.0 / 600.0),
                1e-6);
}

TEST_F(RenderWindow, TeardownLeavesNothingAndASecondOneIsHarmless) {
    ASSERT_TRUE(CreateDefaultWindow());
    sceneState.pointField = BuildPointField(StartupSettings::pointCount);

    DestroyRenderWindow();
    ExpectNothingLeft();
    EXPECT_EQ(sceneState.hInstance, nullptr);

    PatchSet recorders(teardownRecorders);
    ASSERT_TRUE(recorders.AllPatched());
    DestroyRenderWindow();
    ExpectNothingLeft();
    EXPECT_TRUE(callLog.empty()) << "the second teardown released " << callLog.front();
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(RenderWindow, TeardownReleasesInReverseOrderOfCreation) {
    ASSERT_TRUE(CreateDefaultWindow());
    PatchSet recorders(teardownRecorders);
    ASSERT_TRUE(recorders.AllPatched());
    DestroyRenderWindow();
    const std::vector<std::string> expected = {"wglMakeCurrent(none)", "wglDeleteContext",
                                               "ReleaseDC", "DestroyWindow", "UnregisterClassA"};
    EXPECT_EQ(callLog, expected);
    ExpectNothingLeft();
}

// The messages the program acts on, in their order against the creation steps: a change in the
// order of creation shows here.
TEST_F(RenderWindow, CreationSendsItsMessagesInAFixedOrder) {
    SentMessageRecorder messages(className, {WM_SIZE, WM_ACTIVATE});
    ASSERT_NE(messages.hook, nullptr);
    {
        PatchSet recorders(creationRecorders);
        ASSERT_TRUE(recorders.AllPatched());
        ASSERT_TRUE(CreateDefaultWindow());
    }
    const std::vector<std::string> expected = {
        "CreateWindowExA",
        "CreateWindowExA returned",
        "GetDC",
        "ChoosePixelFormat",
        "SetPixelFormat",
        "wglCreateContext",
        "wglMakeCurrent",
        "ShowWindow 5",
        "WM_ACTIVATE 1 0",
        "WM_SIZE 800x600",
        "wglMakeCurrent", // the window procedure's resize, which finds the context current
        "glViewport 800x600",
        "ShowWindow returned",
        "SetForegroundWindow",
        "SetFocus",
        "wglMakeCurrent",
        "glViewport 800x600",
    };
    EXPECT_EQ(callLog, expected);
}

// ---- Creation failures ----

HWND WINAPI FailCreateWindowExA(DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU,
                                HINSTANCE, LPVOID) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}
HDC WINAPI FailGetDC(HWND) {
    return nullptr;
}
int WINAPI FailChoosePixelFormat(HDC, const PIXELFORMATDESCRIPTOR*) {
    return 0;
}
BOOL WINAPI FailSetPixelFormat(HDC, int, const PIXELFORMATDESCRIPTOR*) {
    return FALSE;
}
HGLRC WINAPI FailWglCreateContext(HDC) {
    return nullptr;
}
// Refuses to make a context current; releasing the current one still works.
BOOL WINAPI FailWglMakeCurrentWithContext(HDC dc, HGLRC context) {
    if (context) {
        return FALSE;
    }
    return RealFunction<decltype(&wglMakeCurrent)>("opengl32.dll", "wglMakeCurrent")(dc, context);
}

struct CreationFailure {
    const char* name;
    PatchedImport failure;
    const char* text;
};

void PrintTo(const CreationFailure& row, std::ostream* out) {
    *out << row.name;
}

class RenderWindowCreationFailure : public RenderWindow,
                                    public ::testing::WithParamInterface<CreationFailure> {};

TEST_P(RenderWindowCreationFailure, TearsDownFirstThenReportsAndFails) {
    const CreationFailure& row = GetParam();
    bool windowGoneAtBox = false, classGoneAtBox = false, contextGoneAtBox = false;
    boxes.onShow = [&](const RecordedMessageBox&) {
        windowGoneAtBox = FindWindowA(className, nullptr) == nullptr;
        classGoneAtBox = !IsClassRegistered(className, ThisModule());
        contextGoneAtBox = wglGetCurrentContext() == nullptr;
    };

    bool created = true;
    {
        ImportPatch patch(row.failure.dll, row.failure.function, row.failure.replacement);
        ASSERT_TRUE(patch.patched());
        created = CreateDefaultWindow();
    }
    EXPECT_FALSE(created);
    ASSERT_EQ(boxes.boxes.size(), 1u) << DescribeBoxes(boxes.boxes);
    EXPECT_EQ(boxes.boxes[0].text, row.text);
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    EXPECT_TRUE(windowGoneAtBox);
    EXPECT_TRUE(classGoneAtBox);
    EXPECT_TRUE(contextGoneAtBox);
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, RenderWindowCreationFailure,
    ::testing::Values(
        CreationFailure{"CreateWindowExA",
                        {"user32.dll", "CreateWindowExA", Address(&FailCreateWindowExA)},
                        "Window Creation Error."},
        CreationFailure{"GetDC",
                        {"user32.dll", "GetDC", Address(&FailGetDC)},
                        "Can't Create A GL Device Context."},
        CreationFailure{"ChoosePixelFormat",
                        {"gdi32.dll", "ChoosePixelFormat", Address(&FailChoosePixelFormat)},
                        "Can't Find A Suitable PixelFormat."},
        CreationFailure{"SetPixelFormat",
                        {"gdi32.dll", "SetPixelFormat", Address(&FailSetPixelFormat)},
                        "Can't Set The PixelFormat."},
        CreationFailure{"wglCreateContext",
                        {"opengl32.dll", "wglCreateContext", Address(&FailWglCreateContext)},
                        "Can't Create A GL Rendering Context."},
        CreationFailure{"wglMakeCurrent",
                        {"opengl32.dll", "wglMakeCurrent", Address(&FailWglMakeCurrentWithContext)},
                        "Can't Activate The GL Rendering Context."}),
    [](const ::testing::TestParamInfo<CreationFailure>& param) { return param.param.name; });

TEST_F(RenderWindow, AClassAlreadyRegisteredIsReportedWithNothingTornDown) {
    WNDCLASSA other{};
    other.lpfnWndProc = DefWindowProcA;
    other.hInstance = ThisModule();
    other.lpszClassName = className;
    ASSERT_NE(RegisterClassA(&other), 0);

    EXPECT_FALSE(CreateDefaultWindow());
    ASSERT_EQ(boxes.boxes.size(), 1u) << DescribeBoxes(boxes.boxes);
    EXPECT_EQ(boxes.boxes[0].text, "Failed To Register The Window Class.");
    EXPECT_EQ(boxes.boxes[0].caption, "ERROR");
    EXPECT_EQ(boxes.boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);

    // The class that was there is left alone, and no window was made.
    WNDCLASSA stillThere{};
    ASSERT_TRUE(GetClassInfoA(ThisModule(), className, &stillThere));
    EXPECT_EQ(stillThere.lpfnWndProc, &DefWindowProcA);
    EXPECT_EQ(FindWindowA(className, nullptr), nullptr);
    EXPECT_EQ(sceneState.hWnd, nullptr);
    UnregisterClassA(className, ThisModule());
}

// ---- Fullscreen ----

class RenderWindowFullscreen : public RenderWindow {
  protected:
    void SetUp() override {
        RenderWindow::SetUp();
        display = std::make_unique<ImportPatch>("user32.dll", "ChangeDisplaySettingsA",
                                                Address(&FakeChangeDisplaySettingsA));
        cursor =
            std::make_unique<ImportPatch>("user32.dll", "ShowCursor", Address(&FakeShowCursor));
        ASSERT_TRUE(display->patched() && cursor->patched());
    }
    void TearDown() override {
        RenderWindow::TearDown();
        display.reset();
        cursor.reset();
    }
    std::unique_ptr<ImportPatch> display;
    std::unique_ptr<ImportPatch> cursor;
};

TEST_F(RenderWindowFullscreen, ASwitchedDisplayGetsABorderlessWindowAndIsRestoredAtTeardown) {
    ASSERT_TRUE(CreateDefaultWindow(true));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(sceneState.isFullscreen);

    ASSERT_EQ(displayChanges.size(), 1u);
    const DisplayChange& change = displayChanges[0];
    ASSERT_TRUE(change.hasMode);
    EXPECT_EQ(change.flags, static_cast<DWORD>(CDS_FULLSCREEN));
    EXPECT_EQ(change.mode.dmSize, 156);
    EXPECT_EQ(change.mode.dmFields, 0x1C0000u);
    EXPECT_EQ(change.mode.dmPelsWidth, 800u);
    EXPECT_EQ(change.mode.dmPelsHeight, 600u);
    EXPECT_EQ(change.mode.dmBitsPerPel, 32u);
    EXPECT_EQ(change.mode.dmDisplayFrequency, 0u);
    EXPECT_EQ(cursorCount, -1);

    HWND window = sceneState.hWnd;
    EXPECT_EQ(WindowStyle(window),
              static_cast<LONG>(WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE));
    EXPECT_EQ(WindowExStyle(window), static_cast<LONG>(WS_EX_APPWINDOW));
    RECT frame{};
    GetWindowRect(window, &frame);
    EXPECT_EQ(frame.right - frame.left, 800);
    EXPECT_EQ(frame.bottom - frame.top, 600);

    callLog.clear();
    DestroyRenderWindow();
    ASSERT_EQ(displayChanges.size(), 2u);
    EXPECT_FALSE(displayChanges[1].hasMode);
    EXPECT_EQ(displayChanges[1].flags, 0u);
    EXPECT_EQ(cursorCount, 0);
    const std::vector<std::string> firstSteps(callLog.begin(), callLog.begin() + 2);
    EXPECT_EQ(firstSteps,
              (std::vector<std::string>{"ChangeDisplaySettingsA(restore)", "ShowCursor(TRUE)"}));
    ExpectNothingLeft();
}

TEST_F(RenderWindowFullscreen, ARefusedModeAnsweredYesOpensTheFramedWindowAndRestoresNothing) {
    displayChangeResult = DISP_CHANGE_BADMODE;
    boxes.answers = {IDYES};
    ASSERT_TRUE(CreateDefaultWindow(true));

    ASSERT_EQ(boxes.boxes.size(), 1u) << DescribeBoxes(boxes.boxes);
    EXPECT_EQ(boxes.boxes[0].text, "The Requested Fullscreen Mode Is Not Supported By\nYour Video "
                                   "Card. Use Windowed Mode Instead?");
    EXPECT_EQ(boxes.boxes[0].caption, "Vorn GL");
    EXPECT_EQ(boxes.boxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);

    EXPECT_FALSE(sceneState.isFullscreen);
    EXPECT_EQ(
        WindowStyle(sceneState.hWnd),
        static_cast<LONG>(WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VISIBLE));
    EXPECT_EQ(cursorCount, 0);

    DestroyRenderWindow();
    EXPECT_EQ(displayChanges.size(), 1u); // nothing to restore
    EXPECT_EQ(cursorCount, 0);
    ExpectNothingLeft();
}

TEST_F(RenderWindowFullscreen, ARefusedModeAnsweredNoEndsWithTheClassStillRegistered) {
    displayChangeResult = DISP_CHANGE_BADMODE;
    boxes.answers = {IDNO};
    EXPECT_FALSE(CreateDefaultWindow(true));

    ASSERT_EQ(boxes.boxes.size(), 2u) << DescribeBoxes(boxes.boxes);
    EXPECT_EQ(boxes.boxes[0].caption, "Vorn GL");
    EXPECT_EQ(boxes.boxes[1].text, "Program Will Now Close.");
    EXPECT_EQ(boxes.boxes[1].caption, "ERROR");
    EXPECT_EQ(boxes.boxes[1].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(boxes.boxes[1].owner, nullptr);

    EXPECT_TRUE(IsClassRegistered(className, ThisModule()));
    EXPECT_EQ(FindWindowA(className, nullptr), nullptr);
    EXPECT_EQ(sceneState.hWnd, nullptr);
    EXPECT_EQ(cursorCount, 0);
}

// Wine itself refuses a display mode that the virtual display does not have.
TEST_F(RenderWindow, AModeTheDisplayLacksIsRefusedForReal) {
    boxes.answers = {IDNO};
    EXPECT_FALSE(CreateRenderWindow("Tovren", 1234, 567, 32, true));
    ASSERT_EQ(boxes.boxes.size(), 2u) << DescribeBoxes(boxes.boxes);
    EXPECT_EQ(boxes.boxes[0].caption, "Vorn GL");
    EXPECT_EQ(boxes.boxes[1].text, "Program Will Now Close.");
}

// ---- Teardown failures: each is reported and every later step still runs. ----

BOOL WINAPI ReleaseButFailWglMakeCurrent(HDC dc, HGLRC context) {
    RealFunction<decltype(&wglMakeCurrent)>("opengl32.dll", "wglMakeCurrent")(dc, context);
    return context ? TRUE : FALSE;
}
BOOL WINAPI DeleteButFailWglDeleteContext(HGLRC context) {
    RealFunction<decltype(&wglDeleteContext)>("opengl32.dll", "wglDeleteContext")(context);
    return FALSE;
}
int WINAPI ReleaseButFailReleaseDC(HWND window, HDC dc) {
    RealFunction<decltype(&ReleaseDC)>("user32.dll", "ReleaseDC")(window, dc);
    return 0;
}
BOOL WINAPI DestroyButFailDestroyWindow(HWND window) {
    RealFunction<decltype(&DestroyWindow)>("user32.dll", "DestroyWindow")(window);
    return FALSE;
}
BOOL WINAPI UnregisterButFailUnregisterClassA(LPCSTR name, HINSTANCE instance) {
    RealFunction<decltype(&UnregisterClassA)>("user32.dll", "UnregisterClassA")(name, instance);
    return FALSE;
}

struct TeardownFailure {
    const char* name;
    PatchedImport failure;
    const char* text;
};

void PrintTo(const TeardownFailure& row, std::ostream* out) {
    *out << row.name;
}

class RenderWindowTeardownFailure : public RenderWindow,
                                    public ::testing::WithParamInterface<TeardownFailure> {};

TEST_P(RenderWindowTeardownFailure, IsReportedAndTheTeardownGoesOn) {
    const TeardownFailure& row = GetParam();
    ASSERT_TRUE(CreateDefaultWindow());
    {
        ImportPatch patch(row.failure.dll, row.failure.function, row.failure.replacement);
        ASSERT_TRUE(patch.patched());
        DestroyRenderWindow();
    }
    ASSERT_EQ(boxes.boxes.size(), 1u) << DescribeBoxes(boxes.boxes);
    EXPECT_EQ(boxes.boxes[0].text, row.text);
    EXPECT_EQ(boxes.boxes[0].caption, "SHUTDOWN ERROR");
    EXPECT_EQ(boxes.boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(boxes.boxes[0].owner, nullptr);
    ExpectNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, RenderWindowTeardownFailure,
    ::testing::Values(
        TeardownFailure{"wglMakeCurrent",
                        {"opengl32.dll", "wglMakeCurrent", Address(&ReleaseButFailWglMakeCurrent)},
                        "Release Of DC And RC Failed."},
        TeardownFailure{
            "wglDeleteContext",
            {"opengl32.dll", "wglDeleteContext", Address(&DeleteButFailWglDeleteContext)},
            "Release Rendering Context Failed."},
        TeardownFailure{"ReleaseDC",
                        {"user32.dll", "ReleaseDC", Address(&ReleaseButFailReleaseDC)},
                        "Release Device Context Failed."},
        TeardownFailure{"DestroyWindow",
                        {"user32.dll", "DestroyWindow", Address(&DestroyButFailDestroyWindow)},
                        "Could Not Release hWnd."},
        TeardownFailure{
            "UnregisterClassA",
            {"user32.dll", "UnregisterClassA", Address(&UnregisterButFailUnregisterClassA)},
            "Could Not Unregister Class."}),
    [](const ::testing::TestParamInfo<TeardownFailure>& param) { return param.param.name; });

// A failure that really leaves something behind: a window that will not go keeps its class
// registered, and both are reported.
BOOL WINAPI RefuseDestroyWindow(HWND) {
    return FALSE;
}

TEST_F(RenderWindow, AWindowThatWillNotGoIsReportedAndSoIsItsClass) {
    ASSERT_TRUE(CreateDefaultWindow());
    HWND window = sceneState.hWnd;
    {
        ImportPatch patch("user32.dll", "DestroyWindow", Address(&RefuseDestroyWindow));
        ASSERT_TRUE(patch.patched());
        DestroyRenderWindow();
    }
    ASSERT_EQ(boxes.boxes.size(), 2u) << DescribeBoxes(boxes.boxes);
    EXPECT_EQ(boxes.boxes[0].text, "Could Not Release hWnd.");
    EXPECT_EQ(boxes.boxes[1].text, "Could Not Unregister Class.");
    EXPECT_EQ(sceneState.hWnd, nullptr);
    EXPECT_EQ(sceneState.hRC, nullptr);
    DestroyWindow(window);
    EXPECT_TRUE(UnregisterClassA(className, ThisModule()));
}
