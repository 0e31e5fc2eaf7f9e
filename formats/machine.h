// The machines being compared, as read from the command line: a file is one
// machine with one run, a directory one machine with a run per *.txt file in
// it and an optional machine.json describing it.
//
// A directory may also be a machine's history, as the lab playbook keeps it:
// a session folder per lab run, named by the run's start in UTC so that the
// names sort in time order (results/<host>/2026-12-08T14.05Z/run-1.txt), each
// with its runs and its own machine.json. A sub-directory that holds *.txt
// files is a session; the others are ignored.
//
// Only regular files (or links to them) are read from a folder: a FIFO, a
// device, a socket or a dangling link named like a transcript or
// machine.json is skipped and named (Machine::notes, History::errors). A
// path given by itself may be anything that can be read, such as a pipe.
// A transcript larger than kMaxTranscriptBytes, or a machine.json larger
// than kMaxInfoBytes, is refused with an error.
#pragma once

#include "session.h"
#include "transcript.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The largest transcript and machine.json read; a larger file is refused.
// A transcript is under 1 KiB, a console's copy of many runs some KiB, a
// machine.json 2 KiB: the limits only stop a file that is no such thing
// (or /dev/zero) from filling the memory.
inline constexpr std::size_t kMaxTranscriptBytes = std::size_t{4} << 20;
inline constexpr std::size_t kMaxInfoBytes = std::size_t{1} << 20;

struct Run {
    std::string name; // as named in messages: the file, or machine/file
    Transcript transcript;
    // What the recorder saw while each line ran (session.json), when a
    // recorder wrote the run.
    std::array<std::optional<session::LineFigures>, expected::kLineCount> figures{};
    // Per line: whether those figures call it disturbed, and by how much.
    std::array<session::LineJudgement, expected::kLineCount> disturbance{};
};

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

// The text fields of MachineInfo with their machine.json keys.
inline constexpr std::pair<const char*, std::string MachineInfo::*> kInfoTexts[] = {
    {"processor", &MachineInfo::processor},
    {"os", &MachineInfo::os},
    {"kernel", &MachineInfo::kernel},
    {"virtualization", &MachineInfo::virtualization},
    {"microcode", &MachineInfo::microcode},
    {"firmware_vendor", &MachineInfo::firmwareVendor},
    {"firmware_version", &MachineInfo::firmwareVersion},
    {"firmware_date", &MachineInfo::firmwareDate},
    {"glibc", &MachineInfo::glibc},
    {"c_runtime", &MachineInfo::cRuntime},
    {"gmp", &MachineInfo::gmp},
    {"gmp_version", &MachineInfo::gmpVersion},
    {"governor", &MachineInfo::governor},
    {"cpubench_version", &MachineInfo::cpubenchVersion},
};
// The whole-number fields with their keys; "mitigations" is the one object.
inline constexpr std::pair<const char*, std::optional<long long> MachineInfo::*> kInfoNumbers[] = {
    {"logical_cpus", &MachineInfo::logicalCpus},
    {"memory_mib", &MachineInfo::memoryMib},
};

// machine.json's text of `info`: every present field, keys in name order,
// as cpubench-record writes it and parseMachineInfo reads it.
std::string writeMachineInfo(const MachineInfo& info);

// Every field of `info` that is present, as its machine.json key and its
// text, in a fixed order: processor, logical_cpus, memory_mib, os, kernel,
// virtualization, microcode, firmware_vendor, firmware_version,
// firmware_date, "mitigations.<flaw>" per flaw in name order, glibc, c_runtime, gmp,
// gmp_version, governor, cpubench_version. Absent fields are left out, so
// two lists are compared by key (factChanges does).
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

struct Machine {
    std::string name;
    std::string source; // the path as given
    std::vector<Run> runs;
    MachineInfo info;
    std::string infoError; // why machine.json could not be used, naming it
    // readMachine of a history: the session folder read (its newest), which
    // the comparison names in a note; empty otherwise, also in a Session.
    std::string session;
    // Remarks from reading that change no exit status (runs of an earlier
    // layout left out); the comparison's notes carry them.
    std::vector<std::string> notes;
    // A recorded session that did not run to its end: why, as session.json
    // says (empty for a complete session, or one without session.json).
    std::string incomplete{};
    // Disturbed lines are named but stay in the statistics.
    bool keepDisturbed = false;
};

// The outcome of reading one path: a machine, or the errors that make it
// unusable (each naming the file), which end the program with status 2.
struct ReadResult {
    Machine machine;
    std::vector<std::string> errors;
};

// A file is a machine of one run named by the path as given ('-' is
// standard input). A directory is a machine named by the directory: when it
// holds session folders, its newest session (the last in natural name
// order) is read, with Machine::session set; else its own *.txt files are
// the runs. Transcripts directly in a folder that also holds sessions come
// from an earlier layout of the lab: they are left out, with a note. A
// session folder given by itself is named "<host folder>/<session>".
ReadResult readMachine(const std::string& path);

// One session of a history: its runs (named "<history>/<session>/<file>")
// and its machine.json, read as a directory machine is; machine.name is the
// history's name, machine.source the session folder.
struct Session {
    std::string name; // the session folder's name
    Machine machine;
};

// One machine's history, sessions in time order (natural name order).
// A folder without sessions is a history of one session named after the
// folder. In a folder with both, its own transcripts come from an earlier
// layout of the lab, before any session: they are the first session, named
// after the folder.
struct History {
    std::string name;   // the folder's own name
    std::string source; // the path as given
    std::vector<Session> sessions;
    // Files and folders that could not be read, or are no transcript, each
    // naming the path; a session keeps the runs that could be read, and a
    // session left with none is dropped. No session at all is an error too.
    // An unusable machine.json is its session's machine.infoError instead.
    std::vector<std::string> errors;
    // Remarks that change no exit status: folders left out as no session.
    std::vector<std::string> notes;
};

History readHistory(const std::string& path);

// Reads machine.json's text; unknown fields are ignored, a field of the
// wrong type is an error. Returns the error, empty when the text is usable.
std::string parseMachineInfo(const std::string& text, MachineInfo& info);

// Whether `a` comes before `b` with digit runs compared as numbers:
// run-2.txt before run-10.txt.
bool naturalLess(const std::string& a, const std::string& b);
