#pragma once

// The one layer through which tests stand between the program and Win32: a pass-through for
// each function the suites watch, installed where the program reaches that function (the test
// executable's import slot for user32 and gdi32, the program's table of entry points for
// opengl32, glu32 and winmm) and removed again when the Replacements object goes. While
// installed, every pass-through
//   - notes its call in `calls.log` ("GetDC", "ShowWindow 5", "wglMakeCurrent(none)", ...),
//   - counts it, and fails the call that FailAt names,
//   - notes the handles that creation calls hand out and release calls take back in the ledger.
// A few functions are never passed on while replaced, because the real one would act on the
// machine or wait for a user: ChangeDisplaySettingsA, ShowCursor and MessageBoxA are answered
// from `fakes`, and DefWindowProcA answers `defaultProcResult`.

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

// How a replaced function fails. Refuse: it is not passed on and returns its failure value.
// AfterDoing: it is passed on, and then reports failure all the same (for releases, so that a
// test sees the report and still leaves nothing behind).
enum class Fault { Refuse, AfterDoing };

struct RecordedMessageBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct Calls {
    std::vector<std::string> log;
    // Handles handed out by CreateWindowExA, GetDC and wglCreateContext, and handles taken back
    // by DestroyWindow, ReleaseDC and wglDeleteContext, in order.
    std::vector<void*> acquired;
    std::vector<void*> released;
    int classesUnregistered = 0;
    // What ChoosePixelFormat and SetPixelFormat were asked for.
    std::vector<PIXELFORMATDESCRIPTOR> requestedFormats;
    std::vector<DEVMODEA> displayModes; // ChangeDisplaySettingsA with a mode
    std::vector<RecordedMessageBox> boxes;
    std::atomic<int> presented{0};  // SwapBuffers
    std::atomic<int> timedWaits{0}; // MsgWaitForMultipleObjects with a handle to wait for
};
extern Calls calls;

struct Fakes {
    LONG displayChangeResult = DISP_CHANGE_SUCCESSFUL;
    int cursorCount = 0;
    std::vector<int> boxAnswers; // answered in turn, IDOK once they run out
    // Runs at the moment a message box would be on screen.
    void (*onBox)(const RecordedMessageBox&) = nullptr;
    LRESULT defaultProcResult = 0x5EED;
    // SwapBuffers: 0 presents for real; otherwise it returns at the next vertical blank of a
    // display refreshing at this rate, or at once when the rate is negative.
    int swapHz = 0;
    // EnumDisplaySettingsA reports this refresh rate for the current mode when it is not 0.
    DWORD displayHz = 0;
};
extern Fakes fakes;

// Installs the pass-throughs of the named functions while it lives.
class Replacements {
  public:
    explicit Replacements(const std::vector<const char*>& functions);
    ~Replacements();
    Replacements(const Replacements&) = delete;
    Replacements& operator=(const Replacements&) = delete;

    // False when one of the functions could not be replaced (not imported, not in the table).
    bool installed() const {
        return allInstalled;
    }

  private:
    struct Slot {
        void** address;
        void* original;
    };
    std::vector<Slot> slots;
    bool allInstalled = true;
};

// The functions of creation, showing and teardown, in the order the program calls them.
extern const std::vector<const char*> windowCalls;

// The `call`th call of the replaced function from now on fails (0: every call).
void FailAt(const char* function, int call, Fault fault = Fault::Refuse);

// Empties `calls`, `fakes` and every planned failure, and the program's state record, when made
// and again when gone: a test that stops at a failed assertion leaves nothing to the next one.
struct FreshState {
    FreshState();
    ~FreshState();
    FreshState(const FreshState&) = delete;
    FreshState& operator=(const FreshState&) = delete;
};

// Notes in `calls.log` the listed messages sent to windows of one class while it lives ("WM_SIZE
// 800x600", "WM_ACTIVATE 1 0"): a WH_CALLWNDPROC hook on this thread sees them before the window
// procedure does, without touching it.
struct SentMessageRecorder {
    SentMessageRecorder(const char* className, std::vector<UINT> messages);
    ~SentMessageRecorder();
    SentMessageRecorder(const SentMessageRecorder&) = delete;
    SentMessageRecorder& operator=(const SentMessageRecorder&) = delete;

    HHOOK hook = nullptr;
};

// The function itself, found through the DLL's export table rather than any replaced slot.
template <typename Function>
Function RealFunction(const char* dll, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA(dll), name)));
}

// "[caption: text] ..." for failure messages.
std::string DescribeBoxes(const std::vector<RecordedMessageBox>& boxes);

// Seconds on the performance counter.
double SecondsNow();

// True under Wine (ntdll exports wine_get_version), false on Windows itself.
bool RunningUnderWine();

// True while a window class of this name is registered for the instance.
bool IsClassRegistered(const char* className, HINSTANCE instance);

// The address of the program's table slot for an opengl32, glu32 or winmm function, or null.
void** SystemLibrarySlot(const char* function);
