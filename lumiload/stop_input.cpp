#include "stop_input.h"

#include <atomic>
#include <string>

static std::atomic<bool> stop_flag{false};

bool read_stop_line(std::istream &input)
{
    for (std::string line; std::getline(input, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "stop") {
            set_stop_requested(true);
            return true;
        }
    }
    return false;
}

bool stop_requested() { return stop_flag.load(); }

void set_stop_requested(bool requested) { stop_flag.store(requested); }
