#pragma once

// One ordered record of what happened during a test: calls noted by recording import patches and
// window messages seen by a hook, so that their order against each other can be compared.

#include <windows.h>

#include <string>
#include <vector>

extern std::vector<std::string> callLog;

// Notes the listed messages sent to windows of one class while it lives (a WH_CALLWNDPROC hook
// on this thread sees them before the window procedure does, without touching it).
struct SentMessageRecorder {
    SentMessageRecorder(const char* className, std::vector<UINT> messages);
    ~SentMessageRecorder();
    SentMessageRecorder(const SentMessageRecorder&) = delete;
    SentMessageRecorder& operator=(const SentMessageRecorder&) = delete;

    HHOOK hook = nullptr;
};

// "WM_SIZE 800x600", "WM_ACTIVATE 1 0" and the like.
std::string DescribeMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The entries of the log that start with any of the prefixes, in order.
std::vector<std::string> CallLogEntries(const std::vector<std::string>& prefixes);
