#include "stop_input.h"

#include <iostream>
#include <thread>

// Detached: the reader may block on a pipe that never closes; the process
// ends without waiting for it.
void listen_for_stop_line()
{
    std::thread([] { read_stop_line(std::cin); }).detach();
}
