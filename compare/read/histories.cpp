#include "folders.h"

#include <exception>

namespace cpubench {

namespace fs = std::filesystem;

namespace {

// One session's runs into the history; a session without any is dropped.
void addSession(const FileTree& files, History& history, const std::string& name, const fs::path& dir,
                const Listing& listing, const std::string& prefix)
{
    Session session{name, {}};
    Machine& machine = session.machine;
    machine.name = history.name;
    machine.source = dir.string();
    readRuns(files, machine, dir, listing, prefix, history.errors, history.errors);
    if (!machine.runs.empty())
        history.sessions.push_back(std::move(session));
}

void readSessions(const FileTree& files, const std::string& path, History& history)
{
    std::string error;
    if (!files.isDirectory(path, error)) {
        ReadIssue issue{ReadIssue::Kind::notDirectory, path};
        issue.system = error;
        history.errors.push_back(std::move(issue));
        return;
    }
    Listing listing;
    if (std::optional<ReadIssue> listError = listDirectory(files, path, true, listing)) {
        history.errors.push_back(std::move(*listError));
        return;
    }
    auto sessions = listSessions(files, path, listing, history.errors, history.notes);
    history.sessions.reserve(sessions.size() + 1);
    // Transcripts beside sessions come from before the lab kept sessions.
    if (!listing.transcripts.empty())
        addSession(files, history, history.name, path, listing, history.name + "/");
    for (const auto& [name, inner] : sessions)
        addSession(files, history, name, fs::path(path) / name, inner, history.name + "/" + name + "/");
    if (history.sessions.empty() && history.errors.empty())
        history.errors.push_back({ReadIssue::Kind::noTranscript, path});
}

} // namespace

History readHistory(const FileTree& files, const std::string& path)
{
    History history;
    history.source = path;
    history.name = directoryName(files, path);
    // A name the system's narrow encoding cannot hold throws on Windows.
    try {
        readSessions(files, path, history);
    } catch (const std::exception& e) {
        history.errors.push_back(cannotList(path, e.what()));
    }
    return history;
}

} // namespace cpubench
