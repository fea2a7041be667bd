// Kept apart from the other replacements: the program's header redirects each function's name to
// its slot in the table, which is what this lookup needs and what a pass-through must not see.

#include <cstring>

#include "scene/system_libraries.h"
#include "support/replacements.h"

namespace {

struct NamedSlot {
    const char* function;
    void** slot;
};

// `&glViewport` is the address of the table's slot, through the program's own redirection.
#define TOVREN_SLOT(name)                                                                          \
    NamedSlot {                                                                                    \
#name, reinterpret_cast < void**>(&name)                                                   \
    }

const NamedSlot namedSlots[] = {
    TOVREN_SLOT(wglCreateContext),  TOVREN_SLOT(wglDeleteContext), TOVREN_SLOT(wglMakeCurrent),
    TOVREN_SLOT(wglGetProcAddress), TOVREN_SLOT(glViewport),       TOVREN_SLOT(timeGetTime),
};

#undef TOVREN_SLOT

} // namespace

void** SystemLibrarySlot(const char* function) {
    for (const NamedSlot& named : namedSlots) {
        if (std::strcmp(named.function, function) == 0) {
            return named.slot;
        }
    }
    return nullptr;
}
