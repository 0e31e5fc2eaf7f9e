#include "folders.h"

#include "session_names.h"

#include <algorithm>

namespace cpubench {

namespace fs = std::filesystem;

namespace {

ReadIssue fileIssue(const FileError& error)
{
    ReadIssue issue{ReadIssue::Kind::file, error.path};
    issue.file = error;
    return issue;
}

// What the recorder's session.json says of the session: whether it ended,
// and each run's figures (the runs named `prefix` + the record's file name).
void applyRecord(Machine& machine, const SessionRecord& record, const std::string& prefix)
{
    machine.recording = record.state;
    machine.stopReason = record.reason;
    machine.cpus = record.cpus;
    for (Run& run : machine.runs)
        for (const RunRecord& entry : record.runs)
            if (prefix + entry.file == run.name)
                run.figures = entry.lines;
}

void readRecord(const FileTree& files, Machine& machine, const fs::path& dir, const std::string& prefix)
{
    const std::string path = (dir / kRecordFile).string();
    std::string text;
    SessionRecord record;
    if (const std::optional<FileError> error = files.read(path, kMaxInfoBytes, true, text))
        machine.recordError = fileIssue(*error);
    else if (const std::optional<FormatError> format = parseRecord(text, record)) {
        machine.recordError = ReadIssue{ReadIssue::Kind::badFormat, path};
        machine.recordError->format = *format;
    } else
        applyRecord(machine, record, prefix);
}

void readInfo(const FileTree& files, Machine& machine, const fs::path& dir)
{
    const std::string path = (dir / kInfoFile).string();
    std::string text;
    if (const std::optional<FileError> error = files.read(path, kMaxInfoBytes, true, text))
        machine.infoError = fileIssue(*error);
    else if (const std::optional<FormatError> format = parseMachineInfo(text, machine.info)) {
        machine.infoError = ReadIssue{ReadIssue::Kind::badFormat, path};
        machine.infoError->format = *format;
    }
}

} // namespace

std::optional<ReadIssue> listDirectory(const FileTree& files, const fs::path& dir, bool withDirectories,
                                       Listing& listing)
{
    std::vector<FileEntry> entries;
    if (const std::optional<std::string> error = files.list(dir.string(), entries))
        return cannotList(dir.string(), *error);
    for (const FileEntry& entry : entries) {
        const fs::path file = dir / entry.name;
        const bool info = entry.name == kInfoFile, record = entry.name == kRecordFile;
        const bool transcript = fs::path(entry.name).extension() == ".txt";
        if (entry.type == FileEntry::Type::regular) {
            listing.hasInfo = listing.hasInfo || info;
            listing.hasRecord = listing.hasRecord || record;
            if (!info && !record && transcript)
                listing.transcripts.push_back(entry.name);
        } else if (entry.type == FileEntry::Type::directory) {
            if (withDirectories)
                listing.directories.push_back(entry.name);
        } else if (info || record || transcript)
            listing.skipped.push_back({FileError::Kind::notRegular, file.string(), "", 0, entry.odd});
    }
    std::sort(listing.transcripts.begin(), listing.transcripts.end(), naturalLess);
    std::sort(listing.skipped.begin(), listing.skipped.end(),
              [](const FileError& a, const FileError& b) { return naturalLess(a.path, b.path); });
    return std::nullopt;
}

std::vector<std::pair<std::string, Listing>> listSessions(const FileTree& files, const fs::path& dir,
                                                          const Listing& listing, std::vector<ReadIssue>& errors,
                                                          std::vector<ReadIssue>& notes)
{
    std::vector<std::pair<std::string, Listing>> sessions;
    for (const std::string& name : listing.directories) {
        Listing inner;
        if (std::optional<ReadIssue> error = listDirectory(files, dir / name, false, inner)) {
            if (isSessionName(name))
                errors.push_back(std::move(*error));
        } else if (inner.transcripts.empty())
            continue;
        else if (isSessionName(name))
            sessions.emplace_back(name, std::move(inner));
        else {
            ReadIssue note{ReadIssue::Kind::notSession, (dir / name).string()};
            note.count = inner.transcripts.size();
            notes.push_back(std::move(note));
        }
    }
    std::sort(sessions.begin(), sessions.end(),
              [](const auto& a, const auto& b) { return naturalLess(a.first, b.first); });
    return sessions;
}

void readRuns(const FileTree& files, Machine& machine, const fs::path& dir, const Listing& listing,
              const std::string& prefix, std::vector<ReadIssue>& errors, std::vector<ReadIssue>& skipped)
{
    for (const FileError& entry : listing.skipped)
        skipped.push_back(fileIssue(entry));
    machine.runs.reserve(listing.transcripts.size());
    for (const std::string& file : listing.transcripts)
        addRun(files, machine, (dir / file).string(), prefix + file, true, errors);
    if (listing.hasRecord)
        readRecord(files, machine, dir, prefix);
    if (listing.hasInfo)
        readInfo(files, machine, dir);
}

bool addRun(const FileTree& files, Machine& machine, const std::string& path, const std::string& runName,
            bool inFolder, std::vector<ReadIssue>& errors)
{
    std::string bytes;
    if (const std::optional<FileError> error = files.read(path, kMaxTranscriptBytes, inFolder, bytes)) {
        errors.push_back(fileIssue(*error));
        return false;
    }
    Run run;
    run.name = runName;
    run.transcript = readTranscript(bytes);
    if (!run.transcript.recognised()) {
        errors.push_back({ReadIssue::Kind::notTranscript, path});
        return false;
    }
    machine.runs.push_back(std::move(run));
    return true;
}

ReadIssue cannotList(const std::string& path, std::string why)
{
    ReadIssue issue{ReadIssue::Kind::cannotList, path};
    issue.system = std::move(why);
    return issue;
}

std::string directoryName(const FileTree& files, const std::string& path)
{
    fs::path p = fs::path(path).lexically_normal();
    if (!p.has_filename())
        p = p.parent_path();
    if (p.filename() == "." || p.filename() == "..") {
        const std::string absolute = files.absolute(p.string());
        if (!absolute.empty())
            p = absolute;
    }
    const std::string name = p.filename().string();
    return name.empty() ? path : name;
}

} // namespace cpubench
