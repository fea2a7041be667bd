#pragma once

// The one layer through which tests stand between the program and Win32. A Replacements object
// installs, while it lives, a pass-through for each function it names, where the program reaches
// that function: the test executable's import slot (user32, gdi32, kernel32) or the program's
// table of system entry points (opengl32, glu32, winmm). Every pass-through, without exception,
//   - records its call in `calls.log` as {function, arguments, result},
//   - fails the call that FailAt planned,
//   - and otherwise hands the call on: to the real function, or to the fake that stands in for
//     it (functions that would act on the machine, wait for a user or for the display).
// What cannot be installed fails the test at once, and so does a planned failure that never
// fired, when the state is reset.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Call {
    std::string function;
    std::vector<std::intptr_t> args; // integers and handles as numbers, strings by address
    std::string text;                // the first string argument
    std::intptr_t result = 0;
};

struct RecordedMessageBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct Calls {
    std::vector<Call> log;
    bool recording = true; // off for runs of hundreds of thousands of frames
    std::vector<PIXELFORMATDESCRIPTOR> requestedFormats; // ChoosePixelFormat, SetPixelFormat
    std::vector<DEVMODEA> displayModes;                  // ChangeDisplaySettingsA with a mode
    std::vector<RecordedMessageBox> boxes;
    std::atomic<int> presented{0};  // SwapBuffers
    std::atomic<int> timedWaits{0}; // sleeps of the frame pacing
    int repeatedRefreshes = 0;      // blanks of the simulated display with no new frame
    int neverShown = 0;             // frames the composited display replaced before a blank
    int openOutputs = 0;            // D3DKMTOpenAdapterFromGdiDisplayName less D3DKMTCloseAdapter
    int refusedWakes = 0;           // waits refused for their touch and pen bits
    int waitingSwaps = 0;           // three real swaps in a row of `fakes.waitingSwap` or longer
};
extern Calls calls;

// A monitor as the fakes describe it: a GDI device name, the whole-number rate of its display
// mode, and the exact rate the display configuration gives (0 where it gives none). Its blanks
// come at `actualHz` (where 0: the exact rate, else the whole one) from `firstBlank` on: a
// display's own clock is seldom exactly the rate it was set to.
struct FakeMonitor {
    const char* device;
    DWORD wholeHz;
    UINT32 exactNumerator = 0;
    UINT32 exactDenominator = 1;
    double actualHz = 0.0;
    double firstBlank = 1000.0041; // seconds on the simulated clock, which starts at 1000
};

struct Fakes {
    int cursorCount = 0;         // ShowCursor
    std::vector<int> boxAnswers; // MessageBoxA, in turn; IDOK once they run out
    void (*onBox)(const RecordedMessageBox&) = nullptr;
    LRESULT defaultProcResult = 0x5EED; // DefWindowProcA
    SIZE thinnerFrame{0, 0};            // AdjustWindowRectEx measures a frame this much thinner
    // Monitors, the first one primary, and the one the window is on (MonitorFromWindow).
    std::vector<FakeMonitor> monitors;
    int windowMonitor = 0;
    // SwapBuffers: presents for real unless `swapHz` is set. Then it returns at the next blank of
    // a display refreshing that many times a second, once `queue` frames wait to be shown; or at
    // once, when `swapHz` is negative or until `swapWaitsFrom`.
    double swapHz = 0.0;
    double waitingSwap = 1e9; // a real swap this long, in seconds, counts as waiting
    int queue = 0;
    double swapWaitsFrom = 0.0;
    double swapCost = 0.0003; // a swap that does not wait takes this long, up to half again as much
    // Or a composited display: SwapBuffers returns at once, and at each blank of the window's
    // monitor the compositor shows the newest frame finished before it.
    bool composited = false;
    // What the program can learn of the blanks: each monitor's scan line (D3DKMTGetScanLine), the
    // compositor's clock, which follows the primary monitor (DwmGetCompositionTimingInfo); and
    // when both stop telling anything new, as for a display that is off (0: never).
    bool scanLines = false;
    bool compositorClock = false;
    double blanksStopAt = 0.0;
    // MsgWaitForMultipleObjects refuses the touch and pen bits, as Windows 7 does.
    bool refusesTouchWake = false;
    // The clock the fake SwapBuffers keeps: the performance counter, or a simulated one.
    double (*now)() = nullptr;
    void (*waitUntil)(double seconds) = nullptr;
};
extern Fakes fakes;

// How a planned failure fails. Refuse: the call is not handed on and returns the failure value,
// with ERROR_INVALID_PARAMETER as the last error. AfterDoing: it is handed on, and returns the
// failure value all the same (a release that reports failure and still leaves nothing behind).
enum class Fault { Refuse, AfterDoing };

// The `call`th call of the replaceable function from now on fails (0: every call), returning
// `failure`. A name the layer cannot replace fails the test.
void FailAt(const char* function, int call, Fault fault = Fault::Refuse, std::intptr_t failure = 0);

class Replacements {
  public:
    explicit Replacements(const std::vector<const char*>& functions);
    ~Replacements();
    Replacements(const Replacements&) = delete;
    Replacements& operator=(const Replacements&) = delete;

  private:
    std::vector<const char*> names;
};

// Counts the blanks of the composited display up to the fakes' clock.
void SettleDisplay();

// The functions of creation, showing and teardown, in the order the program calls them.
extern const std::vector<const char*> windowCalls;

// Empties `calls`, `fakes`, the planned failures, the simulated clock and the program's state
// record, when made and again when gone (failing the test for a planned failure that never
// fired): a test that stops at a failed assertion leaves nothing to the next one.
struct FreshState {
    FreshState();
    ~FreshState();
    FreshState(const FreshState&) = delete;
    FreshState& operator=(const FreshState&) = delete;
};

// Records in `calls.log` the listed messages sent to windows of one class, while it lives, as
// {name, {wParam, lParam}}: a WH_CALLWNDPROC hook on this thread sees them before the window
// procedure does, without touching it.
struct SentMessage {
    UINT message;
    const char* name;
};
struct SentMessageRecorder {
    SentMessageRecorder(const char* className, std::vector<SentMessage> messages);
    ~SentMessageRecorder();
    SentMessageRecorder(const SentMessageRecorder&) = delete;
    SentMessageRecorder& operator=(const SentMessageRecorder&) = delete;
};

// One expected entry of a sequence: the arguments given are compared, from the first (`any`
// matches every value); an optional entry may be missing.
constexpr std::intptr_t any = INTPTR_MIN;
struct Expected {
    std::string function;
    std::vector<std::intptr_t> args = {};
    bool optional = false;
};

// Compares a recorded sequence with the expected one, as Wine's own tests compare message
// sequences, and names the first difference.
void ExpectCalls(const std::vector<Expected>& expected, const std::vector<Call>& actual);
// The entries of one function, in order.
std::vector<Call> CallsOf(const char* function);

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
