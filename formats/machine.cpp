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

namespace fs = std::filesystem;

namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The whole file as bytes (binary mode: the transcript reader handles CR LF
// itself). '-' is standard input.
bool readAll(const std::string& name, std::string& bytes, std::string& error)
{
    errno = 0;
    std::FILE* file = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
    if (file == nullptr) {
        error = name + ": cannot read" + (errno != 0 ? std::string(": ") + std::strerror(errno) : "");
        return false;
    }
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, count);
    const bool failed = std::ferror(file) != 0;
    if (file != stdin)
        std::fclose(file);
    if (failed)
        error = name + ": cannot read";
    return !failed;
}

// Reads one transcript into `machine`; false (with the error) when the file
// cannot be read or holds no cpubench output.
bool addRun(Machine& machine, const std::string& path, const std::string& runName, std::vector<std::string>& errors)
{
    std::string bytes, error;
    if (!readAll(path, bytes, error)) {
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
};

// Lists `dir`; false with the error when it cannot be read. Only the
// entries' types are asked for, which most systems give without a stat.
bool listDirectory(const fs::path& dir, bool withDirectories, Listing& listing, std::string& error)
{
    std::error_code code;
    for (fs::directory_iterator it(dir, code), end; !code && it != end; it.increment(code)) {
        std::error_code statError;
        if (it->is_regular_file(statError)) {
            const fs::path& file = it->path();
            if (file.filename() == "machine.json")
                listing.hasInfo = true;
            else if (file.filename() == session::kRecordFile)
                listing.hasRecord = true;
            else if (file.extension() == ".txt")
                listing.transcripts.push_back(file.filename().string());
        } else if (withDirectories && it->is_directory(statError))
            listing.directories.push_back(it->path().filename().string());
    }
    if (code) {
        error = dir.string() + ": cannot read the directory: " + code.message();
        return false;
    }
    std::sort(listing.transcripts.begin(), listing.transcripts.end(), naturalLess);
    return true;
}

// The recorder's session.json in `dir`: whether the session is complete,
// and each run's disturbance figures, judged.
void readRecord(Machine& machine, const fs::path& dir, const std::string& prefix)
{
    const std::string path = (dir / session::kRecordFile).string();
    std::string text, error;
    session::SessionRecord record;
    if (readAll(path, text, error))
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
// `prefix` + its file name, and the machine.json beside them.
void readRuns(Machine& machine, const fs::path& dir, const Listing& listing, const std::string& prefix,
              std::vector<std::string>& errors)
{
    machine.runs.reserve(listing.transcripts.size());
    for (const std::string& file : listing.transcripts)
        addRun(machine, (dir / file).string(), prefix + file, errors);
    if (listing.hasRecord)
        readRecord(machine, dir, prefix);
    if (!listing.hasInfo)
        return;
    const std::string infoPath = (dir / "machine.json").string();
    std::string text, readError;
    if (!readAll(infoPath, text, readError))
        machine.infoError = readError;
    else {
        const std::string parseError = parseMachineInfo(text, machine.info);
        if (!parseError.empty())
            machine.infoError = infoPath + ": " + parseError;
    }
}

// The sub-directories of `dir` that are sessions (hold transcripts), with
// their listings, in natural name order.
std::vector<std::pair<std::string, Listing>> listSessions(const fs::path& dir, const Listing& listing,
                                                          std::vector<std::string>& errors)
{
    std::vector<std::pair<std::string, Listing>> sessions;
    for (const std::string& name : listing.directories) {
        Listing inner;
        std::string error;
        if (!listDirectory(dir / name, false, inner, error))
            errors.push_back(error);
        else if (!inner.transcripts.empty())
            sessions.emplace_back(name, std::move(inner));
    }
    std::sort(sessions.begin(), sessions.end(),
              [](const auto& a, const auto& b) { return naturalLess(a.first, b.first); });
    return sessions;
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
    auto sessions = listSessions(path, listing, result.errors);
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
        readRuns(machine, fs::path(path) / session, inner, machine.name + "/" + session + "/", result.errors);
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
    readRuns(machine, path, listing, machine.name + "/", result.errors);
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
    addRun(result.machine, path, path, result.errors);
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
        auto sessions = listSessions(path, listing, history.errors);
        history.sessions.reserve(sessions.size() + 1);
        const auto add = [&](const std::string& name, const fs::path& dir, const Listing& files,
                             const std::string& prefix) {
            Session session{name, {}};
            Machine& machine = session.machine;
            machine.name = history.name;
            machine.source = dir.string();
            readRuns(machine, dir, files, prefix, history.errors);
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
