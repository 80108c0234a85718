// Lines that lumiload code prints on standard output; its standard error is dropped.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>

template <class Code> long printedLines(Code code)
{
    static char *buffer = nullptr;
    static size_t length = 0;
    static FILE *out = open_memstream(&buffer, &length), *nowhere = std::fopen("/dev/null", "w");
    stdout = out;
    stderr = nowhere;
    std::rewind(out);
    code();
    std::fflush(out);
    return std::count(buffer, buffer + std::ftell(out), '\n');
}
