#include "support/program_window.h"

#include <algorithm>

#include "scene/renderer.h"
#include "shell/frame_pacing.h"
#include "shell/render_window.h"
#include "shell/settings.h"
#include "shell/state.h"

namespace {

// Actions waiting for their condition, looked at every 10 ms from inside the message loop.
std::vector<std::pair<std::function<bool()>, std::function<void()>>> pendingActions;
UINT_PTR pendingTimer = 0;

void CALLBACK RunDueActions(HWND, UINT, UINT_PTR, DWORD) {
    for (auto it = pendingActions.begin(); it != pendingActions.end(); ++it) {
        if (it->first()) {
            const std::function<void()> action = it->second;
            pendingActions.erase(it);
            action();
            return;
        }
    }
}

const PacingClock realClock = pacingClock;

bool CountedSleep(HANDLE timer, double seconds) {
    ++calls.timedWaits;
    return realClock.sleep(timer, seconds);
}

} // namespace

ProgramWindowSession::ProgramWindowSession() {
    pacingClock.sleep = CountedSleep;
    created = CreateRenderWindow(StartupSettings::windowTitle, StartupSettings::windowWidth,
                                 StartupSettings::windowHeight, StartupSettings::colorBits, false);
    if (created) {
        InitGL();
    }
}

ProgramWindowSession::~ProgramWindowSession() {
    KillTimer(nullptr, pendingTimer);
    pendingTimer = 0;
    pendingActions.clear();
    DestroyRenderWindow();
    StopFramePacing();
    pacingClock = realClock;
    // A WM_QUIT left behind would end the next test's loop.
    PumpMessagesFor(0);
}

std::vector<SpritePoint> CopyPointField() {
    const SpritePoint* field = sceneState.pointField.get();
    if (!field) {
        return {};
    }
    return std::vector<SpritePoint>(field, field + StartupSettings::pointCount);
}

void RunWhen(std::function<bool()> condition, std::function<void()> action) {
    if (pendingTimer == 0) {
        pendingTimer = SetTimer(nullptr, 0, 10, RunDueActions);
    }
    pendingActions.emplace_back(std::move(condition), std::move(action));
}

void RunLater(UINT milliseconds, std::function<void()> action) {
    const double due = SecondsNow() + milliseconds / 1000.0;
    RunWhen([due] { return SecondsNow() >= due; }, std::move(action));
}

void RunAfterFrames(int frames, std::function<void()> action) {
    RunWhen([frames] { return calls.presented.load() >= frames; }, std::move(action));
}

namespace {

double simulatedNow = 0.0;
std::vector<std::pair<double, std::function<void()>>> timedActions;

void AdvanceTo(double seconds) {
    simulatedNow = std::max(simulatedNow, seconds);
    while (!timedActions.empty() && timedActions.front().first <= simulatedNow) {
        const std::function<void()> action = timedActions.front().second;
        timedActions.erase(timedActions.begin());
        action();
    }
}

} // namespace

SimulatedClock::SimulatedClock() {
    simulatedNow = 1000.0;
    pacingClock.now = Now;
    fakes.now = Now;
    fakes.waitUntil = AdvanceTo;
}

SimulatedClock::~SimulatedClock() {
    timedActions.clear();
    pacingClock.now = realClock.now;
}

double SimulatedClock::Now() {
    return simulatedNow;
}

void SimulatedClock::At(double seconds, std::function<void()> action) {
    const auto later = std::find_if(timedActions.begin(), timedActions.end(),
                                    [&](const auto& timed) { return timed.first > seconds; });
    timedActions.insert(later, {seconds, std::move(action)});
}
