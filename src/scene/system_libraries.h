#pragma once

// The entry points the program takes from opengl32.dll, glu32.dll and winmm.dll, and the display
// timing it reads where the system has it (dwmapi.dll, gdi32.dll). None of them is imported:
// LoadSystemLibraries loads the DLLs from the system folder only, so that a DLL of the same name
// dropped beside the program (a downloads folder) is never loaded in place of Windows' own. Each
// name is then redirected to its slot in one table, so that the code still calls glClear,
// gluPerspective or timeGetTime by its own name.
//
// Include this header after any other OpenGL or multimedia header: from then on, those names in
// the file are the table's slots.

#include <windows.h>
#include <mmsystem.h>

#include <GL/gl.h>
#include <GL/glu.h>

#include <dwmapi.h>

// Every entry point the program takes from the three DLLs, each once: the table's slots, the
// loading loop and the tests' lookup of a slot by name are all made from this list.
#define TOVREN_SYSTEM_ENTRY_POINTS(X)                                                              \
    X("opengl32.dll", wglCreateContext)                                                            \
    X("opengl32.dll", wglDeleteContext)                                                            \
    X("opengl32.dll", wglMakeCurrent)                                                              \
    X("opengl32.dll", wglGetCurrentContext)                                                        \
    X("opengl32.dll", wglGetCurrentDC)                                                             \
    X("opengl32.dll", wglGetProcAddress)                                                           \
    X("opengl32.dll", glGetString)                                                                 \
    X("opengl32.dll", glShadeModel)                                                                \
    X("opengl32.dll", glEnable)                                                                    \
    X("opengl32.dll", glDisable)                                                                   \
    X("opengl32.dll", glClearColor)                                                                \
    X("opengl32.dll", glClearDepth)                                                                \
    X("opengl32.dll", glDepthFunc)                                                                 \
    X("opengl32.dll", glHint)                                                                      \
    X("opengl32.dll", glViewport)                                                                  \
    X("opengl32.dll", glMatrixMode)                                                                \
    X("opengl32.dll", glLoadIdentity)                                                              \
    X("opengl32.dll", glClear)                                                                     \
    X("opengl32.dll", glTranslatef)                                                                \
    X("opengl32.dll", glColor3f)                                                                   \
    X("opengl32.dll", glPointSize)                                                                 \
    X("opengl32.dll", glBegin)                                                                     \
    X("opengl32.dll", glVertex3f)                                                                  \
    X("opengl32.dll", glEnd)                                                                       \
    X("glu32.dll", gluPerspective)                                                                 \
    X("winmm.dll", timeGetTime)                                                                    \
    X("winmm.dll", timeBeginPeriod)                                                                \
    X("winmm.dll", timeEndPeriod)

// The display driver's own interface (d3dkmthk.h, which only the driver kit has): just the output
// of a monitor and where its scan-out is.
struct KmtOpenAdapterFromGdiDisplayName {
    WCHAR DeviceName[32]; // the monitor's GDI device name, "\\.\DISPLAY1"
    UINT hAdapter;
    LUID AdapterLuid;
    UINT VidPnSourceId;
};
struct KmtGetScanLine {
    UINT hAdapter;
    UINT VidPnSourceId;
    BOOLEAN InVerticalBlank;
    UINT ScanLine; // 0 is the first visible line; the lines of the vertical blank follow the last
};
struct KmtCloseAdapter {
    UINT hAdapter;
};
using KmtOpenAdapterFromGdiDisplayNameFunction = LONG(WINAPI*)(KmtOpenAdapterFromGdiDisplayName*);
using KmtGetScanLineFunction = LONG(WINAPI*)(KmtGetScanLine*);
using KmtCloseAdapterFunction = LONG(WINAPI*)(const KmtCloseAdapter*);

// Entry points that not every system has (Wine's gdi32 lacks D3DKMTGetScanLine): each slot stays
// null where its DLL or the entry point is missing, and the program does without.
#define TOVREN_OPTIONAL_ENTRY_POINTS(X)                                                            \
    X("dwmapi.dll", DwmGetCompositionTimingInfo, decltype(&::DwmGetCompositionTimingInfo))         \
    X("gdi32.dll", D3DKMTOpenAdapterFromGdiDisplayName, KmtOpenAdapterFromGdiDisplayNameFunction)  \
    X("gdi32.dll", D3DKMTGetScanLine, KmtGetScanLineFunction)                                      \
    X("gdi32.dll", D3DKMTCloseAdapter, KmtCloseAdapterFunction)

// Each slot has the exact type of the function it holds, calling convention included.
struct SystemLibraries {
#define TOVREN_SLOT(dll, name) decltype(&::name) name;
    TOVREN_SYSTEM_ENTRY_POINTS(TOVREN_SLOT)
#undef TOVREN_SLOT
#define TOVREN_OPTIONAL_SLOT(dll, name, type) type name;
    TOVREN_OPTIONAL_ENTRY_POINTS(TOVREN_OPTIONAL_SLOT)
#undef TOVREN_OPTIONAL_SLOT
};

// The one table of the process. Tests replace its slots to inject faults.
extern SystemLibraries systemLibraries;

// One entry point: where it comes from, the slot it fills and whether the program needs it.
struct SystemEntryPoint {
    const char* dll;
    const char* name;
    void** slot;
    bool optional;
};
#define TOVREN_COUNT(dll, name, ...) +1
constexpr int systemEntryPointCount =
    0 TOVREN_SYSTEM_ENTRY_POINTS(TOVREN_COUNT) TOVREN_OPTIONAL_ENTRY_POINTS(TOVREN_COUNT);
#undef TOVREN_COUNT
extern const SystemEntryPoint systemEntryPoints[systemEntryPointCount];

// Loads the DLLs from the system folder and fills every slot. When a library the program needs
// cannot be loaded it has told the user which, and returns false. Call it once, before anything
// else of the program runs.
bool LoadSystemLibraries();

#define wglCreateContext systemLibraries.wglCreateContext
#define wglDeleteContext systemLibraries.wglDeleteContext
#define wglMakeCurrent systemLibraries.wglMakeCurrent
#define wglGetCurrentContext systemLibraries.wglGetCurrentContext
#define wglGetCurrentDC systemLibraries.wglGetCurrentDC
#define wglGetProcAddress systemLibraries.wglGetProcAddress
#define glGetString systemLibraries.glGetString
#define glShadeModel systemLibraries.glShadeModel
#define glEnable systemLibraries.glEnable
#define glDisable systemLibraries.glDisable
#define glClearColor systemLibraries.glClearColor
#define glClearDepth systemLibraries.glClearDepth
#define glDepthFunc systemLibraries.glDepthFunc
#define glHint systemLibraries.glHint
#define glViewport systemLibraries.glViewport
#define glMatrixMode systemLibraries.glMatrixMode
#define glLoadIdentity systemLibraries.glLoadIdentity
#define glClear systemLibraries.glClear
#define glTranslatef systemLibraries.glTranslatef
#define glColor3f systemLibraries.glColor3f
#define glPointSize systemLibraries.glPointSize
#define glBegin systemLibraries.glBegin
#define glVertex3f systemLibraries.glVertex3f
#define glEnd systemLibraries.glEnd
#define gluPerspective systemLibraries.gluPerspective
#define timeGetTime systemLibraries.timeGetTime
#define timeBeginPeriod systemLibraries.timeBeginPeriod
#define timeEndPeriod systemLibraries.timeEndPeriod
#define DwmGetCompositionTimingInfo systemLibraries.DwmGetCompositionTimingInfo
#define D3DKMTOpenAdapterFromGdiDisplayName systemLibraries.D3DKMTOpenAdapterFromGdiDisplayName
#define D3DKMTGetScanLine systemLibraries.D3DKMTGetScanLine
#define D3DKMTCloseAdapter systemLibraries.D3DKMTCloseAdapter
