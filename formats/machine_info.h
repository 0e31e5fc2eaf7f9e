// machine.json: what a machine is, as the recorder and the lab write it
// beside the runs, its fields, their reader and writer, and the facts that
// differ between two descriptions.
#pragma once

#include "format_error.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cpubench {

inline constexpr const char* kInfoFile = "machine.json";

// What machine.json says; every field optional (an empty text or map is an
// absent field). The JSON keys are in the comments.
struct MachineInfo {
    std::string processor;                 // processor
    std::optional<long long> logicalCpus;  // logical_cpus
    std::optional<long long> memoryMib;    // memory_mib
    std::string os;                        // os
    std::string kernel;                    // kernel
    std::string virtualization;            // virtualization
    std::string microcode;                 // microcode: the revision as the kernel reports it
    std::string firmwareVendor;            // firmware_vendor: the BIOS's
    std::string firmwareVersion;           // firmware_version
    std::string firmwareDate;              // firmware_date
    // mitigations: the kernel's status text per speculative-execution flaw,
    // by the name of its file in /sys/devices/system/cpu/vulnerabilities/.
    std::map<std::string, std::string> mitigations;
    std::string glibc;           // glibc: the C library's version
    std::string cRuntime;        // c_runtime: Windows' C runtimes and their versions
    std::string gmp;             // gmp: the file libgmp.so.10 resolves to
    std::string gmpVersion;      // gmp_version
    std::string governor;        // governor: cpu0's frequency governor
    std::string cpubenchVersion; // cpubench_version: the package the lab ran

    bool empty() const;
};

// Every field with its key, in the order the facts are listed: a text, a
// whole number, or (neither) the mitigations.
struct InfoField {
    const char* key;
    std::string MachineInfo::*text;
    std::optional<long long> MachineInfo::*number;
};
inline constexpr InfoField kInfoFields[] = {
    {"processor", &MachineInfo::processor, nullptr},
    {"logical_cpus", nullptr, &MachineInfo::logicalCpus},
    {"memory_mib", nullptr, &MachineInfo::memoryMib},
    {"os", &MachineInfo::os, nullptr},
    {"kernel", &MachineInfo::kernel, nullptr},
    {"virtualization", &MachineInfo::virtualization, nullptr},
    {"microcode", &MachineInfo::microcode, nullptr},
    {"firmware_vendor", &MachineInfo::firmwareVendor, nullptr},
    {"firmware_version", &MachineInfo::firmwareVersion, nullptr},
    {"firmware_date", &MachineInfo::firmwareDate, nullptr},
    {"mitigations", nullptr, nullptr},
    {"glibc", &MachineInfo::glibc, nullptr},
    {"c_runtime", &MachineInfo::cRuntime, nullptr},
    {"gmp", &MachineInfo::gmp, nullptr},
    {"gmp_version", &MachineInfo::gmpVersion, nullptr},
    {"governor", &MachineInfo::governor, nullptr},
    {"cpubench_version", &MachineInfo::cpubenchVersion, nullptr},
};

// Reads machine.json's text; unknown fields are ignored, a field of the
// wrong type is an error (then `info` is empty).
std::optional<FormatError> parseMachineInfo(const std::string& text, MachineInfo& info);

// Every present field, as a JSON object.
nlohmann::json infoJson(const MachineInfo& info);
// machine.json's text of `info`, as cpubench-record writes it and
// parseMachineInfo reads it.
std::string writeMachineInfo(const MachineInfo& info);

// Every field of `info` that is present, as its key and its text, in
// kInfoFields' order, the mitigations as "mitigations.<flaw>" per flaw in
// name order. Absent fields are left out, so two lists are compared by key
// (factChanges does).
std::vector<std::pair<std::string, std::string>> machineFacts(const MachineInfo& info);

// A fact that differs between two descriptions; an empty text is a fact one
// of them lacks.
struct FactChange {
    std::string key; // as machineFacts names it
    std::string before, after;
};

// The facts of `after` that differ from those of `before` (changed, added or
// gone), in machineFacts' order.
std::vector<FactChange> factChanges(const MachineInfo& before, const MachineInfo& after);

} // namespace cpubench
