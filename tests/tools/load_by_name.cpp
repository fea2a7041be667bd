// Loads a DLL by bare name with the default search order, as a program that takes no care does:
// the control that shows a planted DLL beside it would be loaded.

#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    return LoadLibraryA(argv[1]) != nullptr ? 0 : 1;
}
