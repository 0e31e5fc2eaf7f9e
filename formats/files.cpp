#include "files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cpubench {

namespace fs = std::filesystem;

namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

FileError tooLarge(const std::string& path, std::size_t limit, std::string& bytes)
{
    bytes.clear();
    return {FileError::Kind::tooLarge, path, "", limit, {}};
}

FileError cannotRead(const std::string& path, std::string system)
{
    return {FileError::Kind::cannotRead, path, std::move(system), 0, {}};
}

// What a directory entry that is neither a regular file nor a directory is.
FileKind oddKind(const fs::directory_entry& entry)
{
    std::error_code ignored, error;
    FileKind kind;
    kind.link = entry.is_symlink(ignored);
    switch (entry.status(error).type()) {
    case fs::file_type::fifo: kind.type = FileKind::Type::fifo; break;
    case fs::file_type::block:
    case fs::file_type::character: kind.type = FileKind::Type::device; break;
    case fs::file_type::socket: kind.type = FileKind::Type::socket; break;
    case fs::file_type::not_found: kind.type = FileKind::Type::missing; break;
    default:
        if (kind.link && error)
            kind.error = error.message();
    }
    return kind;
}

#ifdef _WIN32
std::optional<FileError> readFile(const std::string& path, std::size_t limit, bool, std::string& bytes)
{
    errno = 0;
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return cannotRead(path, errno != 0 ? std::strerror(errno) : "");
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
        return tooLarge(path, limit, bytes);
    if (failed)
        return cannotRead(path, "");
    return std::nullopt;
}
#else
// What a file that is no regular file is, by its mode.
FileKind modeKind(mode_t mode)
{
    using Type = FileKind::Type;
    return {S_ISFIFO(mode)                     ? Type::fifo
            : S_ISCHR(mode) || S_ISBLK(mode)   ? Type::device
            : S_ISSOCK(mode)                   ? Type::socket
            : S_ISDIR(mode)                    ? Type::directory
                                               : Type::unusual,
            false, ""};
}

// Reads the open file `fd` to its end, at most `limit` bytes.
std::optional<FileError> readOpen(int fd, const std::string& path, std::size_t limit, std::string& bytes)
{
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            bytes.clear();
            return cannotRead(path, std::strerror(errno));
        }
        if (count == 0)
            return std::nullopt;
        if (bytes.size() + static_cast<std::size_t>(count) > limit)
            return tooLarge(path, limit, bytes);
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

std::optional<FileError> readFile(const std::string& path, std::size_t limit, bool inFolder, std::string& bytes)
{
    const int fd = path == "-" ? 0 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return cannotRead(path, std::strerror(errno));
    std::optional<FileError> error;
    struct stat info {};
    if (::fstat(fd, &info) == 0) {
        if (inFolder && !S_ISREG(info.st_mode))
            error = FileError{FileError::Kind::notRegular, path, "", 0, modeKind(info.st_mode)};
        else if (S_ISREG(info.st_mode) && static_cast<unsigned long long>(info.st_size) > limit)
            error = tooLarge(path, limit, bytes);
    }
    if (!error) {
        if (fd != 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        error = readOpen(fd, path, limit, bytes);
    }
    if (fd != 0)
        ::close(fd);
    return error;
}
#endif

// The path as the memory tree keeps it: no "./", no '/' at the end.
std::string normal(const std::string& path)
{
    std::string text = fs::path(path).lexically_normal().generic_string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text == "." ? "" : text;
}

} // namespace

bool SystemTree::isDirectory(const std::string& path, std::string& error) const
{
    std::error_code code;
    const bool directory = fs::is_directory(path, code);
    error = code ? code.message() : "";
    return directory;
}

std::optional<std::string> SystemTree::list(const std::string& dir, std::vector<FileEntry>& entries) const
{
    std::error_code code;
    for (fs::directory_iterator it(dir, code), end; !code && it != end; it.increment(code)) {
        std::error_code statError;
        FileEntry entry;
        entry.name = it->path().filename().string();
        if (it->is_regular_file(statError))
            entry.type = FileEntry::Type::regular;
        else if (it->is_directory(statError))
            entry.type = FileEntry::Type::directory;
        else
            entry.odd = oddKind(*it);
        entries.push_back(std::move(entry));
    }
    if (code)
        return code.message();
    return std::nullopt;
}

std::optional<FileError> SystemTree::read(const std::string& path, std::size_t limit, bool inFolder,
                                          std::string& bytes) const
{
    return readFile(path, limit, inFolder, bytes);
}

std::string SystemTree::absolute(const std::string& path) const
{
    std::error_code ignored;
    return fs::weakly_canonical(fs::absolute(path, ignored), ignored).string();
}

void MemoryTree::addFolder(const std::string& path)
{
    nodes_[normal(path)].folder = true;
}

void MemoryTree::addFile(const std::string& path, std::string bytes)
{
    nodes_[normal(path)] = {false, std::move(bytes)};
}

const MemoryTree::Node* MemoryTree::find(const std::string& path) const
{
    const std::string name = normal(path);
    static const Node top{true, ""};
    if (name.empty())
        return &top;
    const auto it = nodes_.find(name);
    return it == nodes_.end() ? nullptr : &it->second;
}

bool MemoryTree::isDirectory(const std::string& path, std::string& error) const
{
    const Node* node = find(path);
    error = node == nullptr ? std::strerror(ENOENT) : "";
    return node != nullptr && node->folder;
}

std::optional<std::string> MemoryTree::list(const std::string& dir, std::vector<FileEntry>& entries) const
{
    const Node* node = find(dir);
    if (node == nullptr || !node->folder)
        return std::string(std::strerror(node == nullptr ? ENOENT : ENOTDIR));
    const std::string prefix = normal(dir).empty() ? "" : normal(dir) + "/";
    for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
        const std::string name = it->first.substr(prefix.size());
        if (name.find('/') == std::string::npos)
            entries.push_back({name, it->second.folder ? FileEntry::Type::directory : FileEntry::Type::regular, {}});
    }
    return std::nullopt;
}

std::optional<FileError> MemoryTree::read(const std::string& path, std::size_t limit, bool inFolder,
                                          std::string& bytes) const
{
    const Node* node = find(path);
    if (node == nullptr)
        return cannotRead(path, std::strerror(ENOENT));
    if (node->folder)
        return inFolder ? FileError{FileError::Kind::notRegular, path, "", 0, {FileKind::Type::directory, false, ""}}
                        : cannotRead(path, std::strerror(EISDIR));
    if (node->bytes.size() > limit)
        return tooLarge(path, limit, bytes);
    bytes = node->bytes;
    return std::nullopt;
}

std::string MemoryTree::absolute(const std::string& path) const
{
    return "/" + normal(path);
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

} // namespace cpubench
