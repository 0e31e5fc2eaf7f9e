// Texts joined with a separator between them.
#pragma once

#include <string>
#include <string_view>

namespace cpubench {

template <typename Texts>
std::string joined(const Texts& texts, std::string_view separator)
{
    std::string text;
    bool first = true;
    for (const auto& part : texts) {
        if (!first)
            text += separator;
        text += part;
        first = false;
    }
    return text;
}

} // namespace cpubench
