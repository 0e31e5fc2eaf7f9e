// The few operating-system facilities the benchmark needs, behind one thin
// layer: loading a shared library by file name, looking up an exported
// symbol, releasing the library, and a real-time clock counted from the
// start of the process. One source file per platform implements it.
#pragma once

// File name under which the GMP shared library (interface version 10) is
// loaded, and the message printed when it cannot be loaded.
extern const char kGmpLibraryFile[];
extern const char kGmpNotFoundMessage[];

// Returns a handle, or nullptr when the library cannot be loaded.
void* loadLibrary(const char* file);
// Returns the address of an exported symbol, or nullptr when it is missing.
void* lookUpSymbol(void* library, const char* name);
void releaseLibrary(void* library);

// Ticks of real (wall-clock) time since the process started, counted in
// kClockTicksPerSecond ticks per second, or -1 when no time is available.
// It keeps counting real time while several threads run.
long long readClockTicks();
constexpr double kClockTicksPerSecond = 1000.0;
