#include "support/replacements.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <map>

#include "shell/state.h"

Calls calls;
Fakes fakes;

const std::vector<const char*> windowCalls = {
    "CreateWindowExA",  "GetDC",      "ChoosePixelFormat",   "SetPixelFormat",  "wglCreateContext",
    "wglMakeCurrent",   "ShowWindow", "SetForegroundWindow", "SetFocus",        "glViewport",
    "wglDeleteContext", "ReleaseDC",  "DestroyWindow",       "UnregisterClassA"};

namespace {

struct PlannedFailure {
    int callsToGo; // this many more calls pass; 0 fails every call
    Fault fault;
};
std::map<std::string, PlannedFailure> plannedFailures;

// Counts the call against its planned failure: true when this call is the one to fail.
bool ShouldFail(const char* function, Fault& fault) {
    const auto planned = plannedFailures.find(function);
    if (planned == plannedFailures.end()) {
        return false;
    }
    fault = planned->second.fault;
    if (planned->second.callsToGo == 0) {
        return true;
    }
    if (--planned->second.callsToGo == 0) {
        plannedFailures.erase(planned);
        return true;
    }
    return false;
}

// A call that can be made to fail: noted, then refused with `failed` when planned, else passed on.
template <typename Result, typename PassOn>
Result PassOrRefuse(const char* function, Result failed, PassOn passOn) {
    calls.log.push_back(function);
    Fault fault;
    return ShouldFail(function, fault) ? failed : passOn();
}

// An acquisition: what it hands out goes into the ledger.
template <typename Handle, typename PassOn>
Handle PassAcquire(const char* function, PassOn passOn) {
    const Handle handle = PassOrRefuse<Handle>(function, nullptr, passOn);
    if (handle != nullptr) {
        calls.acquired.push_back(handle);
    }
    return handle;
}

// A release: passed on unless refused, and reported as failed when planned (Fault::AfterDoing).
// Handles actually taken back go into the ledger.
template <typename PassOn>
BOOL PassRelease(const char* function, void* handle, PassOn passOn) {
    calls.log.push_back(function);
    Fault fault;
    const bool fail = ShouldFail(function, fault);
    if (fail && fault == Fault::Refuse) {
        return FALSE;
    }
    if (handle != nullptr) {
        calls.released.push_back(handle);
    }
    const BOOL done = passOn();
    return fail ? FALSE : done;
}

// The real function of the same name, for the pass-through to hand the call on to.
#define TOVREN_REAL(dll, name) RealFunction<decltype(&::name)>(dll, #name)

// ---- user32 ----

HWND WINAPI PassCreateWindowExA(DWORD exStyle, LPCSTR windowClass, LPCSTR title, DWORD style, int x,
                                int y, int width, int height, HWND parent, HMENU menu,
                                HINSTANCE instance, LPVOID parameter) {
    return PassAcquire<HWND>("CreateWindowExA", [&] {
        HWND window = TOVREN_REAL("user32.dll", CreateWindowExA)(exStyle, windowClass, title, style,
                                                                 x, y, width, height, parent, menu,
                                                                 instance, parameter);
        calls.log.push_back("CreateWindowExA returned"); // what it sent meanwhile comes before
        return window;
    });
}

HDC WINAPI PassGetDC(HWND window) {
    return PassAcquire<HDC>("GetDC", [&] { return TOVREN_REAL("user32.dll", GetDC)(window); });
}

BOOL WINAPI PassShowWindow(HWND window, int command) {
    calls.log.push_back("ShowWindow " + std::to_string(command));
    const BOOL result = TOVREN_REAL("user32.dll", ShowWindow)(window, command);
    calls.log.push_back("ShowWindow returned");
    return result;
}

BOOL WINAPI PassSetForegroundWindow(HWND window) {
    calls.log.push_back("SetForegroundWindow");
    return TOVREN_REAL("user32.dll", SetForegroundWindow)(window);
}

HWND WINAPI PassSetFocus(HWND window) {
    calls.log.push_back("SetFocus");
    return TOVREN_REAL("user32.dll", SetFocus)(window);
}

int WINAPI PassReleaseDC(HWND window, HDC dc) {
    return PassRelease("ReleaseDC", dc,
                       [&] { return TOVREN_REAL("user32.dll", ReleaseDC)(window, dc) != 0; });
}

BOOL WINAPI PassDestroyWindow(HWND window) {
    return PassRelease("DestroyWindow", window,
                       [&] { return TOVREN_REAL("user32.dll", DestroyWindow)(window); });
}

BOOL WINAPI PassUnregisterClassA(LPCSTR name, HINSTANCE instance) {
    return PassRelease("UnregisterClassA", nullptr, [&] {
        const BOOL done = TOVREN_REAL("user32.dll", UnregisterClassA)(name, instance);
        calls.classesUnregistered += done ? 1 : 0;
        return done;
    });
}

LONG WINAPI FakeChangeDisplaySettingsA(DEVMODEA* mode, DWORD flags) {
    calls.log.push_back(mode ? "ChangeDisplaySettingsA " + std::to_string(flags)
                             : "ChangeDisplaySettingsA(restore) " + std::to_string(flags));
    if (mode == nullptr) {
        return DISP_CHANGE_SUCCESSFUL;
    }
    calls.displayModes.push_back(*mode);
    return fakes.displayChangeResult;
}

int WINAPI FakeShowCursor(BOOL show) {
    calls.log.push_back(show ? "ShowCursor(TRUE)" : "ShowCursor(FALSE)");
    fakes.cursorCount += show ? 1 : -1;
    return fakes.cursorCount;
}

int WINAPI FakeMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const RecordedMessageBox box{owner, text ? text : "", caption ? caption : "", type};
    calls.log.push_back("MessageBoxA " + box.text);
    calls.boxes.push_back(box);
    if (fakes.onBox) {
        fakes.onBox(box);
    }
    const std::size_t index = calls.boxes.size() - 1;
    return index < fakes.boxAnswers.size() ? fakes.boxAnswers[index] : IDOK;
}

LRESULT WINAPI FakeDefWindowProcA(HWND, UINT message, WPARAM, LPARAM) {
    calls.log.push_back("DefWindowProcA " + std::to_string(message));
    return fakes.defaultProcResult;
}

DWORD WINAPI PassMsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                           DWORD milliseconds, DWORD wakeMask) {
    if (count > 0) {
        ++calls.timedWaits;
    }
    return TOVREN_REAL("user32.dll", MsgWaitForMultipleObjects)(count, handles, waitAll,
                                                                milliseconds, wakeMask);
}

BOOL WINAPI PassEnumDisplaySettingsA(LPCSTR device, DWORD mode, DEVMODEA* devMode) {
    const BOOL found = TOVREN_REAL("user32.dll", EnumDisplaySettingsA)(device, mode, devMode);
    if (found && mode == ENUM_CURRENT_SETTINGS && fakes.displayHz != 0) {
        devMode->dmDisplayFrequency = fakes.displayHz;
    }
    return found;
}

// ---- kernel32 ----

// A refused load fails as Windows 7 without KB2533623 refuses LOAD_LIBRARY_SEARCH_SYSTEM32.
HMODULE WINAPI PassLoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags) {
    const std::string entry = std::string("LoadLibraryExA ") + name + " " + std::to_string(flags);
    calls.log.push_back(entry);
    Fault fault;
    if (ShouldFail("LoadLibraryExA", fault)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return TOVREN_REAL("kernel32.dll", LoadLibraryExA)(name, file, flags);
}

// ---- gdi32 ----

int WINAPI PassChoosePixelFormat(HDC dc, const PIXELFORMATDESCRIPTOR* descriptor) {
    calls.requestedFormats.push_back(*descriptor);
    return PassOrRefuse("ChoosePixelFormat", 0, [&] {
        return TOVREN_REAL("gdi32.dll", ChoosePixelFormat)(dc, descriptor);
    });
}

BOOL WINAPI PassSetPixelFormat(HDC dc, int format, const PIXELFORMATDESCRIPTOR* descriptor) {
    calls.requestedFormats.push_back(*descriptor);
    return PassOrRefuse<BOOL>("SetPixelFormat", FALSE, [&] {
        return TOVREN_REAL("gdi32.dll", SetPixelFormat)(dc, format, descriptor);
    });
}

// Returns at the next vertical blank of a display that refreshes `hz` times a second, as a
// driver that honours the swap interval does.
void WaitForVerticalBlank(int hz) {
    const double period = 1.0 / hz;
    const double blank = (std::floor(SecondsNow() / period) + 1.0) * period;
    while (SecondsNow() < blank) {
        const double left = blank - SecondsNow();
        Sleep(left > 0.002 ? 1 : 0);
    }
}

BOOL WINAPI PassSwapBuffers(HDC dc) {
    ++calls.presented;
    if (fakes.swapHz == 0) {
        return TOVREN_REAL("gdi32.dll", SwapBuffers)(dc);
    }
    if (fakes.swapHz > 0) {
        WaitForVerticalBlank(fakes.swapHz);
    }
    return TRUE;
}

// ---- opengl32, through the program's table ----

HGLRC WINAPI PassWglCreateContext(HDC dc) {
    return PassAcquire<HGLRC>("wglCreateContext",
                              [&] { return TOVREN_REAL("opengl32.dll", wglCreateContext)(dc); });
}

// Making a context current can be made to fail ("wglMakeCurrent"), and so can releasing the
// current one ("wglMakeCurrent(none)"), each on its own.
BOOL WINAPI PassWglMakeCurrent(HDC dc, HGLRC context) {
    if (context != nullptr) {
        return PassOrRefuse<BOOL>("wglMakeCurrent", FALSE, [&] {
            return TOVREN_REAL("opengl32.dll", wglMakeCurrent)(dc, context);
        });
    }
    return PassRelease("wglMakeCurrent(none)", nullptr,
                       [&] { return TOVREN_REAL("opengl32.dll", wglMakeCurrent)(dc, context); });
}

BOOL WINAPI PassWglDeleteContext(HGLRC context) {
    return PassRelease("wglDeleteContext", context,
                       [&] { return TOVREN_REAL("opengl32.dll", wglDeleteContext)(context); });
}

PROC WINAPI PassWglGetProcAddress(LPCSTR name) {
    calls.log.push_back(std::string("wglGetProcAddress ") + name);
    Fault fault;
    if (ShouldFail("wglGetProcAddress", fault)) {
        return nullptr;
    }
    return TOVREN_REAL("opengl32.dll", wglGetProcAddress)(name);
}

void WINAPI PassGlViewport(GLint x, GLint y, GLsizei width, GLsizei height) {
    // Only calls that reach a context do anything.
    if (RealFunction<decltype(&::wglGetCurrentContext)>("opengl32.dll", "wglGetCurrentContext")()) {
        calls.log.push_back("glViewport " + std::to_string(width) + "x" + std::to_string(height));
    }
    TOVREN_REAL("opengl32.dll", glViewport)(x, y, width, height);
}

#undef TOVREN_REAL

struct Replaceable {
    const char* dll;
    const char* function;
    const void* passThrough;
};

template <typename Function>
const void* Address(Function function) {
    return reinterpret_cast<const void*>(function);
}

const Replaceable replaceable[] = {
    {"user32.dll", "CreateWindowExA", Address(&PassCreateWindowExA)},
    {"user32.dll", "GetDC", Address(&PassGetDC)},
    {"user32.dll", "ShowWindow", Address(&PassShowWindow)},
    {"user32.dll", "SetForegroundWindow", Address(&PassSetForegroundWindow)},
    {"user32.dll", "SetFocus", Address(&PassSetFocus)},
    {"user32.dll", "ReleaseDC", Address(&PassReleaseDC)},
    {"user32.dll", "DestroyWindow", Address(&PassDestroyWindow)},
    {"user32.dll", "UnregisterClassA", Address(&PassUnregisterClassA)},
    {"user32.dll", "ChangeDisplaySettingsA", Address(&FakeChangeDisplaySettingsA)},
    {"user32.dll", "ShowCursor", Address(&FakeShowCursor)},
    {"user32.dll", "MessageBoxA", Address(&FakeMessageBoxA)},
    {"user32.dll", "DefWindowProcA", Address(&FakeDefWindowProcA)},
    {"user32.dll", "MsgWaitForMultipleObjects", Address(&PassMsgWaitForMultipleObjects)},
    {"user32.dll", "EnumDisplaySettingsA", Address(&PassEnumDisplaySettingsA)},
    {"kernel32.dll", "LoadLibraryExA", Address(&PassLoadLibraryExA)},
    {"gdi32.dll", "ChoosePixelFormat", Address(&PassChoosePixelFormat)},
    {"gdi32.dll", "SetPixelFormat", Address(&PassSetPixelFormat)},
    {"gdi32.dll", "SwapBuffers", Address(&PassSwapBuffers)},
    {"opengl32.dll", "wglCreateContext", Address(&PassWglCreateContext)},
    {"opengl32.dll", "wglMakeCurrent", Address(&PassWglMakeCurrent)},
    {"opengl32.dll", "wglDeleteContext", Address(&PassWglDeleteContext)},
    {"opengl32.dll", "wglGetProcAddress", Address(&PassWglGetProcAddress)},
    {"opengl32.dll", "glViewport", Address(&PassGlViewport)},
};

template <typename T>
T* AtRva(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

// The test executable's import slots of the function: the program's objects are linked into it,
// so its calls to user32 and gdi32 go through them.
std::vector<void**> ImportSlots(const char* dll, const char* function) {
    std::vector<void**> found;
    HMODULE module = GetModuleHandleA(nullptr);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(module);
    auto* nt = AtRva<IMAGE_NT_HEADERS>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return found;
    }
    for (auto* descriptor = AtRva<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        if (_stricmp(AtRva<char>(module, descriptor->Name), dll) != 0) {
            continue;
        }
        auto* names = AtRva<IMAGE_THUNK_DATA>(module, descriptor->OriginalFirstThunk);
        auto* addresses = AtRva<IMAGE_THUNK_DATA>(module, descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            auto* byName =
                AtRva<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                found.push_back(reinterpret_cast<void**>(&addresses->u1.Function));
            }
        }
    }
    return found;
}

void WriteSlot(void** slot, void* value) {
    DWORD oldProtection = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &oldProtection);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), oldProtection, &oldProtection);
}

} // namespace

Replacements::Replacements(const std::vector<const char*>& functions) {
    for (const char* function : functions) {
        const Replaceable* entry = nullptr;
        for (const Replaceable& candidate : replaceable) {
            entry = std::strcmp(candidate.function, function) == 0 ? &candidate : entry;
        }
        std::vector<void**> found;
        if (entry != nullptr) {
            void** tableSlot = SystemLibrarySlot(function);
            found = tableSlot ? std::vector<void**>{tableSlot} : ImportSlots(entry->dll, function);
        }
        allInstalled = allInstalled && !found.empty();
        for (void** address : found) {
            slots.push_back(Slot{address, *address});
            WriteSlot(address, const_cast<void*>(entry->passThrough));
        }
    }
}

Replacements::~Replacements() {
    // Backwards, so that a function replaced twice gets its first value back.
    for (auto slot = slots.rbegin(); slot != slots.rend(); ++slot) {
        WriteSlot(slot->address, slot->original);
    }
}

void FailAt(const char* function, int call, Fault fault) {
    plannedFailures[function] = PlannedFailure{call, fault};
}

namespace {

void ResetEverything() {
    calls.log.clear();
    calls.acquired.clear();
    calls.released.clear();
    calls.classesUnregistered = 0;
    calls.requestedFormats.clear();
    calls.displayModes.clear();
    calls.boxes.clear();
    calls.presented = 0;
    calls.timedWaits = 0;
    fakes = Fakes{};
    plannedFailures.clear();
    sceneState = SceneState{};
}

} // namespace

FreshState::FreshState() {
    ResetEverything();
}

FreshState::~FreshState() {
    ResetEverything();
}

namespace {

std::string recordedClass;
std::vector<UINT> recordedMessages;

std::string DescribeMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SIZE) {
        return "WM_SIZE " + std::to_string(LOWORD(lParam)) + "x" + std::to_string(HIWORD(lParam));
    }
    return "WM_ACTIVATE " + std::to_string(LOWORD(wParam)) + " " + std::to_string(HIWORD(wParam));
}

LRESULT CALLBACK RecordSentMessage(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    char className[64] = {};
    if (code == HC_ACTION && GetClassNameA(sent->hwnd, className, sizeof(className)) &&
        recordedClass == className) {
        for (UINT message : recordedMessages) {
            if (message == sent->message) {
                calls.log.push_back(DescribeMessage(sent->message, sent->wParam, sent->lParam));
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

SentMessageRecorder::SentMessageRecorder(const char* className, std::vector<UINT> messages) {
    recordedClass = className;
    recordedMessages = std::move(messages);
    hook = SetWindowsHookExA(WH_CALLWNDPROC, RecordSentMessage, nullptr, GetCurrentThreadId());
}

SentMessageRecorder::~SentMessageRecorder() {
    if (hook) {
        UnhookWindowsHookEx(hook);
    }
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
