#include "support/replacements.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <type_traits>

#include "scene/system_libraries.h"
#include "shell/state.h"

Calls calls;
Fakes fakes;

const std::vector<const char*> windowCalls = {
    "CreateWindowExA",  "GetDC",      "ChoosePixelFormat",   "SetPixelFormat",  "wglCreateContext",
    "wglMakeCurrent",   "ShowWindow", "SetForegroundWindow", "SetFocus",        "glViewport",
    "wglDeleteContext", "ReleaseDC",  "DestroyWindow",       "UnregisterClassA"};

namespace {

// ---- Fakes: what stands in for a function that must not act for real ----

LONG WINAPI FakeChangeDisplaySettingsA(DEVMODEA* mode, DWORD) {
    if (mode != nullptr) {
        calls.displayModes.push_back(*mode);
    }
    return DISP_CHANGE_SUCCESSFUL;
}

int WINAPI FakeShowCursor(BOOL show) {
    return fakes.cursorCount += show ? 1 : -1;
}

int WINAPI FakeMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    calls.boxes.push_back(
        RecordedMessageBox{owner, text ? text : "", caption ? caption : "", type});
    if (fakes.onBox) {
        fakes.onBox(calls.boxes.back());
    }
    const std::size_t index = calls.boxes.size() - 1;
    return index < fakes.boxAnswers.size() ? fakes.boxAnswers[index] : IDOK;
}

LRESULT WINAPI FakeDefWindowProcA(HWND, UINT, WPARAM, LPARAM) {
    return fakes.defaultProcResult;
}

BOOL WINAPI FakeAdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle) {
    const BOOL done = RealFunction<decltype(&::AdjustWindowRectEx)>(
        "user32.dll", "AdjustWindowRectEx")(rect, style, menu, exStyle);
    rect->right -= fakes.thinnerFrame.cx;
    rect->bottom -= fakes.thinnerFrame.cy;
    return done;
}

// ---- Monitors ----

const FakeMonitor* MonitorNamed(const char* device) {
    for (const FakeMonitor& monitor : fakes.monitors) {
        if (device == nullptr || std::strcmp(monitor.device, device) == 0) {
            return &monitor; // no name: the primary, listed first
        }
    }
    return nullptr;
}

HMONITOR MonitorHandle(int index) {
    return reinterpret_cast<HMONITOR>(static_cast<std::intptr_t>(index + 1));
}

// The program's window is on `windowMonitor`; any other window, or none, on the primary.
HMONITOR WINAPI FakeMonitorFromWindow(HWND window, DWORD flags) {
    if (window != nullptr && window == sceneState.hWnd) {
        return MonitorHandle(fakes.windowMonitor);
    }
    return flags == MONITOR_DEFAULTTONULL ? nullptr : MonitorHandle(0);
}

BOOL WINAPI FakeGetMonitorInfoA(HMONITOR monitor, MONITORINFO* info) {
    const auto index = reinterpret_cast<std::intptr_t>(monitor) - 1;
    if (index < 0 || index >= static_cast<std::intptr_t>(fakes.monitors.size())) {
        return FALSE;
    }
    std::strcpy(reinterpret_cast<MONITORINFOEXA*>(info)->szDevice, fakes.monitors[index].device);
    return TRUE;
}

// A faked monitor's mode is the fake's alone; with none faked, the real display answers.
BOOL WINAPI FakeEnumDisplaySettingsA(LPCSTR device, DWORD mode, DEVMODEA* devMode) {
    const FakeMonitor* monitor = MonitorNamed(device);
    if (monitor == nullptr) {
        return RealFunction<decltype(&::EnumDisplaySettingsA)>(
            "user32.dll", "EnumDisplaySettingsA")(device, mode, devMode);
    }
    devMode->dmFields = DM_DISPLAYFREQUENCY;
    devMode->dmDisplayFrequency = monitor->wholeHz;
    return TRUE;
}

LONG WINAPI FakeGetDisplayConfigBufferSizes(UINT32, UINT32* paths, UINT32* modes) {
    *paths = static_cast<UINT32>(fakes.monitors.size());
    *modes = *paths;
    return ERROR_SUCCESS;
}

// Every monitor shows 1080 lines of 1125 (the blank's 45 lines after them).
constexpr UINT visibleLines = 1080;
constexpr UINT totalLines = 1125;

// One path per monitor, its source id the monitor's index, with its target mode.
LONG WINAPI FakeQueryDisplayConfig(UINT32, UINT32* pathCount, DISPLAYCONFIG_PATH_INFO* paths,
                                   UINT32* modeCount, DISPLAYCONFIG_MODE_INFO* modes,
                                   DISPLAYCONFIG_TOPOLOGY_ID*) {
    *pathCount = static_cast<UINT32>(fakes.monitors.size());
    *modeCount = *pathCount;
    for (UINT32 i = 0; i < *pathCount; ++i) {
        paths[i] = DISPLAYCONFIG_PATH_INFO{};
        paths[i].sourceInfo.id = i;
        paths[i].targetInfo.modeInfoIdx = i;
        paths[i].targetInfo.refreshRate = {fakes.monitors[i].exactNumerator,
                                           fakes.monitors[i].exactDenominator};
        modes[i] = DISPLAYCONFIG_MODE_INFO{};
        modes[i].infoType = DISPLAYCONFIG_MODE_INFO_TYPE_TARGET;
        DISPLAYCONFIG_VIDEO_SIGNAL_INFO& signal = modes[i].targetMode.targetVideoSignalInfo;
        signal.activeSize = {1920, visibleLines};
        signal.totalSize = {2200, totalLines};
        signal.scanLineOrdering = DISPLAYCONFIG_SCANLINE_ORDERING_PROGRESSIVE;
    }
    return ERROR_SUCCESS;
}

LONG WINAPI FakeDisplayConfigGetDeviceInfo(DISPLAYCONFIG_DEVICE_INFO_HEADER* header) {
    auto* source = reinterpret_cast<DISPLAYCONFIG_SOURCE_DEVICE_NAME*>(header);
    const char* device = fakes.monitors.at(header->id).device;
    for (std::size_t i = 0; i <= std::strlen(device); ++i) {
        source->viewGdiDeviceName[i] = static_cast<WCHAR>(device[i]);
    }
    return ERROR_SUCCESS;
}

// ---- What the program can learn of the blanks ----

double FakeNow() {
    return fakes.now ? fakes.now() : SecondsNow();
}

// How late timers wake, how far off blanks are read, how long swaps take: the same every run.
std::minstd_rand untidy;
double Untidy(double from, double to) {
    return from + (to - from) * (untidy() - 1.0) / (std::minstd_rand::max() - 1);
}

double ActualHz(const FakeMonitor& monitor) {
    if (monitor.actualHz > 0.0) {
        return monitor.actualHz;
    }
    return monitor.exactNumerator != 0
               ? static_cast<double>(monitor.exactNumerator) / monitor.exactDenominator
               : monitor.wholeHz;
}

// The monitor's latest blank at or before `seconds`.
double LatestBlankOf(const FakeMonitor& monitor, double seconds) {
    const double period = 1.0 / ActualHz(monitor);
    return monitor.firstBlank + std::floor((seconds - monitor.firstBlank) / period) * period;
}

bool BlanksStopped(double now) {
    return fakes.blanksStopAt > 0.0 && now >= fakes.blanksStopAt;
}

constexpr LONG statusInvalidParameter = static_cast<LONG>(0xC000000D);

// Each monitor its own output: the adapter handle 0x40 plus its index, the source its index.
LONG WINAPI FakeD3DKMTOpenAdapterFromGdiDisplayName(KmtOpenAdapterFromGdiDisplayName* output) {
    for (std::size_t i = 0; fakes.scanLines && i < fakes.monitors.size(); ++i) {
        const char* device = fakes.monitors[i].device;
        std::size_t at = 0;
        while (device[at] != 0 && output->DeviceName[at] == static_cast<WCHAR>(device[at])) {
            ++at;
        }
        if (device[at] == 0 && output->DeviceName[at] == 0) {
            output->hAdapter = static_cast<UINT>(0x40 + i);
            output->VidPnSourceId = static_cast<UINT>(i);
            ++calls.openOutputs;
            return 0;
        }
    }
    return statusInvalidParameter;
}

LONG WINAPI FakeD3DKMTGetScanLine(KmtGetScanLine* query) {
    const double now = FakeNow();
    const UINT index = query->VidPnSourceId;
    if (query->hAdapter != 0x40 + index || index >= fakes.monitors.size() || BlanksStopped(now)) {
        return statusInvalidParameter;
    }
    const FakeMonitor& monitor = fakes.monitors[index];
    const double seen = now + Untidy(-0.0002, 0.0002);
    const double sinceBlank = (seen - LatestBlankOf(monitor, seen)) * ActualHz(monitor);
    query->ScanLine = (visibleLines + static_cast<UINT>(sinceBlank * totalLines)) % totalLines;
    query->InVerticalBlank = query->ScanLine >= visibleLines;
    return 0;
}

LONG WINAPI FakeD3DKMTCloseAdapter(const KmtCloseAdapter*) {
    --calls.openOutputs;
    return 0;
}

// The compositor runs at the primary monitor's rate, as on Windows 7 to 10.
HRESULT WINAPI FakeDwmGetCompositionTimingInfo(HWND window, DWM_TIMING_INFO* info) {
    if (window != nullptr || info->cbSize != sizeof(DWM_TIMING_INFO)) {
        return E_INVALIDARG; // as Windows 8.1 and later
    }
    if (!fakes.compositorClock || fakes.monitors.empty()) {
        return static_cast<HRESULT>(0x80263001); // DWM_E_COMPOSITIONDISABLED
    }
    const FakeMonitor& primary = fakes.monitors[0];
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const auto ticks = [&](double seconds) {
        return static_cast<QPC_TIME>(seconds * static_cast<double>(frequency.QuadPart));
    };
    *info = DWM_TIMING_INFO{};
    info->cbSize = sizeof(DWM_TIMING_INFO);
    info->rateRefresh = primary.exactNumerator != 0
                            ? UNSIGNED_RATIO{primary.exactNumerator, primary.exactDenominator}
                            : UNSIGNED_RATIO{primary.wholeHz, 1};
    info->qpcRefreshPeriod = ticks(1.0 / ActualHz(primary));
    const double now = FakeNow();
    // Each blank a little off, and now and then the coming one.
    const double blank = LatestBlankOf(primary, BlanksStopped(now) ? fakes.blanksStopAt : now) +
                         (Untidy(0, 1) < 0.1 ? 1.0 / ActualHz(primary) : 0.0);
    info->qpcVBlank = ticks(blank + Untidy(-0.0002, 0.0002));
    return S_OK;
}

// The pacing's timer, on the simulated clock only: it wakes up to 1.5 ms late, and, as Wine's
// does, setting it again leaves an auto-reset timer that came due while nobody waited signalled.
struct FakeTimer {
    bool manualReset = false;
    double due = HUGE_VAL; // signalled once it has passed
} timer;

HANDLE WINAPI FakeCreateWaitableTimerExW(SECURITY_ATTRIBUTES* attributes, LPCWSTR name, DWORD flags,
                                         DWORD access) {
    timer = FakeTimer{(flags & 0x1) != 0}; // CREATE_WAITABLE_TIMER_MANUAL_RESET
    return RealFunction<decltype(&::CreateWaitableTimerExW)>(
        "kernel32.dll", "CreateWaitableTimerExW")(attributes, name, flags, access);
}

BOOL WINAPI FakeSetWaitableTimer(HANDLE, const LARGE_INTEGER* due, LONG, PTIMERAPCROUTINE, void*,
                                 BOOL) {
    if (timer.manualReset || FakeNow() < timer.due) {
        timer.due = FakeNow() - static_cast<double>(due->QuadPart) / 1e7 + Untidy(0, 0.0015);
    }
    return TRUE;
}

DWORD WINAPI FakeMsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all,
                                           DWORD milliseconds, DWORD wakeMask) {
    constexpr DWORD touchAndPen = 0x0800 | 0x1000; // QS_TOUCH | QS_POINTER
    if (fakes.refusesTouchWake && (wakeMask & touchAndPen) != 0) {
        ++calls.refusedWakes;
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    if (fakes.waitUntil == nullptr || count != 1) {
        return RealFunction<decltype(&::MsgWaitForMultipleObjects)>(
            "user32.dll", "MsgWaitForMultipleObjects")(count, handles, all, milliseconds, wakeMask);
    }
    fakes.waitUntil(std::min(timer.due, FakeNow() + milliseconds / 1000.0));
    if (FakeNow() < timer.due) {
        return WAIT_TIMEOUT;
    }
    timer.due = HUGE_VAL;
    return WAIT_OBJECT_0;
}

// ---- The display behind SwapBuffers ----

struct Display {
    double nextBlank = 0.0;
    int queued = 0;   // frames that the display that queues them has yet to show
    int finished = 0; // frames the compositor has received since its last blank
};
Display display;

void FakeWaitUntil(double seconds) {
    if (fakes.waitUntil) {
        fakes.waitUntil(seconds);
        return;
    }
    while (SecondsNow() < seconds) {
        Sleep(seconds - SecondsNow() > 0.002 ? 1 : 0);
    }
}

// Shows one queued frame at each blank up to `until`; a blank with none repeats the last one.
void ShowQueuedFrames(double until, double period) {
    for (; display.nextBlank <= until; display.nextBlank += period) {
        if (display.queued > 0) {
            --display.queued;
        } else {
            ++calls.repeatedRefreshes;
        }
    }
}

// At each blank of the window's monitor up to `until` the compositor shows the newest frame it
// has: the others are never shown, and a blank with none repeats the last one.
void ComposeUntil(double until) {
    const FakeMonitor& monitor = fakes.monitors.at(fakes.windowMonitor);
    const double period = 1.0 / ActualHz(monitor);
    if (display.nextBlank == 0.0) {
        display.nextBlank = LatestBlankOf(monitor, until) + period;
    }
    for (; display.nextBlank <= until; display.nextBlank += period) {
        if (display.finished == 0) {
            ++calls.repeatedRefreshes;
        }
        calls.neverShown += std::max(display.finished - 1, 0);
        display.finished = 0;
    }
}

BOOL WINAPI FakeSwapBuffers(HDC dc) {
    ++calls.presented;
    if (fakes.composited) {
        ComposeUntil(FakeNow()); // the frame is the compositor's as the swap begins
        ++display.finished;
        FakeWaitUntil(FakeNow() + fakes.swapCost * Untidy(1, 1.5));
        return TRUE;
    }
    if (fakes.swapHz == 0.0) {
        const double begun = SecondsNow();
        const BOOL done = RealFunction<decltype(&::SwapBuffers)>("gdi32.dll", "SwapBuffers")(dc);
        static int inARow = 0; // the program lets go of its pacing after three in a row
        inARow = SecondsNow() - begun >= fakes.waitingSwap ? inARow + 1 : 0;
        calls.waitingSwaps += inARow == 3 ? 1 : 0;
        return done;
    }
    const double now = FakeNow();
    if (fakes.swapHz < 0.0 || now < fakes.swapWaitsFrom) {
        FakeWaitUntil(now + fakes.swapCost * Untidy(1, 1.5)); // a display that does not wait
        return TRUE;
    }
    const double period = 1.0 / fakes.swapHz;
    if (display.nextBlank == 0.0) {
        display.nextBlank = (std::floor(now / period) + 1.0) * period;
    }
    ShowQueuedFrames(now, period);
    if (++display.queued > fakes.queue) {
        FakeWaitUntil(display.nextBlank); // the queue is full: until the next blank takes one
        ShowQueuedFrames(display.nextBlank, period);
    }
    return TRUE;
}

// ---- Planned failures ----

struct PlannedFailure {
    std::string function;
    int callsToGo; // this many more calls pass; the last of them fails
    bool everyCall;
    Fault fault;
    std::intptr_t failure;
    bool fired = false;
};
std::vector<PlannedFailure> plannedFailures;

// Counts the call against its planned failure: the plan when this call is the one to fail.
const PlannedFailure* FailureOf(const char* function) {
    for (PlannedFailure& planned : plannedFailures) {
        if (planned.function != function || (planned.fired && !planned.everyCall)) {
            continue;
        }
        if (planned.everyCall || --planned.callsToGo == 0) {
            planned.fired = true;
            return &planned;
        }
    }
    return nullptr;
}

// ---- The pass-through: one template for every function ----

struct Replaceable {
    const char* dll;
    const char* name;
    void* fake;           // stands in for the real function, or null
    void* next = nullptr; // while installed: the fake, or the real function
    void* original = nullptr;
    void** slot = nullptr; // where the pass-through is installed
    int installs = 0;
};

template <typename Value>
std::intptr_t AsNumber(Value value) {
    if constexpr (std::is_pointer_v<Value>) {
        return reinterpret_cast<std::intptr_t>(value);
    } else {
        return static_cast<std::intptr_t>(value);
    }
}

template <typename Value>
void RecordArgument(Call& call, Value value) {
    call.args.push_back(AsNumber(value));
    if constexpr (std::is_same_v<Value, const char*>) {
        if (call.text.empty() && !IS_INTRESOURCE(value) && value != nullptr) {
            call.text = value;
        }
    }
    if constexpr (std::is_same_v<Value, const PIXELFORMATDESCRIPTOR*>) {
        calls.requestedFormats.push_back(*value);
    }
}

template <Replaceable& replaced, typename Result, typename... Args>
Result WINAPI PassThrough(Args... args) {
    Call call{replaced.name, {}, {}, 0};
    (RecordArgument(call, args), ...);
    const std::size_t entry = calls.log.size();
    if (calls.recording) {
        calls.log.push_back(call);
    }
    const PlannedFailure* planned = FailureOf(replaced.name);
    const auto handOn = reinterpret_cast<Result(WINAPI*)(Args...)>(replaced.next);
    if constexpr (std::is_void_v<Result>) {
        if (planned == nullptr || planned->fault == Fault::AfterDoing) {
            handOn(args...);
        }
    } else {
        Result result{};
        if (planned != nullptr && planned->fault == Fault::Refuse) {
            SetLastError(ERROR_INVALID_PARAMETER);
        } else {
            result = handOn(args...);
        }
        if (planned != nullptr) {
            if constexpr (std::is_pointer_v<Result>) {
                result = reinterpret_cast<Result>(planned->failure);
            } else {
                result = static_cast<Result>(planned->failure);
            }
        }
        if (calls.recording) {
            calls.log[entry].result = AsNumber(result);
        }
        return result;
    }
}

template <Replaceable& replaced, typename Result, typename... Args>
void* PassThroughFor(Result(WINAPI*)(Args...)) {
    return reinterpret_cast<void*>(&PassThrough<replaced, Result, Args...>);
}

template <typename Function>
void* FakeAddress(Function fake) {
    return reinterpret_cast<void*>(fake);
}

// Every function the layer can stand in for, with its fake where it has one. The name is the
// program's own: an opengl32, glu32 or winmm name stands for the table's slot.
#define TOVREN_REPLACEABLE(X)                                                                      \
    X("user32.dll", CreateWindowExA, nullptr)                                                      \
    X("user32.dll", GetDC, nullptr)                                                                \
    X("user32.dll", ShowWindow, nullptr)                                                           \
    X("user32.dll", SetForegroundWindow, nullptr)                                                  \
    X("user32.dll", SetFocus, nullptr)                                                             \
    X("user32.dll", ReleaseDC, nullptr)                                                            \
    X("user32.dll", DestroyWindow, nullptr)                                                        \
    X("user32.dll", UnregisterClassA, nullptr)                                                     \
    X("user32.dll", AdjustWindowRectEx, &FakeAdjustWindowRectEx)                                   \
    X("user32.dll", ChangeDisplaySettingsA, &FakeChangeDisplaySettingsA)                           \
    X("user32.dll", ShowCursor, &FakeShowCursor)                                                   \
    X("user32.dll", MessageBoxA, &FakeMessageBoxA)                                                 \
    X("user32.dll", DefWindowProcA, &FakeDefWindowProcA)                                           \
    X("user32.dll", EnumDisplaySettingsA, &FakeEnumDisplaySettingsA)                               \
    X("user32.dll", MonitorFromWindow, &FakeMonitorFromWindow)                                     \
    X("user32.dll", GetMonitorInfoA, &FakeGetMonitorInfoA)                                         \
    X("user32.dll", GetDisplayConfigBufferSizes, &FakeGetDisplayConfigBufferSizes)                 \
    X("user32.dll", QueryDisplayConfig, &FakeQueryDisplayConfig)                                   \
    X("user32.dll", DisplayConfigGetDeviceInfo, &FakeDisplayConfigGetDeviceInfo)                   \
    X("user32.dll", MsgWaitForMultipleObjects, &FakeMsgWaitForMultipleObjects)                     \
    X("kernel32.dll", LoadLibraryExA, nullptr)                                                     \
    X("kernel32.dll", CreateWaitableTimerExW, &FakeCreateWaitableTimerExW)                         \
    X("kernel32.dll", SetWaitableTimer, &FakeSetWaitableTimer)                                     \
    X("gdi32.dll", ChoosePixelFormat, nullptr)                                                     \
    X("gdi32.dll", SetPixelFormat, nullptr)                                                        \
    X("gdi32.dll", SwapBuffers, &FakeSwapBuffers)                                                  \
    X("gdi32.dll", D3DKMTOpenAdapterFromGdiDisplayName, &FakeD3DKMTOpenAdapterFromGdiDisplayName)  \
    X("gdi32.dll", D3DKMTGetScanLine, &FakeD3DKMTGetScanLine)                                      \
    X("gdi32.dll", D3DKMTCloseAdapter, &FakeD3DKMTCloseAdapter)                                    \
    X("dwmapi.dll", DwmGetCompositionTimingInfo, &FakeDwmGetCompositionTimingInfo)                 \
    X("opengl32.dll", wglCreateContext, nullptr)                                                   \
    X("opengl32.dll", wglMakeCurrent, nullptr)                                                     \
    X("opengl32.dll", wglDeleteContext, nullptr)                                                   \
    X("opengl32.dll", wglGetProcAddress, nullptr)                                                  \
    X("opengl32.dll", glViewport, nullptr)                                                         \
    X("winmm.dll", timeBeginPeriod, nullptr)                                                       \
    X("winmm.dll", timeEndPeriod, nullptr)

// `name` is the table's slot where the program's header redirects it, so its type is the slot's.
#define TOVREN_DEFINE(dll, name, fake)                                                             \
    Replaceable name##Replaceable{dll, #name, FakeAddress<std::decay_t<decltype(name)>>(fake)};
TOVREN_REPLACEABLE(TOVREN_DEFINE)
#undef TOVREN_DEFINE

struct Installable {
    Replaceable* replaceable;
    void* passThrough;
};
#define TOVREN_LIST(dll, name, fake)                                                               \
    Installable{&name##Replaceable, PassThroughFor<name##Replaceable>(name)},
const Installable installable[] = {TOVREN_REPLACEABLE(TOVREN_LIST)};
#undef TOVREN_LIST

const Installable* Find(const char* function) {
    for (const Installable& candidate : installable) {
        if (std::strcmp(candidate.replaceable->name, function) == 0) {
            return &candidate;
        }
    }
    return nullptr;
}

template <typename T>
T* AtRva(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

// The program's table slot of the function, or else the test executable's import slot: the
// program's objects are linked into it, so its calls to user32, gdi32 and kernel32 go through
// there.
void** SlotOf(const char* dll, const char* function) {
    for (const SystemEntryPoint& entry : systemEntryPoints) {
        if (std::strcmp(entry.name, function) == 0) {
            return entry.slot;
        }
    }
    HMODULE module = GetModuleHandleA(nullptr);
    const auto* nt = AtRva<IMAGE_NT_HEADERS>(
        module, static_cast<DWORD>(reinterpret_cast<IMAGE_DOS_HEADER*>(module)->e_lfanew));
    const DWORD imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (auto* descriptor = AtRva<IMAGE_IMPORT_DESCRIPTOR>(module, imports);
         imports != 0 && descriptor->Name != 0; ++descriptor) {
        if (_stricmp(AtRva<char>(module, descriptor->Name), dll) != 0) {
            continue;
        }
        auto* names = AtRva<IMAGE_THUNK_DATA>(module, descriptor->OriginalFirstThunk);
        auto* addresses = AtRva<IMAGE_THUNK_DATA>(module, descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            const auto* byName =
                AtRva<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&addresses->u1.Function);
            }
        }
    }
    return nullptr;
}

void WriteSlot(void** slot, void* value) {
    DWORD oldProtection = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &oldProtection);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), oldProtection, &oldProtection);
}

} // namespace

namespace {

void Install(const char* function, std::vector<const char*>& installed) {
    const Installable* entry = Find(function);
    Replaceable* replaced = entry != nullptr ? entry->replaceable : nullptr;
    void** slot = replaced != nullptr ? SlotOf(replaced->dll, function) : nullptr;
    // Fatal: the body of a test whose fixture could not replace a function does not run (a
    // message box left real would wait for a click).
    ASSERT_NE(slot, nullptr) << "cannot replace " << function << " in this executable";
    if (replaced->installs++ == 0) { // a function replaced twice is passed through once
        replaced->slot = slot;
        replaced->original = *slot;
        replaced->next = replaced->fake != nullptr ? replaced->fake : *slot;
        WriteSlot(slot, entry->passThrough);
    }
    installed.push_back(function);
}

} // namespace

Replacements::Replacements(const std::vector<const char*>& functions) {
    for (const char* function : functions) {
        Install(function, names);
    }
}

Replacements::~Replacements() {
    for (const char* function : names) {
        Replaceable* replaced = Find(function)->replaceable;
        if (--replaced->installs == 0) {
            WriteSlot(replaced->slot, replaced->original);
        }
    }
}

void FailAt(const char* function, int call, Fault fault, std::intptr_t failure) {
    if (Find(function) == nullptr) {
        ADD_FAILURE() << "FailAt: " << function << " is not a function the layer can fail";
        return;
    }
    // A new plan for the same function takes the place of one that has fired.
    for (auto planned = plannedFailures.begin(); planned != plannedFailures.end(); ++planned) {
        if (planned->function == function) {
            EXPECT_TRUE(planned->fired) << "the planned failure of " << function << " never fired";
            plannedFailures.erase(planned);
            break;
        }
    }
    plannedFailures.push_back(PlannedFailure{function, call, call == 0, fault, failure});
}

namespace {

void ResetEverything() {
    for (const PlannedFailure& planned : plannedFailures) {
        EXPECT_TRUE(planned.fired)
            << "the planned failure of " << planned.function << " never fired";
    }
    plannedFailures.clear();
    calls.log.clear();
    calls.recording = true;
    calls.requestedFormats.clear();
    calls.displayModes.clear();
    calls.boxes.clear();
    calls.presented = 0;
    calls.timedWaits = 0;
    calls.repeatedRefreshes = 0;
    calls.neverShown = 0;
    calls.openOutputs = 0;
    calls.refusedWakes = 0;
    calls.waitingSwaps = 0;
    fakes = Fakes{};
    display = Display{};
    timer = FakeTimer{};
    untidy.seed();
    sceneState = SceneState{};
}

} // namespace

void SettleDisplay() {
    if (fakes.composited) {
        ComposeUntil(FakeNow());
    }
}

FreshState::FreshState() {
    ResetEverything();
}

FreshState::~FreshState() {
    ResetEverything();
}

namespace {

std::string recordedClass;
std::vector<SentMessage> recordedMessages;
HHOOK recorderHook = nullptr;

LRESULT CALLBACK RecordSentMessage(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    char className[64] = {};
    if (code == HC_ACTION && GetClassNameA(sent->hwnd, className, sizeof(className)) &&
        recordedClass == className) {
        for (const SentMessage& recorded : recordedMessages) {
            if (recorded.message == sent->message) {
                calls.log.push_back(
                    Call{recorded.name, {AsNumber(sent->wParam), AsNumber(sent->lParam)}, {}, 0});
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::string Describe(const std::string& function, const std::vector<std::intptr_t>& args) {
    std::ostringstream text;
    text << function << "(";
    for (std::size_t i = 0; i < args.size(); ++i) {
        text << (i > 0 ? ", " : "");
        if (args[i] == any) {
            text << "any";
        } else {
            text << args[i];
        }
    }
    return text.str() + ")";
}

bool Matches(const Call& call, const Expected& expected) {
    if (call.function != expected.function || expected.args.size() > call.args.size()) {
        return false;
    }
    for (std::size_t i = 0; i < expected.args.size(); ++i) {
        if (expected.args[i] != any && expected.args[i] != call.args[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

SentMessageRecorder::SentMessageRecorder(const char* className, std::vector<SentMessage> messages) {
    recordedClass = className;
    recordedMessages = std::move(messages);
    recorderHook =
        SetWindowsHookExA(WH_CALLWNDPROC, RecordSentMessage, nullptr, GetCurrentThreadId());
    EXPECT_NE(recorderHook, nullptr) << "no message hook";
}

SentMessageRecorder::~SentMessageRecorder() {
    UnhookWindowsHookEx(recorderHook);
}

void ExpectCalls(const std::vector<Expected>& expected, const std::vector<Call>& actual) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (at < actual.size() && Matches(actual[at], expected[i])) {
            ++at;
        } else if (!expected[i].optional) {
            ADD_FAILURE() << "entry " << at << ": expected "
                          << Describe(expected[i].function, expected[i].args) << ", found "
                          << (at < actual.size() ? Describe(actual[at].function, actual[at].args)
                                                 : "the end");
            return;
        }
    }
    if (at < actual.size()) {
        ADD_FAILURE() << "entry " << at << ": unexpected "
                      << Describe(actual[at].function, actual[at].args);
    }
}

std::vector<Call> CallsOf(const char* function) {
    std::vector<Call> found;
    for (const Call& call : calls.log) {
        if (call.function == function) {
            found.push_back(call);
        }
    }
    return found;
}

std::string DescribeBoxes(const std::vector<RecordedMessageBox>& boxes) {
    std::string description;
    for (const RecordedMessageBox& box : boxes) {
        description += "[" + box.caption + ": " + box.text + "] ";
    }
    return description;
}

bool IsClassRegistered(const char* className, HINSTANCE instance) {
    WNDCLASSA info{};
    return GetClassInfoA(instance, className, &info) != FALSE;
}

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

double SecondsNow() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}
