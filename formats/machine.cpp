#include "machine.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

#ifndef _WIN32
// What a file that is no regular file is, for a message.
std::string fileKind(mode_t mode)
{
    return S_ISFIFO(mode)                     ? "a FIFO"
           : S_ISCHR(mode) || S_ISBLK(mode)   ? "a device"
           : S_ISSOCK(mode)                   ? "a socket"
           : S_ISDIR(mode)                    ? "a directory"
                                              : "an unusual file";
}
#endif

std::string mebibytes(std::size_t bytes)
{
    return std::to_string(bytes >> 20) + " MiB";
}

// The whole file as bytes (binary mode: the transcript reader handles CR LF
// itself), at most `limit` of them: a longer file is refused. '-' is
// standard input. A file met in a folder must be a regular file (checked
// again once open, in case it was replaced); a path given by itself may be
// anything that can be read, such as a pipe. Opening never waits for a
// FIFO's writer.
bool readAll(const std::string& name, std::size_t limit, bool regularOnly, std::string& bytes, std::string& error)
{
    const auto tooLarge = [&] {
        error = name + ": larger than " + mebibytes(limit) + ", more than any real one: refused";
        bytes.clear();
        return false;
    };
#ifdef _WIN32
    (void)regularOnly;
    errno = 0;
    std::FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        error = name + ": cannot read" + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        return false;
    }
    char buffer[65536];
    std::size_t count;
    bool large = false;
    while (!large && (count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        large = bytes.size() + count > limit;
        if (!large)
            bytes.append(buffer, count);
    }
    const bool failed = !large && std::ferror(file) != 0;
    if (file != stdin)
        std::fclose(file);
    if (large)
        return tooLarge();
    if (failed)
        error = name + ": cannot read";
    return !failed;
#else
    const int fd = name == "-" ? 0 : ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = name + ": cannot read: " + std::strerror(errno);
        return false;
    }
    const auto done = [&](bool ok) {
        if (fd != 0)
            ::close(fd);
        return ok;
    };
    struct stat info {};
    if (::fstat(fd, &info) == 0) {
        if (regularOnly && !S_ISREG(info.st_mode)) {
            error = name + ": " + fileKind(info.st_mode) + ", not a regular file";
            return done(false);
        }
        if (S_ISREG(info.st_mode) && static_cast<unsigned long long>(info.st_size) > limit)
            return done(tooLarge());
    }
    if (fd != 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            error = name + ": cannot read: " + std::strerror(errno);
            bytes.clear();
            return done(false);
        }
        if (count == 0)
            return done(true);
        if (bytes.size() + static_cast<std::size_t>(count) > limit)
            return done(tooLarge());
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
#endif
}

// Reads one transcript into `machine`; false (with the error) when the file
// cannot be read or holds no cpubench output.
bool addRun(Machine& machine, const std::string& path, const std::string& runName, bool inFolder,
            std::vector<std::string>& errors)
{
    std::string bytes, error;
    if (!readAll(path, kMaxTranscriptBytes, inFolder, bytes, error)) {
        errors.push_back(error);
        return false;
    }
    Run run;
    run.name = runName;
    run.transcript = readTranscript(bytes);
    if (!run.transcript.recognised()) {
        errors.push_back(path + ": not a cpubench transcript");
        return false;
    }
    machine.runs.push_back(std::move(run));
    return true;
}

// The directory's own name, also for "lab/a/", "." or "..".
std::string directoryName(const std::string& path)
{
    fs::path p = fs::path(path).lexically_normal();
    if (!p.has_filename())
        p = p.parent_path();
    if (p.filename() == "." || p.filename() == "..") {
        std::error_code ignored;
        const fs::path absolute = fs::weakly_canonical(fs::absolute(p, ignored), ignored);
        if (!absolute.empty())
            p = absolute;
    }
    const std::string name = p.filename().string();
    return name.empty() ? path : name;
}

// What a directory holds: its transcripts (in natural order), whether it has
// a machine.json, and its sub-directories (when asked for).
struct Listing {
    std::vector<std::string> transcripts;
    bool hasInfo = false;
    bool hasRecord = false; // session.json, from cpubench-record
    std::vector<std::string> directories;
    // Entries named like a transcript or machine.json that are no regular
    // file (a FIFO, a device, a socket, a dangling link), each as a note.
    std::vector<std::string> skipped;
};

// What a directory entry that is neither a regular file nor a directory is.
std::string oddKind(const fs::directory_entry& entry)
{
    std::error_code ignored, error;
    const bool link = entry.is_symlink(ignored);
    const fs::file_type type = entry.status(error).type();
    std::string kind;
    switch (type) {
    case fs::file_type::fifo: kind = "a FIFO"; break;
    case fs::file_type::block:
    case fs::file_type::character: kind = "a device"; break;
    case fs::file_type::socket: kind = "a socket"; break;
    case fs::file_type::not_found:
        return link ? "a dangling link" : "gone";
    default:
        if (link && error)
            return "a link that cannot be followed (" + error.message() + ")";
        kind = "an unusual file";
    }
    return link ? "a link to " + kind : kind;
}

// Lists `dir`; false with the error when it cannot be read. Only the
// entries' types are asked for, which most systems give without a stat.
bool listDirectory(const fs::path& dir, bool withDirectories, Listing& listing, std::string& error)
{
    std::error_code code;
    for (fs::directory_iterator it(dir, code), end; !code && it != end; it.increment(code)) {
        std::error_code statError;
        const fs::path& file = it->path();
        const bool named = file.filename() == "machine.json" || file.extension() == ".txt";
        if (it->is_regular_file(statError)) {
            if (file.filename() == "machine.json")
                listing.hasInfo = true;
            else if (file.filename() == session::kRecordFile)
                listing.hasRecord = true;
            else if (file.extension() == ".txt")
                listing.transcripts.push_back(file.filename().string());
        } else if (it->is_directory(statError)) {
            if (withDirectories)
                listing.directories.push_back(file.filename().string());
        } else if (named)
            listing.skipped.push_back(file.string() + ": " + oddKind(*it) + ", not a regular file");
    }
    if (code) {
        error = dir.string() + ": cannot read the directory: " + code.message();
        return false;
    }
    std::sort(listing.transcripts.begin(), listing.transcripts.end(), naturalLess);
    std::sort(listing.skipped.begin(), listing.skipped.end(), naturalLess);
    return true;
}

// The recorder's session.json in `dir`: whether the session is complete,
// and each run's disturbance figures, judged.
void readRecord(Machine& machine, const fs::path& dir, const std::string& prefix)
{
    const std::string path = (dir / session::kRecordFile).string();
    std::string text, error;
    session::SessionRecord record;
    if (readAll(path, kMaxInfoBytes, true, text, error))
        error = session::parseRecord(text, record);
    if (!error.empty()) {
        machine.notes.push_back(path + ": " + error + "; the session is compared without the recorder's figures");
        return;
    }
    if (record.state == session::SessionState::recording)
        machine.incomplete = "the recording did not end (the recorder was stopped or is still at work)";
    else if (record.state == session::SessionState::incomplete)
        machine.incomplete = record.reason.empty() ? "stopped early" : record.reason;
    for (Run& run : machine.runs)
        for (const session::RunRecord& entry : record.runs)
            if (prefix + entry.file == run.name)
                for (std::size_t line = 0; line < expected::kLineCount; ++line) {
                    run.figures[line] = entry.lines[line];
                    if (entry.lines[line] && record.cpus > 0)
                        run.disturbance[line] = session::judgeLine(*entry.lines[line], line, record.cpus);
                }
}

// The transcripts of `listing` in `dir` as the machine's runs, each named
// `prefix` + its file name, and the machine.json beside them; the entries
// that are no regular file go to `skipped`, after `lead`.
void readRuns(Machine& machine, const fs::path& dir, const Listing& listing, const std::string& prefix,
              std::vector<std::string>& errors, std::vector<std::string>& skipped, const std::string& lead)
{
    for (const std::string& entry : listing.skipped)
        skipped.push_back(lead + entry);
    machine.runs.reserve(listing.transcripts.size());
    for (const std::string& file : listing.transcripts)
        addRun(machine, (dir / file).string(), prefix + file, true, errors);
    if (listing.hasRecord)
        readRecord(machine, dir, prefix);
    if (!listing.hasInfo)
        return;
    const std::string infoPath = (dir / "machine.json").string();
    std::string text, readError;
    if (!readAll(infoPath, kMaxInfoBytes, true, text, readError))
        machine.infoError = readError;
    else {
        const std::string parseError = parseMachineInfo(text, machine.info);
        if (!parseError.empty())
            machine.infoError = infoPath + ": " + parseError;
    }
}

// A session folder's name as the lab playbook makes it: 2026-12-08T14.05Z,
// maybe with -2, -3, ... when two lab runs started in the same minute.
bool isSessionName(const std::string& name)
{
    const std::string shape = "dddd-dd-ddTdd.ddZ";
    if (name.size() < shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? !isDigit(name[i]) : name[i] != shape[i])
            return false;
    if (name.size() == shape.size())
        return true;
    if (name[shape.size()] != '-' || name.size() == shape.size() + 1)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(shape.size()) + 1, name.end(), isDigit);
}

// The sub-directories of `dir` that are sessions (named as sessions are,
// holding transcripts), with their listings, in natural name order. Any
// other sub-directory with transcripts (a backup, a copy) is named in a
// note and left out: by its name it would sort among the sessions.
std::vector<std::pair<std::string, Listing>> listSessions(const fs::path& dir, const Listing& listing,
                                                          std::vector<std::string>& errors,
                                                          std::vector<std::string>& notes)
{
    std::vector<std::pair<std::string, Listing>> sessions;
    for (const std::string& name : listing.directories) {
        Listing inner;
        std::string error;
        if (!listDirectory(dir / name, false, inner, error)) {
            if (isSessionName(name))
                errors.push_back(error);
        } else if (inner.transcripts.empty())
            continue;
        else if (isSessionName(name))
            sessions.emplace_back(name, std::move(inner));
        else
            notes.push_back((dir / name).string() + ": not a session folder (sessions are named by their start in "
                            "UTC, such as 2026-12-08T14.05Z), so its " + std::to_string(inner.transcripts.size()) +
                            " transcript" + (inner.transcripts.size() == 1 ? " is" : "s are") + " left out");
    }
    std::sort(sessions.begin(), sessions.end(),
              [](const auto& a, const auto& b) { return naturalLess(a.first, b.first); });
    return sessions;
}

void readDirectory(const std::string& path, ReadResult& result)
{
    Machine& machine = result.machine;
    machine.name = directoryName(path);
    Listing listing;
    std::string error;
    if (!listDirectory(path, true, listing, error)) {
        result.errors.push_back(error);
        return;
    }
    auto sessions = listSessions(path, listing, result.errors, machine.notes);
    if (!result.errors.empty())
        return;
    if (!sessions.empty()) {
        auto& [session, inner] = sessions.back();
        machine.session = session;
        if (!listing.transcripts.empty())
            machine.notes.push_back(machine.name + ": the transcripts directly in its folder (" +
                                    std::to_string(listing.transcripts.size()) +
                                    ", from before the lab kept sessions) are left out; its newest session, " +
                                    session + ", is compared");
        readRuns(machine, fs::path(path) / session, inner, machine.name + "/" + session + "/", result.errors,
                 machine.notes, "left out: ");
        return;
    }
    if (listing.transcripts.empty()) {
        result.errors.push_back(path + ": no transcript (*.txt) in the directory or its session folders");
        return;
    }
    // A session folder given by itself is named with its host's folder.
    if (isSessionName(machine.name)) {
        const std::string host = directoryName((fs::path(path) / "..").string());
        if (host != machine.name)
            machine.name = host + "/" + machine.name;
    }
    readRuns(machine, path, listing, machine.name + "/", result.errors, machine.notes, "left out: ");
}

// Calls visit(key, text in a, text in b) for every fact either description
// has, in machineFacts' order; an absent fact's text is empty.
template <typename Visit>
void visitFacts(const MachineInfo& a, const MachineInfo& b, Visit visit)
{
    const auto number = [](const std::optional<long long>& value) {
        return value ? std::to_string(*value) : std::string();
    };
    const auto text = [&](const char* key, std::string MachineInfo::*field) {
        if (!(a.*field).empty() || !(b.*field).empty())
            visit(key, a.*field, b.*field);
    };
    text("processor", &MachineInfo::processor);
    if (a.logicalCpus || b.logicalCpus)
        visit("logical_cpus", number(a.logicalCpus), number(b.logicalCpus));
    if (a.memoryMib || b.memoryMib)
        visit("memory_mib", number(a.memoryMib), number(b.memoryMib));
    text("os", &MachineInfo::os);
    text("kernel", &MachineInfo::kernel);
    text("virtualization", &MachineInfo::virtualization);
    text("microcode", &MachineInfo::microcode);
    text("firmware_vendor", &MachineInfo::firmwareVendor);
    text("firmware_version", &MachineInfo::firmwareVersion);
    text("firmware_date", &MachineInfo::firmwareDate);
    // Both maps are in name order: merged, each flaw once.
    const std::string none;
    auto i = a.mitigations.begin(), j = b.mitigations.begin();
    while (i != a.mitigations.end() || j != b.mitigations.end()) {
        if (j == b.mitigations.end() || (i != a.mitigations.end() && i->first < j->first)) {
            visit("mitigations." + i->first, i->second, none);
            ++i;
        } else if (i == a.mitigations.end() || j->first < i->first) {
            visit("mitigations." + j->first, none, j->second);
            ++j;
        } else {
            visit("mitigations." + i->first, i->second, j->second);
            ++i;
            ++j;
        }
    }
    text("glibc", &MachineInfo::glibc);
    text("c_runtime", &MachineInfo::cRuntime);
    text("gmp", &MachineInfo::gmp);
    text("gmp_version", &MachineInfo::gmpVersion);
    text("governor", &MachineInfo::governor);
    text("cpubench_version", &MachineInfo::cpubenchVersion);
}

} // namespace

bool MachineInfo::empty() const
{
    return machineFacts(*this).empty();
}

std::vector<std::pair<std::string, std::string>> machineFacts(const MachineInfo& info)
{
    std::vector<std::pair<std::string, std::string>> facts;
    facts.reserve(16 + info.mitigations.size());
    visitFacts(info, info, [&](std::string key, const std::string& value, const std::string&) {
        if (!value.empty())
            facts.emplace_back(std::move(key), value);
    });
    return facts;
}

std::vector<FactChange> factChanges(const MachineInfo& before, const MachineInfo& after)
{
    std::vector<FactChange> changes;
    visitFacts(before, after, [&](std::string key, const std::string& old, const std::string& now) {
        if (old != now)
            changes.push_back({std::move(key), old, now});
    });
    return changes;
}

std::string parseMachineInfo(const std::string& text, MachineInfo& info)
{
    using nlohmann::json;
    info = MachineInfo{};
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        // Without the library's "[json.exception.parse_error.101] ".
        std::string what = e.what();
        const std::size_t tag = what.find("] ");
        return "not valid JSON: " + (tag == std::string::npos ? what : what.substr(tag + 2));
    }
    if (!document.is_object())
        return "not a JSON object";
    MachineInfo read;
    for (const auto& [key, field] : kInfoTexts) {
        const auto it = document.find(key);
        if (it == document.end() || it->is_null())
            continue;
        if (!it->is_string())
            return std::string("\"") + key + "\" must be a string";
        read.*field = it->get<std::string>();
    }
    for (const auto& [key, field] : kInfoNumbers) {
        const auto it = document.find(key);
        if (it == document.end() || it->is_null())
            continue;
        if (!it->is_number_integer())
            return std::string("\"") + key + "\" must be a whole number";
        read.*field = it->get<long long>();
    }
    if (const auto it = document.find("mitigations"); it != document.end() && !it->is_null()) {
        if (!it->is_object())
            return "\"mitigations\" must be an object";
        for (const auto& [flaw, status] : it->items()) {
            if (!status.is_string())
                return "\"mitigations\": \"" + flaw + "\" must be a string";
            if (!status.get_ref<const std::string&>().empty())
                read.mitigations.emplace(flaw, status.get<std::string>());
        }
    }
    info = std::move(read);
    return "";
}

std::string writeMachineInfo(const MachineInfo& info)
{
    using nlohmann::json;
    json document = json::object();
    for (const auto& [key, field] : kInfoTexts)
        if (!(info.*field).empty())
            document[key] = info.*field;
    for (const auto& [key, field] : kInfoNumbers)
        if (info.*field)
            document[key] = *(info.*field);
    if (!info.mitigations.empty())
        document["mitigations"] = info.mitigations;
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool naturalLess(const std::string& a, const std::string& b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i, endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            // Compare the numbers without their leading zeros, by length first.
            std::size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == '0')
                ++startA;
            while (startB + 1 < endB && b[startB] == '0')
                ++startB;
            const std::string_view numberA(a.data() + startA, endA - startA);
            const std::string_view numberB(b.data() + startB, endB - startB);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j))
        return a.size() - i < b.size() - j;
    return a < b; // equal as numbers ("run-01", "run-1"): a fixed order
}

ReadResult readMachine(const std::string& path)
{
    ReadResult result;
    result.machine.source = path;
    std::error_code error;
    if (path != "-" && fs::is_directory(path, error)) {
        // A name the system's narrow encoding cannot hold throws on Windows.
        try {
            readDirectory(path, result);
        } catch (const std::exception& e) {
            result.errors.push_back(path + ": cannot read the directory: " + e.what());
        }
        return result;
    }
    result.machine.name = path;
    addRun(result.machine, path, path, false, result.errors);
    return result;
}

History readHistory(const std::string& path)
{
    History history;
    history.source = path;
    history.name = directoryName(path);
    // A name the system's narrow encoding cannot hold throws on Windows.
    try {
        std::error_code error;
        if (!fs::is_directory(path, error)) {
            history.errors.push_back(path + ": not a directory" + (error ? ": " + error.message() : ""));
            return history;
        }
        Listing listing;
        std::string listError;
        if (!listDirectory(path, true, listing, listError)) {
            history.errors.push_back(listError);
            return history;
        }
        auto sessions = listSessions(path, listing, history.errors, history.notes);
        history.sessions.reserve(sessions.size() + 1);
        const auto add = [&](const std::string& name, const fs::path& dir, const Listing& files,
                             const std::string& prefix) {
            Session session{name, {}};
            Machine& machine = session.machine;
            machine.name = history.name;
            machine.source = dir.string();
            readRuns(machine, dir, files, prefix, history.errors, history.errors, "");
            if (!machine.runs.empty())
                history.sessions.push_back(std::move(session));
        };
        // Transcripts beside sessions come from before the lab kept sessions.
        if (!listing.transcripts.empty())
            add(history.name, path, listing, history.name + "/");
        for (const auto& [name, files] : sessions)
            add(name, fs::path(path) / name, files, history.name + "/" + name + "/");
        if (history.sessions.empty() && history.errors.empty())
            history.errors.push_back(path + ": no transcript (*.txt) in the directory or its session folders");
    } catch (const std::exception& e) {
        history.errors.push_back(path + ": cannot read the directory: " + e.what());
    }
    return history;
}
