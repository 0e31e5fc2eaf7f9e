#include "probe.h"

#include <windows.h>

#include <chrono>

namespace cpubench {

namespace {

double seconds(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
}

} // namespace

// Windows tells the processors' busy time and the process's own; it keeps
// no count of stolen time, of the time threads waited for a processor, or
// of thermal throttling that a program can read.
Sample takeSample(long pid)
{
    Sample sample;
    sample.wall = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    FILETIME idle, kernel, user;
    // Kernel time includes the idle time.
    if (GetSystemTimes(&idle, &kernel, &user))
        sample.busy = seconds(kernel) + seconds(user) - seconds(idle);
    if (pid > 0) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
        if (process != nullptr) {
            FILETIME created, exited, processKernel, processUser;
            if (GetProcessTimes(process, &created, &exited, &processKernel, &processUser))
                sample.own = seconds(processKernel) + seconds(processUser);
            CloseHandle(process);
        }
    }
    return sample;
}

int onlineCpus()
{
    const DWORD cpus = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return cpus > 0 ? static_cast<int>(cpus) : 1;
}

} // namespace cpubench
