#include "scene/extensions.h"

#include <cstdint>
#include <cstring>

#include "scene/system_libraries.h"

PFNGLPOINTPARAMETERFARBPROC glPointParameterfARB = nullptr;
PFNGLPOINTPARAMETERFVARBPROC glPointParameterfvARB = nullptr;
PFNWGLSWAPINTERVALEXTPROC wglSwapIntervalEXT = nullptr;

namespace {

template <typename Function>
Function GetEntryPoint(const char* name) {
    PROC address = wglGetProcAddress(name);
    // NOTE: some drivers return small integers or -1 instead of null for a name they do not know.
    const auto value = reinterpret_cast<std::intptr_t>(address);
    if (value == 0 || value == 1 || value == 2 || value == 3 || value == -1) {
        return nullptr;
    }
    // Through void(*)(), the one function type GCC lets any other be cast to without warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

const char* GetWglExtensionString() {
    if (auto getARB =
            GetEntryPoint<PFNWGLGETEXTENSIONSSTRINGARBPROC>("wglGetExtensionsStringARB")) {
        return getARB(wglGetCurrentDC());
    }
    if (auto getEXT =
            GetEntryPoint<PFNWGLGETEXTENSIONSSTRINGEXTPROC>("wglGetExtensionsStringEXT")) {
        return getEXT();
    }
    return nullptr;
}

} // namespace

bool HasExtension(const char* extensionList, const char* name) {
    if (extensionList == nullptr || *name == '\0') {
        return false;
    }
    const std::size_t length = std::strlen(name);
    for (const char* at = std::strstr(extensionList, name); at != nullptr;
         at = std::strstr(at + 1, name)) {
        const bool startsWord = at == extensionList || at[-1] == ' ';
        const bool endsWord = at[length] == ' ' || at[length] == '\0';
        if (startsWord && endsWord) {
            return true;
        }
    }
    return false;
}

bool GLeeInit() {
    glPointParameterfARB = nullptr;
    glPointParameterfvARB = nullptr;
    wglSwapIntervalEXT = nullptr;

    // Without a current context there is nothing to read.
    if (wglGetCurrentContext() == nullptr) {
        return false;
    }
    const char* glExtensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (glExtensions == nullptr) {
        return false;
    }
    const char* wglExtensions = GetWglExtensionString();

    if (HasExtension(glExtensions, "GL_ARB_point_parameters")) {
        glPointParameterfARB = GetEntryPoint<PFNGLPOINTPARAMETERFARBPROC>("glPointParameterfARB");
        glPointParameterfvARB =
            GetEntryPoint<PFNGLPOINTPARAMETERFVARBPROC>("glPointParameterfvARB");
    }
    // NOTE: older drivers list the swap control only in the GL extension string.
    if (HasExtension(wglExtensions, "WGL_EXT_swap_control") ||
        HasExtension(glExtensions, "WGL_EXT_swap_control")) {
        wglSwapIntervalEXT = GetEntryPoint<PFNWGLSWAPINTERVALEXTPROC>("wglSwapIntervalEXT");
    }
    return true;
}
