#pragma once

// The entry points the program takes from opengl32.dll, glu32.dll and winmm.dll. None of them is
// imported: LoadSystemLibraries loads the three DLLs from the system folder only, so that a DLL
// of the same name dropped beside the program (a downloads folder) is never loaded in place of
// Windows' own. Each name is then redirected to its slot in one table, so that the code still
// calls glClear, gluPerspective or timeGetTime by its own name.
//
// Include this header after any other OpenGL or multimedia header: from then on, those names in
// the file are the table's slots.

#include <windows.h>
#include <mmsystem.h>

#include <GL/gl.h>
#include <GL/glu.h>

// Each slot has the exact type of the function it holds, calling convention included.
struct SystemLibraries {
    // opengl32.dll
    decltype(&::wglCreateContext) wglCreateContext;
    decltype(&::wglDeleteContext) wglDeleteContext;
    decltype(&::wglMakeCurrent) wglMakeCurrent;
    decltype(&::wglGetCurrentContext) wglGetCurrentContext;
    decltype(&::wglGetCurrentDC) wglGetCurrentDC;
    decltype(&::wglGetProcAddress) wglGetProcAddress;
    decltype(&::glGetString) glGetString;
    decltype(&::glShadeModel) glShadeModel;
    decltype(&::glEnable) glEnable;
    decltype(&::glDisable) glDisable;
    decltype(&::glClearColor) glClearColor;
    decltype(&::glClearDepth) glClearDepth;
    decltype(&::glDepthFunc) glDepthFunc;
    decltype(&::glHint) glHint;
    decltype(&::glViewport) glViewport;
    decltype(&::glMatrixMode) glMatrixMode;
    decltype(&::glLoadIdentity) glLoadIdentity;
    decltype(&::glClear) glClear;
    decltype(&::glTranslatef) glTranslatef;
    decltype(&::glColor3f) glColor3f;
    decltype(&::glPointSize) glPointSize;
    decltype(&::glBegin) glBegin;
    decltype(&::glVertex3f) glVertex3f;
    decltype(&::glEnd) glEnd;
    // glu32.dll
    decltype(&::gluPerspective) gluPerspective;
    // winmm.dll
    decltype(&::timeGetTime) timeGetTime;
    decltype(&::timeBeginPeriod) timeBeginPeriod;
    decltype(&::timeEndPeriod) timeEndPeriod;
};

// The one table of the process. Tests replace its slots to inject faults.
extern SystemLibraries systemLibraries;

// Loads the three DLLs from the system folder and fills every slot. On failure it has told the
// user which library could not be loaded, and returns false. Call it once, before anything else
// of the program runs.
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
