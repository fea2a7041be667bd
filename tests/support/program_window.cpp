#include "support/program_window.h"

#include "scene/renderer.h"
#include "shell/render_window.h"
#include "shell/settings.h"
#include "shell/state.h"

std::atomic<int> presentedFrames{0};

namespace {

BOOL WINAPI CountSwapBuffers(HDC dc) {
    ++presentedFrames;
    return RealFunction<BOOL(WINAPI*)(HDC)>("gdi32.dll", "SwapBuffers")(dc);
}

struct PendingAction {
    UINT_PTR timer;
    void (*action)();
};
std::vector<PendingAction> pendingActions;

void CALLBACK RunPendingAction(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    for (auto it = pendingActions.begin(); it != pendingActions.end(); ++it) {
        if (it->timer == timer) {
            void (*action)() = it->action;
            pendingActions.erase(it);
            action();
            return;
        }
    }
}

} // namespace

ProgramWindowSession::ProgramWindowSession() {
    sceneState = SceneState{};
    presentedFrames = 0;
    swapCounter = std::make_unique<ImportPatch>("gdi32.dll", "SwapBuffers",
                                                reinterpret_cast<const void*>(&CountSwapBuffers));
    created = swapCounter->patched() &&
              CreateRenderWindow(StartupSettings::windowTitle, StartupSettings::windowWidth,
                                 StartupSettings::windowHeight, StartupSettings::colorBits, false);
    if (created) {
        InitGL();
    }
}

ProgramWindowSession::~ProgramWindowSession() {
    for (const PendingAction& pending : pendingActions) {
        KillTimer(nullptr, pending.timer);
    }
    pendingActions.clear();
    DestroyRenderWindow();
    sceneState = SceneState{};
    // A WM_QUIT left behind would end the next test's loop.
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

std::vector<SpritePoint> CopyPointField() {
    const SpritePoint* field = sceneState.pointField.get();
    if (!field) {
        return {};
    }
    return std::vector<SpritePoint>(field, field + StartupSettings::pointCount);
}

void RunLater(UINT milliseconds, void (*action)()) {
    const UINT_PTR timer = SetTimer(nullptr, 0, milliseconds, RunPendingAction);
    pendingActions.push_back(PendingAction{timer, action});
}
