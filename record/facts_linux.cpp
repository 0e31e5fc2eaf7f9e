#include "facts.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <elf.h>
#include <fstream>
#include <sstream>
#include <sys/utsname.h>
#include <unistd.h>

namespace cpubench {

namespace {

// A small file's text without surrounding blanks; empty when unreadable.
std::string readText(const std::string& path, std::size_t limit = 1 << 20)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return "";
    std::string text(limit, '\0');
    file.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(file.gcount()));
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return "";
    return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

// The value after "name:" on the first line of `text` that has that name.
std::string field(const std::string& text, const std::string& name)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        if (key != name)
            continue;
        const std::size_t start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return "";
}

std::string osRelease()
{
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::istringstream lines(readText(path));
        for (std::string line; std::getline(lines, line);)
            if (line.rfind("PRETTY_NAME=", 0) == 0) {
                std::string value = line.substr(12);
                if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
                    value = value.substr(1, value.size() - 2);
                return value;
            }
    }
    return "";
}

// "kvm guest", "xen guest", ... or "none"; "container" inside one.
std::string virtualization(const std::string& cpuinfo)
{
    std::string kind;
    const std::string vendor = readText("/sys/class/dmi/id/sys_vendor");
    const std::string product = readText("/sys/class/dmi/id/product_name");
    const std::string hypervisor = readText("/sys/hypervisor/type");
    if (product.find("KVM") != std::string::npos || vendor.find("QEMU") != std::string::npos ||
        vendor.find("Amazon EC2") != std::string::npos)
        kind = "kvm";
    else if (vendor.find("VMware") != std::string::npos)
        kind = "VMware";
    else if (product.find("VirtualBox") != std::string::npos)
        kind = "virtualbox";
    else if (vendor.find("Microsoft") != std::string::npos && product.find("Virtual") != std::string::npos)
        kind = "VirtualPC";
    else if (hypervisor == "xen" || vendor.find("Xen") != std::string::npos)
        kind = "xen";
    else if (field(cpuinfo, "flags").find(" hypervisor") != std::string::npos)
        kind = "unknown";
    return kind.empty() ? "none" : kind + " guest";
}

std::string microcode(const std::string& cpuinfo)
{
    const std::string revision = readText("/sys/devices/system/cpu/cpu0/microcode/version");
    return revision.empty() ? field(cpuinfo, "microcode") : revision;
}

std::map<std::string, std::string> mitigations()
{
    std::map<std::string, std::string> states;
    const std::string folder = "/sys/devices/system/cpu/vulnerabilities";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return states;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string text = readText(folder + "/" + entry->d_name, 4096);
        if (!text.empty())
            states.emplace(entry->d_name, text);
    }
    closedir(dir);
    return states;
}

// The files the process maps, by path.
std::vector<std::string> mappedFiles(long pid)
{
    std::vector<std::string> files;
    std::istringstream lines(readText("/proc/" + std::to_string(pid) + "/maps", 1 << 22));
    for (std::string line; std::getline(lines, line);) {
        const std::size_t slash = line.find(" /");
        if (slash != std::string::npos)
            files.push_back(line.substr(slash + 1));
    }
    return files;
}

std::string baseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// A 64-bit ELF file's sections, and reads of its bytes.
struct ElfFile {
    std::ifstream file;
    std::vector<Elf64_Shdr> sections;

    bool readAt(std::uint64_t offset, void* into, std::size_t size)
    {
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(static_cast<char*>(into), static_cast<std::streamsize>(size));
        return static_cast<std::size_t>(file.gcount()) == size;
    }

    bool open(const std::string& path)
    {
        file.open(path, std::ios::binary);
        Elf64_Ehdr header;
        if (!file || !readAt(0, &header, sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
            header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr) || header.e_shnum > 4096)
            return false;
        sections.resize(header.e_shnum);
        return readAt(header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr));
    }

    // An address as a file offset, through the section that holds it; 0 when none does.
    std::uint64_t offsetOf(std::uint64_t at) const
    {
        for (const Elf64_Shdr& s : sections)
            if (s.sh_type != SHT_NOBITS && s.sh_addr != 0 && at >= s.sh_addr && at < s.sh_addr + s.sh_size)
                return at - s.sh_addr + s.sh_offset;
        return 0;
    }
};

// The address of the dynamic symbol `name`; 0 when there is none.
std::uint64_t symbolAddress(ElfFile& elf, const char* name)
{
    std::uint64_t address = 0;
    for (const Elf64_Shdr& symbols : elf.sections) {
        if (symbols.sh_type != SHT_DYNSYM || symbols.sh_link >= elf.sections.size() || symbols.sh_size > (64u << 20))
            continue;
        const Elf64_Shdr& names = elf.sections[symbols.sh_link];
        if (names.sh_size > (64u << 20))
            continue;
        std::vector<Elf64_Sym> table(symbols.sh_size / sizeof(Elf64_Sym));
        std::string text(names.sh_size, '\0');
        if (!elf.readAt(symbols.sh_offset, table.data(), table.size() * sizeof(Elf64_Sym)) ||
            !elf.readAt(names.sh_offset, text.data(), text.size()))
            return 0;
        for (const Elf64_Sym& symbol : table)
            if (symbol.st_name < text.size() && std::strcmp(text.c_str() + symbol.st_name, name) == 0)
                address = symbol.st_value;
    }
    return address;
}

// The value of the pointer at `address`: the addend of its relative
// relocation, or what the file holds there; 0 when neither can be read.
std::uint64_t pointerAt(ElfFile& elf, std::uint64_t address)
{
    std::uint64_t target = 0;
    for (const Elf64_Shdr& relocations : elf.sections) {
        if (relocations.sh_type != SHT_RELA || relocations.sh_size > (64u << 20))
            continue;
        std::vector<Elf64_Rela> table(relocations.sh_size / sizeof(Elf64_Rela));
        if (!elf.readAt(relocations.sh_offset, table.data(), table.size() * sizeof(Elf64_Rela)))
            return 0;
        for (const Elf64_Rela& entry : table)
            if (entry.r_offset == address && ELF64_R_TYPE(entry.r_info) == R_X86_64_RELATIVE)
                target = static_cast<std::uint64_t>(entry.r_addend);
    }
    if (target == 0) {
        const std::uint64_t at = elf.offsetOf(address);
        if (at == 0 || !elf.readAt(at, &target, sizeof target))
            return 0;
    }
    return target;
}

// GMP's version string, as the library holds it in __gmp_version: a
// pointer to the text, found through the dynamic symbols and relocated by
// a relative relocation in a shared library.
std::string gmpVersion(const std::string& path)
{
    ElfFile elf;
    if (!elf.open(path))
        return "";
    const std::uint64_t address = symbolAddress(elf, "__gmp_version");
    const std::uint64_t target = address == 0 ? 0 : pointerAt(elf, address);
    const std::uint64_t at = target == 0 ? 0 : elf.offsetOf(target);
    char version[33] = {};
    if (at == 0 || !elf.readAt(at, version, sizeof version - 1))
        return "";
    std::string text(version, strnlen(version, sizeof version - 1));
    // A version is digits and points.
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return "";
    return text;
}

// The C library's version from its file: the release banner it prints when
// started ("GNU C Library (...) stable release version 2.36.").
std::string glibcVersion(const std::string& path)
{
    const std::string bytes = readText(path, 8 << 20);
    const std::size_t banner = bytes.find("GNU C Library");
    if (banner == std::string::npos)
        return "";
    const std::size_t version = bytes.find("version ", banner);
    if (version == std::string::npos || version - banner > 200)
        return "";
    const std::size_t start = version + 8;
    std::size_t end = start;
    while (end < bytes.size() && (std::isdigit(static_cast<unsigned char>(bytes[end])) || bytes[end] == '.'))
        ++end;
    while (end > start && bytes[end - 1] == '.')
        --end;
    return bytes.substr(start, end - start);
}

} // namespace

MachineInfo gatherFacts()
{
    MachineInfo info;
    const std::string cpuinfo = readText("/proc/cpuinfo", 1 << 22);
    info.processor = field(cpuinfo, "model name");
    if (info.processor.empty())
        info.processor = "unknown";
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (cpus > 0)
        info.logicalCpus = cpus;
    const std::string memory = field(readText("/proc/meminfo"), "MemTotal");
    if (!memory.empty())
        info.memoryMib = std::atoll(memory.c_str()) / 1024;
    info.os = osRelease();
    utsname system{};
    if (uname(&system) == 0)
        info.kernel = system.release;
    info.virtualization = virtualization(cpuinfo);
    info.microcode = microcode(cpuinfo);
    info.firmwareVendor = readText("/sys/class/dmi/id/bios_vendor");
    info.firmwareVersion = readText("/sys/class/dmi/id/bios_version");
    info.firmwareDate = readText("/sys/class/dmi/id/bios_date");
    info.mitigations = mitigations();
    info.governor = readText("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor");
    return info;
}

bool addProcessFacts(MachineInfo& info, long pid)
{
    bool found = false;
    for (const std::string& file : mappedFiles(pid)) {
        const std::string name = baseName(file);
        if (name.rfind("libgmp.so.10", 0) == 0 && !found) {
            char real[4096];
            info.gmp = realpath(file.c_str(), real) != nullptr ? real : file;
            info.gmpVersion = gmpVersion(file);
            found = true;
        } else if (name.rfind("libc.so.6", 0) == 0 || name.rfind("libc-2.", 0) == 0) {
            info.glibc = glibcVersion(file);
        }
    }
    return found;
}

} // namespace cpubench
