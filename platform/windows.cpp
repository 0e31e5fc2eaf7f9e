// Windows implementation of the platform layer: LoadLibraryA/GetProcAddress/
// FreeLibrary and the C runtime's clock(), which on Windows counts real
// time since the process started (not processor time, as on POSIX systems).
#include "platform.h"

#include <cstring>
#include <ctime>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static_assert(CLOCKS_PER_SEC == 1000, "clock() ticks are read as milliseconds");

const char kGmpLibraryFile[] = "libgmp-10.dll";
const char kGmpNotFoundMessage[] = "libgmp-10.dll nicht gefunden";

namespace {

// Takes the current working directory out of the order in which Windows
// looks for a DLL. It may be a download or network folder where anyone can
// leave a DLL named like GMP's, which would then run inside the benchmark.
//
// What remains is the folder of the executable, the system folders
// (System32, the 16-bit system folder, the Windows folder) and the folders
// on PATH. SetDllDirectoryA puts the folder it is given in place of the
// working directory: it is given the executable's own folder, which comes
// first in the order anyway. SetDllDirectoryA("") would take the working
// directory out on Windows as well, but Wine ignores an empty string and
// keeps the working directory in the order; it serves only when the
// executable's folder cannot be read.
void excludeWorkingDirectory()
{
    char folder[32768];
    const DWORD length = GetModuleFileNameA(nullptr, folder, sizeof folder);
    char* name = length > 0 && length < sizeof folder ? std::strrchr(folder, '\\') : nullptr;
    if (name == nullptr) {
        SetDllDirectoryA("");
        return;
    }
    // A drive's root folder keeps its backslash: "C:" alone would mean the
    // working directory on drive C.
    name[name == folder + 2 && folder[1] == ':' ? 1 : 0] = '\0';
    SetDllDirectoryA(folder);
}

} // namespace

void* loadLibrary(const char* file)
{
    excludeWorkingDirectory();
    return reinterpret_cast<void*>(LoadLibraryA(file));
}

void* lookUpSymbol(void* library, const char* name)
{
    // GetProcAddress gives the address as a generic function pointer; the
    // binding casts it to each entry's own type.
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void releaseLibrary(void* library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}

long long readClockTicks()
{
    const std::clock_t ticks = std::clock();
    if (ticks == static_cast<std::clock_t>(-1))
        return -1;
    return static_cast<long long>(ticks);
}
