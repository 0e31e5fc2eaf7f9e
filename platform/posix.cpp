// POSIX implementation of the platform layer: dlopen/dlsym/dlclose and a
// monotonic clock. clock() cannot serve here: on POSIX systems it counts
// the processor time of all threads, not real time.
#include "platform.h"

#include <dlfcn.h>
#include <time.h>

const char kGmpLibraryFile[] = "libgmp.so.10";
const char kGmpNotFoundMessage[] = "libgmp.so.10 nicht gefunden";

void* loadLibrary(const char* file)
{
    return dlopen(file, RTLD_NOW | RTLD_LOCAL);
}

void* lookUpSymbol(void* library, const char* name)
{
    return dlsym(library, name);
}

void releaseLibrary(void* library)
{
    dlclose(library);
}

namespace {

bool readMonotonic(timespec& now)
{
    return clock_gettime(CLOCK_MONOTONIC, &now) == 0;
}

// The clock's origin, taken while the program is initialised, before main
// runs: the closest the process itself can get to its own start.
struct Origin {
    timespec at;
    bool valid;
};

Origin takeOrigin()
{
    Origin origin{};
    origin.valid = readMonotonic(origin.at);
    return origin;
}

const Origin processStart = takeOrigin();

} // namespace

long long readClockTicks()
{
    timespec now{};
    if (!processStart.valid || !readMonotonic(now))
        return -1;
    const long long seconds = now.tv_sec - processStart.at.tv_sec;
    const long long nanoseconds = now.tv_nsec - processStart.at.tv_nsec;
    // Whole milliseconds, as a tick counter would report them.
    return (seconds * 1000000000LL + nanoseconds) / 1000000LL;
}
