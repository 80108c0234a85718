// Preloaded into lumiload by a test: from the Nth call on, fread delivers
// nothing, as on a medium that fails part-way through a file.
// FAILING_READ_AFTER=N selects N.

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
