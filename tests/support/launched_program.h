#pragma once

// The real tovren.exe, started as a separate process beside the test executable and driven
// from outside, as a user or the system would; and the waiting that goes with it.

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct LaunchedProgram {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
    // Passed on the command line, which the program ignores, to find its Wine process in /proc.
    std::string token;
};

// Handles this thread's messages and asks `condition` every 10 ms until it holds (true) or
// `seconds` have passed (false): the one way the tests wait for anything.
bool WaitUntil(const std::function<bool()>& condition, double seconds);
void PumpMessagesFor(double seconds);

// The folder of the test executable, with a trailing backslash; the programs are built there.
std::string BuildFolder();

// Starts a process; when it cannot, says so with the system's reason on the standard error.
bool StartProcess(std::string commandLine, PROCESS_INFORMATION& process);

// Runs a command line to its end and returns its exit code, or 0xFFFFFFFF when it did not start
// or end within `milliseconds` (it is then ended by force).
DWORD RunToExit(const std::string& commandLine, DWORD milliseconds);

// Starts the program (by default the tovren.exe beside the tests) and waits until its window
// (class "OpenGL", title "Tovren") is shown, on top. False if the window never appears; the process
// may then still be running or have ended.
bool LaunchProgram(LaunchedProgram& program,
                   const std::string& path = BuildFolder() + "tovren.exe");

// The exit code once the process has ended, or -1 after `milliseconds` (the process is then
// ended by force).
long WaitForExitCode(LaunchedProgram& program, DWORD milliseconds);

// A file of /proc/<pid>/ ("stat", "status", "cmdline") of the Wine process whose command line
// contains `token`: Wine's host processes are Linux processes, reached through drive Z:. Empty
// when there is none.
std::string ReadProcFile(const std::string& token, const char* file);

// Processor time of the program over the next `seconds` (messages of this thread are handled
// meanwhile), in per cent of one core; -1 when it cannot be read.
double CpuPercentOver(const LaunchedProgram& program, double seconds);

// True when the process with the token is run by qemu-user (32-bit code on a 64-bit-only
// kernel), which makes it some 30 times slower.
bool RunsUnderEmulation(const std::string& token);

// The window's client area as the display shows it, as 0xAARRGGBB, top row first.
struct Capture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};
Capture CaptureClientArea(HWND window);

// Waits, 60 s at most, until what the window shows changes: it is drawing (its first frame can
// take seconds under emulation). True when it is.
bool WaitUntilDrawing(HWND window);

// A window of the test's own that takes the activation away from the program's.
HWND CreateActivationThief();
