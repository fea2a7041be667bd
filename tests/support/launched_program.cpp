#include "support/launched_program.h"

#include <dwmapi.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "support/replacements.h"

namespace {

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string contents;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        contents.append(buffer, read);
    }
    CloseHandle(file);
    return contents;
}

// The program's processor time in 1/100 s, or -1 when it cannot be read. Wine's GetProcessTimes
// gives any process the caller's own times: under Wine they come from the host process in /proc.
long long ReadCpuTicks(const LaunchedProgram& program) {
    FILETIME times[4] = {}; // created, exited, kernel, user
    if (!RunningUnderWine() &&
        GetProcessTimes(program.process.hProcess, &times[0], &times[1], &times[2], &times[3])) {
        return static_cast<long long>(
            (std::bit_cast<ULONGLONG>(times[2]) + std::bit_cast<ULONGLONG>(times[3])) / 100000);
    }
    const std::string stat = ReadProcFile(program.token, "stat");
    // After the parenthesised command name come the state (field 3) and, as fields 14 and 15,
    // user and system time.
    std::istringstream fields(stat.substr(stat.rfind(')') + 1));
    std::string field;
    long long ticks = 0;
    for (int number = 3; fields >> field && number <= 15; ++number) {
        ticks += number >= 14 ? std::atoll(field.c_str()) : 0;
    }
    return stat.empty() ? -1 : ticks;
}

HWND FindShownProgramWindow(DWORD processId) {
    for (HWND window = FindWindowA("OpenGL", "Tovren"); window != nullptr;
         window = FindWindowExA(nullptr, window, "OpenGL", "Tovren")) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        // The process check keeps the test's own windows of the same class out; the window
        // exists a little before it is shown.
        if (owner == processId && IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, double seconds) {
    const double deadline = SecondsNow() + seconds;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        if (condition()) {
            return true;
        }
        if (SecondsNow() >= deadline) {
            return false;
        }
        Sleep(10);
    }
}

void PumpMessagesFor(double seconds) {
    WaitUntil([] { return false; }, seconds);
}

std::string BuildFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\') + 1);
}

bool StartProcess(std::string commandLine, PROCESS_INFORMATION& process) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        return true;
    }
    const DWORD error = GetLastError();
    char reason[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   reason, sizeof(reason), nullptr);
    std::fprintf(stderr, "could not start %s: error %lu, %s\n", commandLine.c_str(), error, reason);
    process = PROCESS_INFORMATION{};
    return false;
}

DWORD RunToExit(const std::string& commandLine, DWORD milliseconds) {
    LaunchedProgram run;
    if (!StartProcess(commandLine, run.process)) {
        return 0xFFFFFFFF;
    }
    return static_cast<DWORD>(WaitForExitCode(run, milliseconds));
}

bool LaunchProgram(LaunchedProgram& program, const std::string& path) {
    static int launches = 0;
    program.token =
        "launch-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++launches);
    if (!StartProcess("\"" + path + "\" " + program.token, program.process)) {
        return false;
    }
    // A generous deadline: under emulation a start takes seconds.
    WaitUntil(
        [&] {
            program.window = FindShownProgramWindow(program.process.dwProcessId);
            return program.window != nullptr ||
                   WaitForSingleObject(program.process.hProcess, 0) == WAIT_OBJECT_0;
        },
        60.0);
    // Its pixels, not what lies in front (a CI runner's console): on top, not activated, composed.
    HWND window = program.window;
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    WaitUntil([window] { return !window || GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST; },
              60);
    DwmFlush();
    return program.window != nullptr;
}

long WaitForExitCode(LaunchedProgram& program, DWORD milliseconds) {
    long result = -1;
    if (WaitForSingleObject(program.process.hProcess, milliseconds) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(program.process.hProcess, &code);
        result = static_cast<long>(code);
    } else {
        TerminateProcess(program.process.hProcess, 255);
        WaitForSingleObject(program.process.hProcess, 5000);
    }
    CloseHandle(program.process.hThread);
    CloseHandle(program.process.hProcess);
    program.process = PROCESS_INFORMATION{};
    return result;
}

std::string ReadProcFile(const std::string& token, const char* file) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
    std::string contents;
    for (bool more = search != INVALID_HANDLE_VALUE; more && contents.empty();
         more = FindNextFileA(search, &entry)) {
        const std::string directory = std::string("Z:\\proc\\") + entry.cFileName + "\\";
        if (entry.cFileName[0] >= '0' && entry.cFileName[0] <= '9' &&
            ReadWholeFile(directory + "cmdline").find(token) != std::string::npos) {
            contents = ReadWholeFile(directory + file);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return contents;
}

double CpuPercentOver(const LaunchedProgram& program, double seconds) {
    const long long start = ReadCpuTicks(program);
    PumpMessagesFor(seconds);
    const long long end = ReadCpuTicks(program);
    return start < 0 || end < 0 ? -1.0 : static_cast<double>(end - start) / seconds;
}

bool RunsUnderEmulation(const std::string& token) {
    return ReadProcFile(token, "cmdline").find("qemu") != std::string::npos;
}

Capture CaptureClientArea(HWND window) {
    Capture capture;
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    capture.width = client.right;
    capture.height = client.bottom;
    if (capture.width <= 0 || capture.height <= 0) {
        return capture;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = capture.width;
    info.bmiHeader.biHeight = -capture.height; // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, capture.width, capture.height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    const auto* source = static_cast<const std::uint32_t*>(bits);
    capture.pixels.assign(source,
                          source + static_cast<std::size_t>(capture.width) * capture.height);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return capture;
}

bool WaitUntilDrawing(HWND window) {
    const Capture first = CaptureClientArea(window);
    return WaitUntil(
        [&] {
            const Capture now = CaptureClientArea(window);
            return !now.pixels.empty() && now.pixels != first.pixels;
        },
        60.0);
}

HWND CreateActivationThief() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TovrenTestActivationThief";
    RegisterClassA(&windowClass);
    HWND thief =
        CreateWindowExA(0, windowClass.lpszClassName, "thief", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                        900, 600, 100, 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetForegroundWindow(thief);
    SetActiveWindow(thief);
    return thief;
}
