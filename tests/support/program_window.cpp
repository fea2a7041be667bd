#include "support/program_window.h"

#include "scene/renderer.h"
#include "shell/render_window.h"
#include "shell/settings.h"
#include "shell/state.h"

namespace {

struct PendingAction {
    UINT_PTR timer;
    void (*action)();
    int afterFrames; // 0: when the timer fires
};
std::vector<PendingAction> pendingActions;

void CALLBACK RunPendingAction(HWND, UINT, UINT_PTR timer, DWORD) {
    for (auto it = pendingActions.begin(); it != pendingActions.end(); ++it) {
        if (it->timer == timer && calls.presented.load() >= it->afterFrames) {
            KillTimer(nullptr, timer);
            void (*action)() = it->action;
            pendingActions.erase(it);
            action();
            return;
        }
    }
}

} // namespace

ProgramWindowSession::ProgramWindowSession() {
    created = replaced.installed() &&
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
    // A WM_QUIT left behind would end the next test's loop.
    DrainMessages();
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
    pendingActions.push_back(PendingAction{timer, action, 0});
}

void RunAfterFrames(int frames, void (*action)()) {
    // Looked at every 10 ms: the frames are counted as they are presented.
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, RunPendingAction);
    pendingActions.push_back(PendingAction{timer, action, frames});
}
