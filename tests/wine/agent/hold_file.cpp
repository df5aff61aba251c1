// Holds a file open, shared with nobody, until it is ended: another program
// using the agent's file, for the tests of a file that cannot be removed or
// replaced. Prints "held" once the file is open.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::printf("held\n");
    std::fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
}
