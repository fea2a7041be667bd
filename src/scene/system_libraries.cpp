#include "scene/system_libraries.h"

#include <string>

SystemLibraries systemLibraries;

namespace {

HMODULE LoadFromSystemFolder(const char* dll) {
    HMODULE module = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // NOTE: Windows 7 without update KB2533623 does not know the flag and refuses it as an
    // invalid parameter; the full path into the system folder does the same job there.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        char folder[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const std::string path = std::string(folder, length) + "\\" + dll;
            module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    return module;
}

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& slot) {
    const FARPROC address = module != nullptr ? GetProcAddress(module, name) : nullptr;
    // Through void(*)(), the one function type GCC lets any other be cast to without warning.
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != nullptr;
}

// The name as a string and the slot it fills, from one spelling, so that the two cannot differ.
#define TOVREN_RESOLVE(module, name) Resolve(module, #name, name)

bool LoadOpenGL() {
    HMODULE dll = LoadFromSystemFolder("opengl32.dll");
    bool found = dll != nullptr;
    found = TOVREN_RESOLVE(dll, wglCreateContext) && found;
    found = TOVREN_RESOLVE(dll, wglDeleteContext) && found;
    found = TOVREN_RESOLVE(dll, wglMakeCurrent) && found;
    found = TOVREN_RESOLVE(dll, wglGetCurrentContext) && found;
    found = TOVREN_RESOLVE(dll, wglGetCurrentDC) && found;
    found = TOVREN_RESOLVE(dll, wglGetProcAddress) && found;
    found = TOVREN_RESOLVE(dll, glGetString) && found;
    found = TOVREN_RESOLVE(dll, glShadeModel) && found;
    found = TOVREN_RESOLVE(dll, glEnable) && found;
    found = TOVREN_RESOLVE(dll, glDisable) && found;
    found = TOVREN_RESOLVE(dll, glClearColor) && found;
    found = TOVREN_RESOLVE(dll, glClearDepth) && found;
    found = TOVREN_RESOLVE(dll, glDepthFunc) && found;
    found = TOVREN_RESOLVE(dll, glHint) && found;
    found = TOVREN_RESOLVE(dll, glViewport) && found;
    found = TOVREN_RESOLVE(dll, glMatrixMode) && found;
    found = TOVREN_RESOLVE(dll, glLoadIdentity) && found;
    found = TOVREN_RESOLVE(dll, glClear) && found;
    found = TOVREN_RESOLVE(dll, glTranslatef) && found;
    found = TOVREN_RESOLVE(dll, glColor3f) && found;
    found = TOVREN_RESOLVE(dll, glPointSize) && found;
    found = TOVREN_RESOLVE(dll, glBegin) && found;
    found = TOVREN_RESOLVE(dll, glVertex3f) && found;
    found = TOVREN_RESOLVE(dll, glEnd) && found;
    return found;
}

bool LoadGlu() {
    HMODULE dll = LoadFromSystemFolder("glu32.dll");
    return TOVREN_RESOLVE(dll, gluPerspective);
}

bool LoadMultimediaTimer() {
    HMODULE dll = LoadFromSystemFolder("winmm.dll");
    bool found = dll != nullptr;
    found = TOVREN_RESOLVE(dll, timeGetTime) && found;
    found = TOVREN_RESOLVE(dll, timeBeginPeriod) && found;
    found = TOVREN_RESOLVE(dll, timeEndPeriod) && found;
    return found;
}

#undef TOVREN_RESOLVE

bool ReportMissingLibrary(const char* dll) {
    const std::string text = std::string("Can't Load ") + dll + " From The System Folder.";
    MessageBoxA(nullptr, text.c_str(), "ERROR", MB_OK | MB_ICONEXCLAMATION);
    return false;
}

} // namespace

bool LoadSystemLibraries() {
    if (!LoadOpenGL()) {
        return ReportMissingLibrary("opengl32.dll");
    }
    if (!LoadGlu()) {
        return ReportMissingLibrary("glu32.dll");
    }
    if (!LoadMultimediaTimer()) {
        return ReportMissingLibrary("winmm.dll");
    }
    return true;
}
