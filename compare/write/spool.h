// Text an output writes after parts it can only write at the end (the
// counts and findings of every machine come before the machines' own
// sections): kept in memory while it is small, then in a temporary file in
// the system's folder for them (TMPDIR, else /tmp; on Windows the user's
// temporary folder), which is gone as soon as the program ends.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace cpubench {

// Past this many bytes, the spool moves into its temporary file.
inline constexpr std::size_t kSpoolMemoryBytes = std::size_t{32} << 20;

class Spool {
public:
    explicit Spool(std::size_t memoryBytes = kSpoolMemoryBytes) : memoryBytes_(memoryBytes) {}
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    void append(std::string_view text);
    bool empty() const { return empty_; }
    // Everything appended, in order, to `out`; the system's reason when the
    // temporary file could not be made, written or read back (then `out`
    // got none or only a part of it).
    std::optional<std::string> copyTo(std::ostream& out);

private:
    void toFile();

    std::size_t memoryBytes_;
    std::string memory_;
    std::FILE* file_ = nullptr;
    std::string error_;
    bool empty_ = true;
};

} // namespace cpubench
