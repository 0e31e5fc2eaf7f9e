// The machines being compared, as read from the command line: a file is one
// machine with one run, a directory one machine with a run per *.txt file in
// it and an optional machine.json describing it.
#pragma once

#include "transcript.h"

#include <optional>
#include <string>
#include <vector>

struct Run {
    std::string name; // as named in messages: the file, or machine/file
    Transcript transcript;
};

// What machine.json says; every field optional.
struct MachineInfo {
    std::string processor;
    std::optional<long long> logicalCpus;
    std::optional<long long> memoryMib;
    std::string os;
    std::string kernel;
    std::string virtualization;

    bool empty() const;
};

struct Machine {
    std::string name;
    std::string source; // the path as given
    std::vector<Run> runs;
    MachineInfo info;
    std::string infoError; // why machine.json could not be used, naming it
};

// The outcome of reading one path: a machine, or the errors that make it
// unusable (each naming the file), which end the program with status 2.
struct ReadResult {
    Machine machine;
    std::vector<std::string> errors;
};

ReadResult readMachine(const std::string& path);

// Reads machine.json's text; unknown fields are ignored, a field of the
// wrong type is an error. Returns the error, empty when the text is usable.
std::string parseMachineInfo(const std::string& text, MachineInfo& info);

// Whether `a` comes before `b` with digit runs compared as numbers:
// run-2.txt before run-10.txt.
bool naturalLess(const std::string& a, const std::string& b);
