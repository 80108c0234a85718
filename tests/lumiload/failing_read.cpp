// Preloaded into lumiload by a test: after FAILING_READ_AFTER calls, fread
// delivers nothing, as a medium that fails part-way through a file.

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

extern "C" size_t fread(void *buffer, size_t size, size_t count, FILE *stream)
{
    using Fread = size_t (*)(void *, size_t, size_t, FILE *);
    static Fread real = reinterpret_cast<Fread>(dlsym(RTLD_NEXT, "fread"));
    static long calls = 0;
    static const char *after = std::getenv("FAILING_READ_AFTER");
    if (after && ++calls > std::atol(after))
        return 0;
    return real(buffer, size, count, stream);
}
