# Cross build for 64-bit Windows with MinGW-w64. The posix thread model is named explicitly:
# the unsuffixed compilers use the win32 model, which lacks std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static runtime: the executables import nothing but Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The tests run here, under Wine's 64-bit loader, named by path: once 32-bit Wine is installed too,
# Debian's `wine` wrapper starts every program through the 32-bit loader (under emulation).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
