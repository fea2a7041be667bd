// The tests' entry point: the program's system libraries are loaded once, as WinMain loads them,
// before any test drives the program's code.

#include <gtest/gtest.h>

#include <cstdio>

#include "scene/system_libraries.h"

int main(int argc, char** argv) {
    // Unbuffered: whatever was printed is seen even if the process is ended abruptly.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    ::testing::InitGoogleTest(&argc, argv);
    if (!LoadSystemLibraries()) {
        return 1;
    }
    return RUN_ALL_TESTS();
}
