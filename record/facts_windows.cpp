#include "facts.h"

#include <windows.h>
#include <psapi.h>

#include <cstring>
#include <vector>

namespace cpubench {

namespace {

std::string registryText(HKEY root, const char* key, const char* name)
{
    char value[512];
    DWORD size = sizeof value;
    if (RegGetValueA(root, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return "";
    std::string text(value, strnlen(value, sizeof value));
    const std::size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? "" : text.substr(start, text.find_last_not_of(' ') - start + 1);
}

std::optional<DWORD> registryNumber(HKEY root, const char* key, const char* name)
{
    DWORD value = 0, size = sizeof value;
    if (RegGetValueA(root, key, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

// A file's version from its version resource: "10.0.19041.3636".
std::string fileVersion(const std::string& path)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0)
        return "";
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data()) ||
        !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) || info == nullptr)
        return "";
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS)) + "." + std::to_string(LOWORD(info->dwFileVersionLS));
}

std::string systemFile(const char* name)
{
    char folder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? name : std::string(folder, length) + "\\" + name;
}

} // namespace

MachineInfo gatherFacts()
{
    MachineInfo info;
    info.processor = registryText(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                                  "ProcessorNameString");
    if (info.processor.empty())
        info.processor = "unknown";
    const DWORD cpus = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (cpus > 0)
        info.logicalCpus = cpus;
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (GlobalMemoryStatusEx(&memory))
        info.memoryMib = static_cast<long long>(memory.ullTotalPhys / (1024 * 1024));
    // "Windows 10 Pro 22H2", and the build with its update revision.
    const char* current = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    const std::string product = registryText(HKEY_LOCAL_MACHINE, current, "ProductName");
    std::string display = registryText(HKEY_LOCAL_MACHINE, current, "DisplayVersion");
    if (display.empty())
        display = registryText(HKEY_LOCAL_MACHINE, current, "ReleaseId");
    info.os = product + (display.empty() ? "" : " " + display);
    std::string build = registryText(HKEY_LOCAL_MACHINE, current, "CurrentBuild");
    if (const auto revision = registryNumber(HKEY_LOCAL_MACHINE, current, "UBR"); revision && !build.empty())
        build += "." + std::to_string(*revision);
    info.kernel = build.empty() ? "" : "build " + build;
    // The Universal C Runtime's log computes the first line; msvcrt the rest.
    const std::string ucrt = fileVersion(systemFile("ucrtbase.dll"));
    const std::string msvcrt = fileVersion(systemFile("msvcrt.dll"));
    info.cRuntime = (ucrt.empty() ? "" : "ucrtbase " + ucrt) + (ucrt.empty() || msvcrt.empty() ? "" : ", ") +
                    (msvcrt.empty() ? "" : "msvcrt " + msvcrt);
    return info;
}

bool addProcessFacts(MachineInfo& info, long pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return false;
    HMODULE modules[1024];
    DWORD needed = 0;
    bool found = false;
    if (EnumProcessModules(process, modules, sizeof modules, &needed)) {
        const DWORD count = needed / sizeof(HMODULE) < 1024 ? needed / sizeof(HMODULE) : 1024;
        for (DWORD i = 0; i < count && !found; ++i) {
            char path[MAX_PATH * 4];
            const DWORD length = GetModuleFileNameExA(process, modules[i], path, sizeof path);
            if (length == 0)
                continue;
            const std::string file(path, length);
            const std::string name = file.substr(file.find_last_of("\\/") + 1);
            if (_stricmp(name.c_str(), "libgmp-10.dll") != 0)
                continue;
            info.gmp = file;
            found = true;
            // GMP's version, as the library holds it in __gmp_version.
            HMODULE library = LoadLibraryExA(file.c_str(), nullptr, 0);
            if (library != nullptr) {
                const auto version =
                    reinterpret_cast<const char* const*>(GetProcAddress(library, "__gmp_version"));
                if (version != nullptr && *version != nullptr)
                    info.gmpVersion.assign(*version, strnlen(*version, 32));
                FreeLibrary(library);
            }
        }
    }
    CloseHandle(process);
    return found;
}

} // namespace cpubench
