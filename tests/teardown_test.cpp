#include <gtest/gtest.h>

#include <windows.h>

#include <GL/gl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "scene/renderer.h"
#include "shell/render_window.h"
#include "shell/settings.h"
#include "shell/state.h"
#include "support/fault_injection.h"

// The teardown run at every point where a creation can stop, and again twice: everything that
// was acquired is released exactly once, and nothing else is.

namespace {

std::string failingStep;

struct Ledger {
    std::vector<void*> acquired;
    std::vector<void*> released;
    int classesUnregistered = 0;
};
Ledger ledger;

HWND WINAPI TrackCreateWindowExA(DWORD exStyle, LPCSTR windowClass, LPCSTR title, DWORD style,
                                 int x, int y, int width, int height, HWND parent, HMENU menu,
                                 HINSTANCE instance, LPVOID parameter) {
    if (failingStep == "CreateWindowExA") {
        return nullptr;
    }
    HWND window = RealFunction<decltype(&CreateWindowExA)>("user32.dll", "CreateWindowExA")(
        exStyle, windowClass, title, style, x, y, width, height, parent, menu, instance, parameter);
    ledger.acquired.push_back(window);
    return window;
}

HDC WINAPI TrackGetDC(HWND window) {
    if (failingStep == "GetDC") {
        return nullptr;
    }
    HDC dc = RealFunction<decltype(&GetDC)>("user32.dll", "GetDC")(window);
    ledger.acquired.push_back(dc);
    return dc;
}

int WINAPI TrackChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor) {
    if (failingStep == "ChoosePixelFormat") {
        return 0;
    }
    return RealFunction<decltype(&ChoosePixelFormat)>("gdi32.dll", "ChoosePixelFormat")(dc,
                                                                                        descriptor);
}

BOOL WINAPI TrackSetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor) {
    if (failingStep == "SetPixelFormat") {
        return FALSE;
    }
    return RealFunction<decltype(&SetPixelFormat)>("gdi32.dll", "SetPixelFormat")(dc, format,
                                                                                  descriptor);
}

HGLRC WINAPI TrackWglCreateContext(HDC dc) {
    if (failingStep == "wglCreateContext") {
        return nullptr;
    }
    HGLRC context =
        RealFunction<decltype(&wglCreateContext)>("opengl32.dll", "wglCreateContext")(dc);
    ledger.acquired.push_back(context);
    return context;
}

BOOL WINAPI TrackWglMakeCurrent(HDC dc, HGLRC context) {
    if (failingStep == "wglMakeCurrent" && context != nullptr) {
        return FALSE;
    }
    return RealFunction<decltype(&wglMakeCurrent)>("opengl32.dll", "wglMakeCurrent")(dc, context);
}

BOOL WINAPI TrackWglDeleteContext(HGLRC context) {
    ledger.released.push_back(context);
    return RealFunction<decltype(&wglDeleteContext)>("opengl32.dll", "wglDeleteContext")(context);
}

int WINAPI TrackReleaseDC(HWND window, HDC dc) {
    ledger.released.push_back(dc);
    return RealFunction<decltype(&ReleaseDC)>("user32.dll", "ReleaseDC")(window, dc);
}

BOOL WINAPI TrackDestroyWindow(HWND window) {
    ledger.released.push_back(window);
    return RealFunction<decltype(&DestroyWindow)>("user32.dll", "DestroyWindow")(window);
}

BOOL WINAPI TrackUnregisterClassA(LPCSTR name, HINSTANCE instance) {
    const BOOL done =
        RealFunction<decltype(&UnregisterClassA)>("user32.dll", "UnregisterClassA")(name, instance);
    ledger.classesUnregistered += done ? 1 : 0;
    return done;
}

template <typename Function>
const void* Address(Function function) {
    return reinterpret_cast<const void*>(function);
}

struct StopPoint {
    const char* name;
    const char* failingStep; // empty: the creation completes
};

void PrintTo(const StopPoint& stop, std::ostream* out) {
    *out << stop.name;
}

} // namespace

class TeardownAtEveryStop : public ::testing::TestWithParam<StopPoint> {
  protected:
    void SetUp() override {
        sceneState = SceneState{};
        ledger = Ledger{};
        failingStep = GetParam().failingStep;
        const std::pair<const char*, const void*> tracked[] = {
            {"CreateWindowExA", Address(&TrackCreateWindowExA)},
            {"GetDC", Address(&TrackGetDC)},
            {"ReleaseDC", Address(&TrackReleaseDC)},
            {"DestroyWindow", Address(&TrackDestroyWindow)},
            {"UnregisterClassA", Address(&TrackUnregisterClassA)},
        };
        for (const auto& [function, replacement] : tracked) {
            patches.push_back(std::make_unique<ImportPatch>("user32.dll", function, replacement));
        }
        patches.push_back(std::make_unique<ImportPatch>("gdi32.dll", "ChoosePixelFormat",
                                                        Address(&TrackChoosePixelFormat)));
        patches.push_back(std::make_unique<ImportPatch>("gdi32.dll", "SetPixelFormat",
                                                        Address(&TrackSetPixelFormat)));
        patches.push_back(std::make_unique<ImportPatch>("opengl32.dll", "wglCreateContext",
                                                        Address(&TrackWglCreateContext)));
        patches.push_back(std::make_unique<ImportPatch>("opengl32.dll", "wglMakeCurrent",
                                                        Address(&TrackWglMakeCurrent)));
        patches.push_back(std::make_unique<ImportPatch>("opengl32.dll", "wglDeleteContext",
                                                        Address(&TrackWglDeleteContext)));
        for (const auto& patch : patches) {
            ASSERT_TRUE(patch->patched());
        }
    }

    void TearDown() override {
        patches.clear();
        failingStep.clear();
        sceneState = SceneState{};
        UnregisterClassA("OpenGL", GetModuleHandleA(nullptr));
    }

    MessageBoxRecorder boxes;
    std::vector<std::unique_ptr<ImportPatch>> patches;
};

TEST_P(TeardownAtEveryStop, ReleasesEverythingOnceAndASecondTeardownNothing) {
    const bool completes = *GetParam().failingStep == '\0';
    const bool created =
        CreateRenderWindow(StartupSettings::windowTitle, StartupSettings::windowWidth,
                           StartupSettings::windowHeight, StartupSettings::colorBits, false);
    EXPECT_EQ(created, completes);
    if (created) {
        InitGL(); // the field exists too
        ASSERT_NE(sceneState.pointField, nullptr);
        DestroyRenderWindow();
    }
    const std::size_t releasesAfterFirst = ledger.released.size();
    DestroyRenderWindow();
    DestroyRenderWindow();

    EXPECT_EQ(ledger.released.size(), releasesAfterFirst) << "a later teardown released again";
    for (void* handle : ledger.acquired) {
        EXPECT_EQ(std::count(ledger.released.begin(), ledger.released.end(), handle), 1)
            << "handle " << handle << " of " << ledger.acquired.size();
    }
    EXPECT_EQ(ledger.released.size(), ledger.acquired.size()) << "released what was not acquired";
    EXPECT_EQ(ledger.classesUnregistered, 1);

    EXPECT_EQ(FindWindowA("OpenGL", nullptr), nullptr);
    EXPECT_FALSE(IsClassRegistered("OpenGL", GetModuleHandleA(nullptr)));
    EXPECT_EQ(wglGetCurrentContext(), nullptr);
    EXPECT_EQ(sceneState.pointField, nullptr);
    EXPECT_EQ(sceneState.hWnd, nullptr);
    EXPECT_EQ(sceneState.hDC, nullptr);
    EXPECT_EQ(sceneState.hRC, nullptr);
    EXPECT_EQ(sceneState.hInstance, nullptr);

    // Only the creation failure itself is reported; no teardown step failed.
    EXPECT_EQ(boxes.boxes.size(), completes ? 0u : 1u) << DescribeBoxes(boxes.boxes);
    for (const RecordedMessageBox& box : boxes.boxes) {
        EXPECT_EQ(box.caption, "ERROR");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Creation, TeardownAtEveryStop,
    ::testing::Values(StopPoint{"AfterTheClass", "CreateWindowExA"},
                      StopPoint{"AfterTheWindow", "GetDC"},
                      StopPoint{"AfterTheDeviceContext", "ChoosePixelFormat"},
                      StopPoint{"AfterChoosingThePixelFormat", "SetPixelFormat"},
                      StopPoint{"AfterSettingThePixelFormat", "wglCreateContext"},
                      StopPoint{"AfterTheContext", "wglMakeCurrent"},
                      StopPoint{"AfterTheWholeCreation", ""}),
    [](const ::testing::TestParamInfo<StopPoint>& param) { return std::string(param.param.name); });
