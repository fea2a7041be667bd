#pragma once

// Fault injection for tests, kept out of the program: imports of the test executable are
// replaced for the duration of a test, and message boxes are recorded and answered instead of
// being shown.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Replaces every import of `function` from `dll` in the test executable's import address table
// while it lives. Patch before calling the code under test, never from a function that itself
// calls the patched API: the compiler may keep an import slot in a register.
struct ImportPatch {
    ImportPatch(const char* dll, const char* function, const void* replacement);
    ~ImportPatch();
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    // The address the table held before: the real function.
    template <typename Function>
    Function Original() const {
        return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(original));
    }

    bool patched() const {
        return !slots.empty();
    }

    std::vector<void**> slots;
    void* original = nullptr;
};

struct RecordedMessageBox {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// The captions and texts, for failure messages.
std::string DescribeBoxes(const std::vector<RecordedMessageBox>& boxes);

// Every MessageBoxA of the program lands here while a recorder lives: recorded, then answered
// from `answers` in turn (IDOK once they run out). `onShow` runs at the moment the box would be
// on screen, so a test can see what had been done by then.
struct MessageBoxRecorder {
    MessageBoxRecorder();
    ~MessageBoxRecorder();

    std::vector<RecordedMessageBox> boxes;
    std::vector<int> answers;
    std::function<void(const RecordedMessageBox&)> onShow;

  private:
    ImportPatch patch;
};

// The function itself, found through the DLL's export table rather than the (maybe patched)
// import table, for replacements that pass a call on.
template <typename Function>
Function RealFunction(const char* dll, const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA(dll), name)));
}

// True while a window class of this name is registered for the instance.
bool IsClassRegistered(const char* className, HINSTANCE instance);
