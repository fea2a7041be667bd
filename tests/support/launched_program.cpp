#include "support/launched_program.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

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

// Wine's host processes are Linux processes; the Z: drive reaches their /proc entries.
std::string FindProcEntryWithToken(const std::string& token) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string found;
    do {
        if (entry.cFileName[0] < '0' || entry.cFileName[0] > '9') {
            continue;
        }
        std::string directory = "Z:\\proc\\";
        directory += entry.cFileName;
        const std::string commandLine = ReadWholeFile(directory + "\\cmdline");
        if (commandLine.find(token) != std::string::npos) {
            found = directory;
        }
    } while (found.empty() && FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchProgramWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[32] = {}, title[32] = {};
    GetClassNameA(window, className, sizeof(className));
    GetWindowTextA(window, title, sizeof(title));
    if (owner == search->processId && std::strcmp(className, "OpenGL") == 0 &&
        std::strcmp(title, "Tovren") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

std::string BuildFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char* lastSlash = std::strrchr(path, '\\');
    if (lastSlash) {
        lastSlash[1] = '\0';
    }
    return path;
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
    PROCESS_INFORMATION process{};
    if (!StartProcess(commandLine, process)) {
        return 0xFFFFFFFF;
    }
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(process.hProcess, milliseconds) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

bool LaunchProgram(LaunchedProgram& program, const std::string& path) {
    static int launches = 0;
    program.token =
        "launch-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++launches);
    if (!StartProcess("\"" + path + "\" " + program.token, program.process)) {
        return false;
    }
    // A generous deadline: under emulation a start takes seconds.
    for (int tries = 0; tries < 1200 && !program.window; ++tries) {
        if (WaitForSingleObject(program.process.hProcess, 0) == WAIT_OBJECT_0) {
            return false; // ended before showing a window
        }
        // FindWindowA finds it by class and title; the process check keeps the test's own
        // windows of the same class out.
        if (FindWindowA("OpenGL", "Tovren")) {
            WindowSearch search{program.process.dwProcessId, nullptr};
            EnumWindows(MatchProgramWindow, reinterpret_cast<LPARAM>(&search));
            // Found once shown: the window exists a little before it is.
            program.window = search.found && IsWindowVisible(search.found) ? search.found : nullptr;
        }
        if (!program.window) {
            Sleep(50);
        }
    }
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

long long ReadProcessCpuTicks(const LaunchedProgram& program) {
    const std::string directory = FindProcEntryWithToken(program.token);
    if (directory.empty()) {
        return -1;
    }
    const std::string stat = ReadWholeFile(directory + "\\stat");
    // After the parenthesised command name come the state (field 3) and, as fields 14 and 15,
    // user and system time.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    long long userTicks = -1, systemTicks = -1;
    for (int number = 3; fields >> field && number <= 15; ++number) {
        if (number == 14) {
            userTicks = std::atoll(field.c_str());
        } else if (number == 15) {
            systemTicks = std::atoll(field.c_str());
        }
    }
    return userTicks < 0 || systemTicks < 0 ? -1 : userTicks + systemTicks;
}

double CpuPercentOver(const LaunchedProgram& program, DWORD milliseconds) {
    const long long start = ReadProcessCpuTicks(program);
    PumpMessagesFor(milliseconds);
    const long long end = ReadProcessCpuTicks(program);
    return start < 0 || end < 0 ? -1.0
                                : static_cast<double>(end - start) * 10.0 * 100.0 / milliseconds;
}

long long ReadProcStatusField(const std::string& token, const char* field) {
    const std::string directory = FindProcEntryWithToken(token);
    if (directory.empty()) {
        return -1;
    }
    const std::string status = ReadWholeFile(directory + "\\status");
    const std::size_t at = status.find(field);
    if (at == std::string::npos) {
        return -1;
    }
    return std::atoll(status.c_str() + at + std::strlen(field));
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

bool DisplayedFrameChanges(HWND window) {
    const Capture first = CaptureClientArea(window);
    Sleep(200);
    const Capture second = CaptureClientArea(window);
    return !first.pixels.empty() && first.pixels != second.pixels;
}

bool WaitUntilDrawing(HWND window) {
    const DWORD start = GetTickCount();
    while (!DisplayedFrameChanges(window)) {
        if (GetTickCount() - start > 60000) {
            return false;
        }
    }
    return true;
}

bool RunsUnderEmulation(const LaunchedProgram& program) {
    const std::string directory = FindProcEntryWithToken(program.token);
    return !directory.empty() &&
           ReadWholeFile(directory + "\\cmdline").find("qemu") != std::string::npos;
}

void PumpMessagesFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        DrainMessages();
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}

void DrainMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&msg);
    }
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
