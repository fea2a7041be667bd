#include "support/fault_injection.h"

#include <cstring>

namespace {

MessageBoxRecorder* activeRecorder = nullptr;

int WINAPI RecordMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    MessageBoxRecorder& recorder = *activeRecorder;
    RecordedMessageBox box{owner, text ? text : "", caption ? caption : "", type};
    recorder.boxes.push_back(box);
    if (recorder.onShow) {
        recorder.onShow(box);
    }
    const std::size_t index = recorder.boxes.size() - 1;
    return index < recorder.answers.size() ? recorder.answers[index] : IDOK;
}

template <typename T>
T* AtRva(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<BYTE*>(module) + rva);
}

void WriteSlot(void** slot, void* value) {
    DWORD oldProtection = 0;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &oldProtection);
    *slot = value;
    VirtualProtect(slot, sizeof(void*), oldProtection, &oldProtection);
}

} // namespace

ImportPatch::ImportPatch(const char* dll, const char* function, const void* replacement) {
    HMODULE module = GetModuleHandleA(nullptr);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(module);
    auto* nt = AtRva<IMAGE_NT_HEADERS>(module, dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) {
        return;
    }
    for (auto* descriptor = AtRva<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        if (_stricmp(AtRva<char>(module, descriptor->Name), dll) != 0) {
            continue;
        }
        auto* names = AtRva<IMAGE_THUNK_DATA>(module, descriptor->OriginalFirstThunk);
        auto* addresses = AtRva<IMAGE_THUNK_DATA>(module, descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            auto* byName =
                AtRva<IMAGE_IMPORT_BY_NAME>(module, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) {
                continue;
            }
            void** slot = reinterpret_cast<void**>(&addresses->u1.Function);
            original = *slot;
            WriteSlot(slot, const_cast<void*>(replacement));
            slots.push_back(slot);
        }
    }
}

ImportPatch::~ImportPatch() {
    for (void** slot : slots) {
        WriteSlot(slot, original);
    }
}

MessageBoxRecorder::MessageBoxRecorder()
    : patch("user32.dll", "MessageBoxA", reinterpret_cast<const void*>(&RecordMessageBoxA)) {
    activeRecorder = this;
}

MessageBoxRecorder::~MessageBoxRecorder() {
    activeRecorder = nullptr;
}

bool IsClassRegistered(const char* className, HINSTANCE instance) {
    WNDCLASSA info{};
    return GetClassInfoA(instance, className, &info) != FALSE;
}

std::string DescribeBoxes(const std::vector<RecordedMessageBox>& boxes) {
    std::string description;
    for (const RecordedMessageBox& box : boxes) {
        description += "[" + box.caption + ": " + box.text + "] ";
    }
    return description;
}
