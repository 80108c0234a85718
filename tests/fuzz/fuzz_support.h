// Runs lumiload code and returns what it printed on standard output; its
// standard error is dropped (libFuzzer and the sanitizers write to fd 2).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

template <class Code> std::string printed(Code code)
{
    static char *buffer = nullptr;
    static size_t length = 0;
    static FILE *out = open_memstream(&buffer, &length);
    static FILE *nowhere = std::fopen("/dev/null", "w");
    stdout = out;
    stderr = nowhere;
    std::fseek(out, 0, SEEK_SET);
    code();
    std::fflush(out);
    return std::string(buffer, std::ftell(out));
}
