// What machines and histories are read from: the listing of a folder, its
// session folders, and its runs with their machine.json and session.json.
#pragma once

#include "read.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace cpubench {

// What a directory holds: its transcripts (in natural order), whether it has
// a machine.json and a session.json, and its sub-directories (when asked for).
struct Listing {
    std::vector<std::string> transcripts;
    bool hasInfo = false;
    bool hasRecord = false;
    std::vector<std::string> directories;
    // Entries named like a transcript, machine.json or session.json that are
    // no regular file (a FIFO, a device, a socket, a dangling link).
    std::vector<FileError> skipped;
};

// Lists `dir`; the error when it cannot be read.
std::optional<ReadIssue> listDirectory(const FileTree& files, const std::filesystem::path& dir, bool withDirectories,
                                       Listing& listing);

// The sub-directories of `dir` that are sessions (named as sessions are,
// holding transcripts), with their listings, in natural name order. Any
// other sub-directory with transcripts (a backup, a copy) is named in a
// note and left out: by its name it would sort among the sessions.
std::vector<std::pair<std::string, Listing>> listSessions(const FileTree& files, const std::filesystem::path& dir,
                                                          const Listing& listing, std::vector<ReadIssue>& errors,
                                                          std::vector<ReadIssue>& notes);

// The transcripts of `listing` in `dir` as the machine's runs, each named
// `prefix` + its file name, with the machine.json and session.json beside
// them; the entries that are no regular file go to `skipped`.
void readRuns(const FileTree& files, Machine& machine, const std::filesystem::path& dir, const Listing& listing,
              const std::string& prefix, std::vector<ReadIssue>& errors, std::vector<ReadIssue>& skipped);

// Reads one transcript into `machine`; false (with the error) when the file
// cannot be read or holds no cpubench output.
bool addRun(const FileTree& files, Machine& machine, const std::string& path, const std::string& runName,
            bool inFolder, std::vector<ReadIssue>& errors);

// The folder `path` cannot be read: the system says why.
ReadIssue cannotList(const std::string& path, std::string why);

// The directory's own name, also for "lab/a/", "." or "..".
std::string directoryName(const FileTree& files, const std::string& path);

} // namespace cpubench
