#include "folders.h"
#include "session_names.h"

#include <exception>

namespace cpubench {

namespace fs = std::filesystem;

namespace {

// The sessions before the newest (at most kEarlierSessions), for the
// machine's wander: what cannot be read of them is only a note.
void readEarlier(const FileTree& files, const std::string& path,
                 const std::vector<std::pair<std::string, Listing>>& sessions, MachineRead& result)
{
    Machine& machine = result.machine;
    const std::size_t first = sessions.size() - 1 > kEarlierSessions ? sessions.size() - 1 - kEarlierSessions : 0;
    for (std::size_t s = first; s + 1 < sessions.size(); ++s) {
        const auto& [name, inner] = sessions[s];
        Machine earlier;
        earlier.name = machine.name;
        earlier.source = (fs::path(path) / name).string();
        earlier.newestSession = name;
        std::vector<ReadIssue> errors;
        readRuns(files, earlier, fs::path(path) / name, inner, machine.name + "/" + name + "/", errors, machine.notes);
        for (ReadIssue& error : errors)
            machine.notes.push_back(std::move(error));
        if (!earlier.runs.empty())
            machine.earlier.push_back(std::move(earlier));
    }
}

// A machine's history given for a comparison: its newest session, the
// sessions before it for its wander, and a note on the transcripts of the
// layout before sessions beside it.
void readNewest(const FileTree& files, const std::string& path, const Listing& listing,
                const std::vector<std::pair<std::string, Listing>>& sessions, MachineRead& result)
{
    const std::pair<std::string, Listing>& newest = sessions.back();
    Machine& machine = result.machine;
    const auto& [session, inner] = newest;
    machine.newestSession = session;
    if (!listing.transcripts.empty()) {
        ReadIssue note{ReadIssue::Kind::looseTranscripts, machine.name};
        note.count = listing.transcripts.size();
        note.session = session;
        machine.notes.push_back(std::move(note));
    }
    readRuns(files, machine, fs::path(path) / session, inner, machine.name + "/" + session + "/", result.errors,
             machine.notes);
    if (result.errors.empty())
        readEarlier(files, path, sessions, result);
}

void readDirectory(const FileTree& files, const std::string& path, MachineRead& result)
{
    Machine& machine = result.machine;
    machine.name = directoryName(files, path);
    Listing listing;
    if (std::optional<ReadIssue> error = listDirectory(files, path, true, listing)) {
        result.errors.push_back(std::move(*error));
        return;
    }
    auto sessions = listSessions(files, path, listing, result.errors, machine.notes);
    if (!result.errors.empty())
        return;
    if (!sessions.empty())
        return readNewest(files, path, listing, sessions, result);
    if (listing.transcripts.empty()) {
        result.errors.push_back({ReadIssue::Kind::noTranscript, path});
        return;
    }
    // A session folder given by itself is named with its host's folder.
    if (isSessionName(machine.name)) {
        const std::string host = directoryName(files, (fs::path(path) / "..").string());
        if (host != machine.name)
            machine.name = host + "/" + machine.name;
    }
    readRuns(files, machine, path, listing, machine.name + "/", result.errors, machine.notes);
}

} // namespace

MachineRead readMachine(const FileTree& files, const std::string& path)
{
    MachineRead result;
    result.machine.source = path;
    std::string ignored;
    if (path != "-" && files.isDirectory(path, ignored)) {
        // A name the system's narrow encoding cannot hold throws on Windows.
        try {
            readDirectory(files, path, result);
        } catch (const std::exception& e) {
            result.errors.push_back(cannotList(path, e.what()));
        }
        return result;
    }
    result.machine.name = path;
    addRun(files, result.machine, path, path, false, result.errors);
    return result;
}

} // namespace cpubench
