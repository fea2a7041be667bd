#pragma once

// The real tovren.exe, started as a separate process beside the test executable and driven
// from outside, as a user or the system would.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct LaunchedProgram {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
    // Passed on the command line, which the program ignores, to find its Wine process in /proc.
    std::string token;
};

// The folder of the test executable, with a trailing backslash; the programs are built there.
std::string BuildFolder();

// Starts a process; when it cannot, says so with the system's reason on the standard error.
bool StartProcess(std::string commandLine, PROCESS_INFORMATION& process);

// Runs a command line to its end and returns its exit code, or 0xFFFFFFFF when it did not start
// or end within `milliseconds` (it is then ended by force).
DWORD RunToExit(const std::string& commandLine, DWORD milliseconds);

// Starts the program (by default the tovren.exe beside the tests) and waits until its window
// (class "OpenGL", title "Tovren") is shown. False if the window never appears; the process may
// then still be running or have ended.
bool LaunchProgram(LaunchedProgram& program,
                   const std::string& path = BuildFolder() + "tovren.exe");

// The exit code once the process has ended, or -1 after `milliseconds` (the process is then
// ended by force).
long WaitForExitCode(LaunchedProgram& program, DWORD milliseconds);

// CPU time of the program's host process in 1/100 s, read from /proc (Wine reads zero for
// another process's GetProcessTimes). -1 when it cannot be read.
long long ReadProcessCpuTicks(const LaunchedProgram& program);

// Processor time of the program's host process over the next `milliseconds` (messages of this
// thread are handled meanwhile), in per cent of one core; -1 when it cannot be read.
double CpuPercentOver(const LaunchedProgram& program, DWORD milliseconds);

// A field of /proc/<pid>/status (for instance "RssAnon:", in kB) of the Wine process whose
// command line contains `token`, or -1.
long long ReadProcStatusField(const std::string& token, const char* field);

// The window's client area as the display shows it, as 0xAARRGGBB, top row first.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};
Capture CaptureClientArea(HWND window);

// True when two captures of the window's client area 200 ms apart differ: it is drawing.
bool DisplayedFrameChanges(HWND window);

// Waits, 60 s at most, until the window is drawing (its first frame can take seconds under
// emulation). True when it is.
bool WaitUntilDrawing(HWND window);

// True when the program's host process is run by qemu-user (32-bit code on a 64-bit-only
// kernel), which makes it some 30 times slower.
bool RunsUnderEmulation(const LaunchedProgram& program);

// Dispatches this thread's messages for a while, or until none is left.
void PumpMessagesFor(DWORD milliseconds);
void DrainMessages();

// A window of the test's own that takes the activation away from the program's.
HWND CreateActivationThief();
