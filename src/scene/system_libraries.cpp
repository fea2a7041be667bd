#include "scene/system_libraries.h"

#include <cstring>

SystemLibraries systemLibraries;

// `&glClear` is the address of the table's slot, through the header's redirection of the name.
#define TOVREN_ENTRY(dll, name) {dll, #name, reinterpret_cast<void**>(&(name)), false},
#define TOVREN_OPTIONAL_ENTRY(dll, name, type)                                                     \
    {dll, #name, reinterpret_cast<void**>(&(name)), true},
const SystemEntryPoint systemEntryPoints[systemEntryPointCount] = {
    TOVREN_SYSTEM_ENTRY_POINTS(TOVREN_ENTRY) TOVREN_OPTIONAL_ENTRY_POINTS(TOVREN_OPTIONAL_ENTRY)};
#undef TOVREN_OPTIONAL_ENTRY
#undef TOVREN_ENTRY

namespace {

HMODULE LoadFromSystemFolder(const char* dll) {
    HMODULE module = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // NOTE: Windows 7 without update KB2533623 does not know the flag and refuses it as an
    // invalid parameter; the full path into the system folder does the same job there.
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        char path[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryA(path, MAX_PATH);
        const std::size_t nameLength = std::strlen(dll);
        if (length > 0 && length + 1 + nameLength < MAX_PATH) {
            path[length] = '\\';
            std::memcpy(path + length + 1, dll, nameLength + 1);
            module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    return module;
}

bool ReportMissingLibrary(const char* dll) {
    char text[80] = {};
    wsprintfA(text, "Can't Load %s From The System Folder.", dll);
    MessageBoxA(nullptr, text, "ERROR", MB_OK | MB_ICONEXCLAMATION);
    return false;
}

} // namespace

bool LoadSystemLibraries() {
    // The list is grouped by library: each is loaded when its first entry point comes up, and
    // judged once all of its entry points are resolved. The optional ones come last and are never
    // judged.
    const char* dll = nullptr;
    HMODULE module = nullptr;
    bool found = true;
    for (const SystemEntryPoint& entry : systemEntryPoints) {
        if (dll == nullptr || std::strcmp(dll, entry.dll) != 0) {
            if (!found) {
                return ReportMissingLibrary(dll);
            }
            dll = entry.dll;
            module = LoadFromSystemFolder(dll);
            found = module != nullptr || entry.optional;
        }
        const FARPROC address = module != nullptr ? GetProcAddress(module, entry.name) : nullptr;
        *entry.slot = reinterpret_cast<void*>(address);
        found = found && (address != nullptr || entry.optional);
    }
    return found || ReportMissingLibrary(dll);
}
