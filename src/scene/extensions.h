#pragma once

// A small extension loader offering just the entry points the renderer uses. Each entry point is
// set only when the driver reports its extension, and stays null otherwise.

#include <windows.h>

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/wglext.h>

// GL_ARB_point_parameters
extern PFNGLPOINTPARAMETERFARBPROC glPointParameterfARB;
extern PFNGLPOINTPARAMETERFVARBPROC glPointParameterfvARB;
// WGL_EXT_swap_control
extern PFNWGLSWAPINTERVALEXTPROC wglSwapIntervalEXT;

// Reads the GL and WGL extension strings of the current context and loads the entry points of
// the extensions they report. Returns false, with every entry point null, when there is nothing
// to read (no current context).
bool GLeeInit();

// True when the space-separated list names the extension exactly (not as part of a longer name).
bool HasExtension(const char* extensionList, const char* name);
