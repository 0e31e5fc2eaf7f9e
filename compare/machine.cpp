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
    Run run{runName, readTranscript(bytes)};
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

void readDirectory(const std::string& path, ReadResult& result)
{
    Machine& machine = result.machine;
    machine.name = directoryName(path);
    std::vector<std::string> files;
    bool hasInfo = false;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
        const std::string file = it->path().filename().string();
        std::error_code statError;
        if (!it->is_regular_file(statError))
            continue;
        if (file == "machine.json")
            hasInfo = true;
        else if (it->path().extension() == ".txt")
            files.push_back(file);
    }
    if (error) {
        result.errors.push_back(path + ": cannot read the directory: " + error.message());
        return;
    }
    if (files.empty()) {
        result.errors.push_back(path + ": no transcript (*.txt) in the directory");
        return;
    }
    std::sort(files.begin(), files.end(), naturalLess);
    for (const std::string& file : files)
        addRun(machine, (fs::path(path) / file).string(), machine.name + "/" + file, result.errors);

    if (hasInfo) {
        const std::string infoPath = (fs::path(path) / "machine.json").string();
        std::string text, readError;
        if (!readAll(infoPath, text, readError))
            machine.infoError = readError;
        else {
            const std::string parseError = parseMachineInfo(text, machine.info);
            if (!parseError.empty())
                machine.infoError = infoPath + ": " + parseError;
        }
    }
}

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

bool MachineInfo::empty() const
{
    return processor.empty() && !logicalCpus && !memoryMib && os.empty() && kernel.empty() && virtualization.empty();
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
    const std::pair<const char*, std::string*> texts[] = {{"processor", &read.processor},
                                                          {"os", &read.os},
                                                          {"kernel", &read.kernel},
                                                          {"virtualization", &read.virtualization}};
    for (const auto& [key, field] : texts) {
        const auto it = document.find(key);
        if (it == document.end() || it->is_null())
            continue;
        if (!it->is_string())
            return std::string("\"") + key + "\" must be a string";
        *field = it->get<std::string>();
    }
    const std::pair<const char*, std::optional<long long>*> numbers[] = {{"logical_cpus", &read.logicalCpus},
                                                                         {"memory_mib", &read.memoryMib}};
    for (const auto& [key, field] : numbers) {
        const auto it = document.find(key);
        if (it == document.end() || it->is_null())
            continue;
        if (!it->is_number_integer())
            return std::string("\"") + key + "\" must be a whole number";
        *field = it->get<long long>();
    }
    info = read;
    return "";
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
