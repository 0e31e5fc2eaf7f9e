#include "session_names.h"

#include <algorithm>
#include <cctype>

namespace cpubench {

namespace {

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

} // namespace

std::string sessionName(std::time_t start)
{
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &start);
#else
    gmtime_r(&start, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H.%MZ", &utc);
    return text;
}

std::string numberedName(const std::string& base, int n)
{
    return n <= 1 ? base : base + "-" + std::to_string(n);
}

bool isSessionName(const std::string& name)
{
    const std::string_view shape = "dddd-dd-ddTdd.ddZ";
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

} // namespace cpubench
