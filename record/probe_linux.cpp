#include "probe.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace cpubench {

namespace {

// The first `size` bytes of a small file under /proc or /sys.
std::string readSmall(const std::string& path, std::size_t size = 4096)
{
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return "";
    std::string text(size, '\0');
    text.resize(std::fread(text.data(), 1, size, file));
    std::fclose(file);
    return text;
}

double ticksPerSecond()
{
    static const double ticks = [] {
        const long hz = sysconf(_SC_CLK_TCK);
        return hz > 0 ? static_cast<double>(hz) : 100.0;
    }();
    return ticks;
}

// /proc/stat's first line: cpu user nice system idle iowait irq softirq steal
// guest guest_nice, in clock ticks. Work is user, nice, system, irq and
// softirq (guest time is counted in user already).
void readStat(Sample& sample)
{
    const std::string text = readSmall("/proc/stat", 512);
    if (text.compare(0, 4, "cpu ") != 0)
        return;
    unsigned long long v[8] = {};
    const int got = std::sscanf(text.c_str() + 4, "%llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2],
                                &v[3], &v[4], &v[5], &v[6], &v[7]);
    if (got < 7)
        return;
    sample.busy = static_cast<double>(v[0] + v[1] + v[2] + v[5] + v[6]) / ticksPerSecond();
    if (got == 8)
        sample.steal = static_cast<double>(v[7]) / ticksPerSecond();
}

// utime and stime of /proc/<pid>/stat (fields 14 and 15), counting the
// threads that ended too.
void readOwn(long pid, Sample& sample)
{
    const std::string text = readSmall("/proc/" + std::to_string(pid) + "/stat", 1024);
    // The command name in parentheses may hold blanks: count after it.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return;
    const char* p = text.c_str() + close + 1;
    unsigned long long utime = 0, stime = 0;
    // Fields 3 to 13, then utime and stime.
    if (std::sscanf(p, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) == 2)
        sample.own = static_cast<double>(utime + stime) / ticksPerSecond();
}

// The second field of each thread's schedstat: nanoseconds spent runnable,
// waiting for a processor.
void readRunDelay(long pid, Sample& sample)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return;
    double total = 0;
    bool any = false;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string text = readSmall(folder + "/" + entry->d_name + "/schedstat", 128);
        unsigned long long running = 0, waiting = 0;
        if (std::sscanf(text.c_str(), "%llu %llu", &running, &waiting) == 2) {
            total += static_cast<double>(waiting) / 1e9;
            any = true;
        }
    }
    closedir(dir);
    if (any)
        sample.runDelay = total;
}

void readThrottle(Sample& sample)
{
    long long total = 0;
    bool any = false;
    for (int cpu = 0; cpu < 4096; ++cpu) {
        const std::string folder = "/sys/devices/system/cpu/cpu" + std::to_string(cpu);
        if (access(folder.c_str(), F_OK) != 0)
            break;
        for (const char* name : {"core_throttle_count", "package_throttle_count"}) {
            const std::string text = readSmall(folder + "/thermal_throttle/" + name, 64);
            if (!text.empty()) {
                total += std::atoll(text.c_str());
                any = true;
            }
        }
    }
    if (any)
        sample.throttle = total;
}

} // namespace

Sample takeSample(long pid)
{
    Sample sample;
    sample.wall = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    readStat(sample);
    if (pid > 0) {
        readOwn(pid, sample);
        readRunDelay(pid, sample);
    }
    readThrottle(sample);
    return sample;
}

int onlineCpus()
{
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    return cpus > 0 ? static_cast<int>(cpus) : 1;
}

} // namespace cpubench
