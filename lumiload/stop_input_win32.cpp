#include "stop_input.h"

#include <iostream>

#include <windows.h>

// The toolchain's thread model has no std::thread: a thread of the
// system's own. It may block on a pipe that never closes; the process ends
// without waiting for it.
static DWORD WINAPI read_standard_input(LPVOID)
{
    read_stop_line(std::cin);
    return 0;
}

void listen_for_stop_line()
{
    HANDLE thread = CreateThread(nullptr, 0, read_standard_input, nullptr, 0, nullptr);
    if (thread)
        CloseHandle(thread);
}
