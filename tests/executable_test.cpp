#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/launched_program.h"

namespace {

// Just enough of a PE reader for what the program's executables must carry.
struct PeImage {
    std::vector<std::uint8_t> bytes;
    IMAGE_FILE_HEADER file{};
    bool is64 = false;
    WORD subsystem = 0;
    WORD dllCharacteristics = 0;
    std::vector<IMAGE_DATA_DIRECTORY> directories;
    std::vector<IMAGE_SECTION_HEADER> sections;

    template <typename T>
    T At(std::size_t offset) const {
        T value{};
        if (offset + sizeof(T) <= bytes.size()) {
            std::memcpy(&value, &bytes[offset], sizeof(T));
        }
        return value;
    }

    std::size_t OffsetOf(DWORD rva) const {
        for (const IMAGE_SECTION_HEADER& section : sections) {
            const DWORD size = std::max(section.Misc.VirtualSize, section.SizeOfRawData);
            if (rva >= section.VirtualAddress && rva < section.VirtualAddress + size) {
                return rva - section.VirtualAddress + section.PointerToRawData;
            }
        }
        return bytes.size();
    }

    std::string StringAt(DWORD rva) const {
        std::string text;
        for (std::size_t at = OffsetOf(rva); at < bytes.size() && bytes[at]; ++at) {
            text.push_back(static_cast<char>(bytes[at]));
        }
        return text;
    }
};

bool ReadPeImage(const std::string& path, PeImage& image) {
    std::ifstream file(path, std::ios::binary);
    image.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (image.bytes.size() < sizeof(IMAGE_DOS_HEADER)) {
        return false;
    }
    const auto dos = image.At<IMAGE_DOS_HEADER>(0);
    const std::size_t nt = static_cast<std::size_t>(dos.e_lfanew);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || image.At<DWORD>(nt) != IMAGE_NT_SIGNATURE) {
        return false;
    }
    image.file = image.At<IMAGE_FILE_HEADER>(nt + 4);
    const std::size_t optional = nt + 4 + sizeof(IMAGE_FILE_HEADER);
    image.is64 = image.At<WORD>(optional) == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    std::size_t directoryOffset = 0;
    DWORD directoryCount = 0;
    if (image.is64) {
        const auto header = image.At<IMAGE_OPTIONAL_HEADER64>(optional);
        image.subsystem = header.Subsystem;
        image.dllCharacteristics = header.DllCharacteristics;
        directoryOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        directoryCount = header.NumberOfRvaAndSizes;
    } else {
        const auto header = image.At<IMAGE_OPTIONAL_HEADER32>(optional);
        image.subsystem = header.Subsystem;
        image.dllCharacteristics = header.DllCharacteristics;
        directoryOffset = optional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        directoryCount = header.NumberOfRvaAndSizes;
    }
    for (DWORD i = 0; i < directoryCount; ++i) {
        image.directories.push_back(
            image.At<IMAGE_DATA_DIRECTORY>(directoryOffset + i * sizeof(IMAGE_DATA_DIRECTORY)));
    }
    const std::size_t sectionTable = optional + image.file.SizeOfOptionalHeader;
    for (WORD i = 0; i < image.file.NumberOfSections; ++i) {
        image.sections.push_back(
            image.At<IMAGE_SECTION_HEADER>(sectionTable + i * sizeof(IMAGE_SECTION_HEADER)));
    }
    return true;
}

std::vector<std::string> ImportedDlls(const PeImage& image) {
    std::vector<std::string> names;
    const DWORD rva = image.directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (std::size_t at = image.OffsetOf(rva); at < image.bytes.size();
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        const auto descriptor = image.At<IMAGE_IMPORT_DESCRIPTOR>(at);
        if (descriptor.Name == 0) {
            break;
        }
        std::string name = image.StringAt(descriptor.Name);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::tolower(c)); });
        names.push_back(name);
    }
    return names;
}

// The data of the first resource of a type (first name, first language).
std::string ResourceData(const PeImage& image, WORD type) {
    const DWORD root = image.directories[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    const std::size_t base = image.OffsetOf(root);
    auto firstEntry = [&](std::size_t directory, bool matchType) -> DWORD {
        const auto header = image.At<IMAGE_RESOURCE_DIRECTORY>(directory);
        const int count = header.NumberOfNamedEntries + header.NumberOfIdEntries;
        for (int i = 0; i < count; ++i) {
            const auto entry = image.At<IMAGE_RESOURCE_DIRECTORY_ENTRY>(
                directory + sizeof(IMAGE_RESOURCE_DIRECTORY) +
                i * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY));
            if (!matchType || (!entry.NameIsString && entry.Id == type)) {
                return entry.OffsetToData;
            }
        }
        return 0xFFFFFFFF;
    };
    DWORD next = firstEntry(base, true);
    for (int level = 0; level < 2 && next != 0xFFFFFFFF; ++level) {
        if (!(next & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) {
            return {};
        }
        next = firstEntry(base + (next & 0x7FFFFFFF), false);
    }
    if (next == 0xFFFFFFFF || (next & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) {
        return {};
    }
    const auto data = image.At<IMAGE_RESOURCE_DATA_ENTRY>(base + next);
    const std::size_t offset = image.OffsetOf(data.OffsetToData);
    if (offset + data.Size > image.bytes.size()) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(&image.bytes[offset]), data.Size);
}

std::string Utf16(const char* text) {
    std::string wide;
    for (; *text; ++text) {
        wide.push_back(*text);
        wide.push_back('\0');
    }
    return wide;
}

// The DLLs the exe may import: Windows' own, with no Visual C++ redistributable, Universal CRT
// forwarder (api-ms-win-crt-*) or MinGW-w64 runtime DLL.
std::vector<std::string> WindowsOwnDlls() {
#if defined(_MSC_VER)
    // MSVC's static runtime (/MT) is in the exe.
    return {"kernel32.dll", "user32.dll", "gdi32.dll"};
#else
    // MinGW-w64's static runtime calls the C runtime of every Windows, msvcrt.dll.
    return {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"};
#endif
}

// What the exe may weigh: the program's own code and resources, some 19 KB, and the little of the
// static runtime it uses. The runtime's exception support alone would add some 140 KB (MinGW-w64).
std::size_t SizeLimit() {
#if defined(_MSC_VER)
    // Measured only in part: the stand-in for Visual Studio 2022 (clang-cl, lld-link) builds
    // 19-21 KB exes, but links msvcrt.dll in place of MSVC's static runtime, whose size it cannot
    // show. The limit is wide until the Windows CI job, which prints the size, has run.
    return 160u * 1024u;
#else
    // Measured with MinGW-w64 (GCC 12, Debian 12): 34,304 bytes (win64), 36,352 bytes (win32).
    return 48u * 1024u;
#endif
}

struct Build {
    const char* name;
    const char* relativePath;
    bool is64;
};

void PrintTo(const Build& build, std::ostream* out) {
    *out << build.name;
}

class ProgramExecutable : public ::testing::TestWithParam<Build> {
  protected:
    void SetUp() override {
        path = BuildFolder() + GetParam().relativePath;
        ASSERT_TRUE(ReadPeImage(path, image)) << path;
    }
    std::string path;
    PeImage image;
};

} // namespace

TEST_P(ProgramExecutable, IsAHardenedGuiProgram) {
    EXPECT_EQ(image.is64, GetParam().is64);
    EXPECT_EQ(image.file.Machine,
              GetParam().is64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(image.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
#if defined(_MSC_VER)
    // /Brepro writes a hash of the image where the link time would go.
    EXPECT_NE(image.file.TimeDateStamp, 0u);
#else
    EXPECT_EQ(image.file.TimeDateStamp, 0u) << "a link timestamp makes builds differ";
#endif

    const WORD flags = image.dllCharacteristics;
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_NX_COMPAT);
    EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
    EXPECT_GT(image.directories[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u)
        << "no relocations: the image cannot actually move";
    if (GetParam().is64) {
        EXPECT_TRUE(flags & IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA);
    } else {
        EXPECT_TRUE(image.file.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE);
    }
    std::printf("%s: %zu bytes\n", path.c_str(), image.bytes.size());
    EXPECT_LE(image.bytes.size(), SizeLimit()) << "the exe carries more than the program";
}

TEST_P(ProgramExecutable, ImportsOnlyWindowsOwnDlls) {
    const std::vector<std::string> allowed = WindowsOwnDlls();
    const std::vector<std::string> imports = ImportedDlls(image);
    EXPECT_FALSE(imports.empty());
    for (const std::string& dll : imports) {
        EXPECT_NE(std::find(allowed.begin(), allowed.end(), dll), allowed.end())
            << dll << " is not one of Windows' own";
    }
    // The program loads these itself, from the system folder only: each name is a string of
    // its own in the image, not only a part of a message.
    const std::string contents(image.bytes.begin(), image.bytes.end());
    for (const char* dll : {"opengl32.dll", "glu32.dll", "winmm.dll", "dwmapi.dll"}) {
        EXPECT_EQ(std::find(imports.begin(), imports.end(), dll), imports.end())
            << dll << " is imported at load time";
        EXPECT_NE(contents.find('\0' + std::string(dll) + '\0'), std::string::npos)
            << dll << " is not loaded by name";
    }
}

TEST_P(ProgramExecutable, CarriesItsManifestAndVersion) {
    const std::string manifest = ResourceData(image, 24);
    ASSERT_FALSE(manifest.empty()) << "no manifest";
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    for (const char* windowsVersion :
         {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
          "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_NE(manifest.find(windowsVersion), std::string::npos) << windowsVersion;
    }

    const std::string version = ResourceData(image, 16);
    ASSERT_FALSE(version.empty()) << "no version resource";
    EXPECT_NE(version.find(Utf16("ProductName")), std::string::npos);
    EXPECT_NE(version.find(Utf16("Tovren")), std::string::npos);
    EXPECT_NE(version.find(Utf16("FileDescription")), std::string::npos);
    EXPECT_NE(version.find(Utf16("1.0.0.0")), std::string::npos);
}

std::vector<Build> BuildsToCheck() {
#if defined(__MINGW32__)
    // The cross builds are made side by side: each suite checks both.
    return {Build{"win64", "..\\win64\\tovren.exe", true},
            Build{"win32", "..\\win32\\tovren.exe", false}};
#else
    const bool is64 = sizeof(void*) == 8;
    return {Build{is64 ? "win64" : "win32", "tovren.exe", is64}};
#endif
}

INSTANTIATE_TEST_SUITE_P(Builds, ProgramExecutable, ::testing::ValuesIn(BuildsToCheck()),
                         [](const ::testing::TestParamInfo<Build>& param) {
                             return std::string(param.param.name);
                         });

// ---- A DLL planted beside the program is never loaded ----

namespace {

std::string MakePlantFolder(const std::string& dll) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string folder = temp;
    folder += "tovren-plant-" + std::to_string(GetCurrentProcessId()) + "-" + dll;
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\";
    const std::string build = BuildFolder();
    CopyFileA((build + "planted.dll").c_str(), (folder + dll + ".dll").c_str(), FALSE);
    CopyFileA((build + "tovren.exe").c_str(), (folder + "tovren.exe").c_str(), FALSE);
    CopyFileA((build + "load_by_name.exe").c_str(), (folder + "load_by_name.exe").c_str(), FALSE);
    return folder;
}

void RemovePlantFolder(const std::string& folder, const std::string& dll) {
    for (std::string file :
         {dll + ".dll", std::string("tovren.exe"), std::string("load_by_name.exe")}) {
        DeleteFileA((folder + file).c_str());
    }
    RemoveDirectoryA(folder.c_str());
}

} // namespace

class PlantedDll : public ::testing::TestWithParam<const char*> {};

TEST_P(PlantedDll, BesideTheProgramIsNeverLoaded) {
    const std::string dll = GetParam();
    const std::string folder = MakePlantFolder(dll);
    // The plant is real: a program that loads the DLL by name from that folder ends with 99.
    // (Under Wine that takes WINEDLLOVERRIDES=<dll>=n,b in the environment the tests run with,
    // so that the program's folder is searched before the system's, as on Windows.)
    EXPECT_EQ(RunToExit("\"" + folder + "load_by_name.exe\" " + dll + ".dll", 60000), 99u);

    LaunchedProgram program;
    const bool shown = LaunchProgram(program, folder + "tovren.exe");
    EXPECT_TRUE(shown) << "the program did not open its window";
    if (shown) {
        // Drawing: OpenGL, GLU and the timer are all in use by now.
        EXPECT_TRUE(WaitUntilDrawing(program.window));
        PostMessageA(program.window, WM_CLOSE, 0, 0);
    }
    EXPECT_EQ(WaitForExitCode(program, 10000), 0) << "99 means the planted DLL was loaded";
    RemovePlantFolder(folder, dll);
}

INSTANTIATE_TEST_SUITE_P(SystemNames, PlantedDll,
                         ::testing::Values("opengl32", "glu32", "winmm", "dwmapi"));
