#include "spool.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace cpubench {

namespace {

std::string systemReason()
{
    return errno != 0 ? std::strerror(errno) : "unknown error";
}

// A new temporary file, already removed from its folder where the system
// allows (it then goes when it is closed); none, with errno, when it
// cannot be made.
std::FILE* temporaryFile()
{
#ifdef _WIN32
    return std::tmpfile();
#else
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/cpubench-compare.XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return nullptr;
    ::unlink(name.c_str());
    std::FILE* file = ::fdopen(fd, "w+b");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
#endif
}

} // namespace

Spool::~Spool()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

void Spool::toFile()
{
    errno = 0;
    file_ = temporaryFile();
    if (file_ == nullptr) {
        error_ = "cannot make a temporary file: " + systemReason();
        return;
    }
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 20);
}

void Spool::append(std::string_view text)
{
    if (text.empty() || !error_.empty())
        return;
    empty_ = false;
    if (file_ == nullptr) {
        memory_.append(text);
        if (memory_.size() <= memoryBytes_)
            return;
        toFile();
        if (file_ == nullptr)
            return;
        text = memory_;
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size())
        error_ = "cannot write a temporary file: " + systemReason();
    if (!memory_.empty())
        std::string().swap(memory_);
}

std::optional<std::string> Spool::copyTo(std::ostream& out)
{
    if (!error_.empty())
        return error_;
    if (file_ == nullptr) {
        out << memory_;
        return std::nullopt;
    }
    errno = 0;
    if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0)
        return "cannot write a temporary file: " + systemReason();
    static constexpr std::size_t kChunk = 1 << 20;
    std::string buffer(kChunk, '\0');
    std::size_t count;
    while ((count = std::fread(buffer.data(), 1, kChunk, file_)) > 0)
        out.write(buffer.data(), static_cast<std::streamsize>(count));
    if (std::ferror(file_) != 0)
        return "cannot read a temporary file back: " + systemReason();
    return std::nullopt;
}

} // namespace cpubench
