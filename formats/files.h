// Files and folders as the readers see them: bounded reads of whole files
// and listings of folders, behind one interface with two kinds of tree, the
// system's own (POSIX and Windows) and one held in memory (for the fuzz
// targets and tests, which so run the readers the programs ship).
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cpubench {

// What a file that is no regular file is.
struct FileKind {
    enum class Type { fifo, device, socket, directory, missing, unusual };
    Type type = Type::unusual;
    bool link = false;  // reached through a symbolic link
    std::string error;  // why a link cannot be followed, where the system says
};

// Why a file was not read.
struct FileError {
    enum class Kind {
        cannotRead, // `system` says why, where it can
        tooLarge,   // more than `limit` bytes
        notRegular, // met in a folder, it is `odd`, not a regular file
    };
    Kind kind;
    std::string path;
    std::string system;
    std::size_t limit = 0;
    FileKind odd;
};

// An entry of a folder: a regular file or a folder (also behind a link), or
// something else.
struct FileEntry {
    enum class Type { regular, directory, other };
    std::string name;
    Type type = Type::other;
    FileKind odd; // for `other`
};

class FileTree {
public:
    virtual ~FileTree() = default;
    // Whether `path` is a folder (behind links too); `error` says why that
    // cannot be told, where the system says.
    virtual bool isDirectory(const std::string& path, std::string& error) const = 0;
    // The folder's entries in no set order; the system's message when it
    // cannot be listed.
    virtual std::optional<std::string> list(const std::string& dir, std::vector<FileEntry>& entries) const = 0;
    // The whole file into `bytes`, at most `limit` of them: a longer file
    // is refused, `bytes` left empty. `inFolder`: a file met in a folder,
    // which must be a regular file; a path given by itself may be anything
    // that can be read, such as a pipe ('-' is standard input).
    virtual std::optional<FileError> read(const std::string& path, std::size_t limit, bool inFolder,
                                          std::string& bytes) const = 0;
    // The path made absolute with its links resolved (for the name of "."
    // or ".."); empty when it cannot be.
    virtual std::string absolute(const std::string& path) const = 0;
};

// The system's files. Opening never waits for a FIFO's writer, and a file
// met in a folder is checked to be regular again once open, in case it was
// replaced.
class SystemTree : public FileTree {
public:
    bool isDirectory(const std::string& path, std::string& error) const override;
    std::optional<std::string> list(const std::string& dir, std::vector<FileEntry>& entries) const override;
    std::optional<FileError> read(const std::string& path, std::size_t limit, bool inFolder,
                                  std::string& bytes) const override;
    std::string absolute(const std::string& path) const override;
};

// Folders and regular files held in memory, named by relative paths with
// '/' between their parts.
class MemoryTree : public FileTree {
public:
    void addFolder(const std::string& path);
    void addFile(const std::string& path, std::string bytes);

    bool isDirectory(const std::string& path, std::string& error) const override;
    std::optional<std::string> list(const std::string& dir, std::vector<FileEntry>& entries) const override;
    std::optional<FileError> read(const std::string& path, std::size_t limit, bool inFolder,
                                  std::string& bytes) const override;
    std::string absolute(const std::string& path) const override;

private:
    struct Node {
        bool folder = false;
        std::string bytes;
    };
    const Node* find(const std::string& path) const;
    std::map<std::string, Node> nodes_;
};

// Whether `a` comes before `b` with digit runs compared as numbers:
// run-2.txt before run-10.txt.
bool naturalLess(const std::string& a, const std::string& b);

} // namespace cpubench
