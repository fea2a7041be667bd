#include "support/call_log.h"

#include <cstring>

std::vector<std::string> callLog;

namespace {

std::string recordedClass;
std::vector<UINT> recordedMessages;

LRESULT CALLBACK RecordSentMessage(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        char className[64] = {};
        GetClassNameA(sent->hwnd, className, sizeof(className));
        if (recordedClass == className) {
            for (UINT message : recordedMessages) {
                if (message == sent->message) {
                    callLog.push_back(DescribeMessage(sent->message, sent->wParam, sent->lParam));
                }
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

std::string DescribeMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        return "WM_SIZE " + std::to_string(LOWORD(lParam)) + "x" + std::to_string(HIWORD(lParam));
    case WM_ACTIVATE:
        return "WM_ACTIVATE " + std::to_string(LOWORD(wParam)) + " " +
               std::to_string(HIWORD(wParam));
    default:
        return "message " + std::to_string(message) + " " + std::to_string(wParam) + " " +
               std::to_string(lParam);
    }
}

std::vector<std::string> CallLogEntries(const std::vector<std::string>& prefixes) {
    std::vector<std::string> entries;
    for (const std::string& entry : callLog) {
        for (const std::string& prefix : prefixes) {
            if (entry.compare(0, prefix.size(), prefix) == 0) {
                entries.push_back(entry);
                break;
            }
        }
    }
    return entries;
}
