#include "escape.h"

#include <cstddef>
#include <cstdio>

namespace cpubench {

namespace {

void appendEscape(std::string& out, const char* pattern, unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, pattern, value);
    out += text;
}

// The length of the valid UTF-8 sequence at the start of `text`, 0 when the
// first byte does not start one (overlong forms, surrogates and code points
// beyond U+10FFFF are invalid too).
std::size_t sequenceLength(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else
        return 0;
    if (text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F)
                appendEscape(out, "\\x%02x", c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t length = sequenceLength(text.substr(i));
        if (length == 0) {
            appendEscape(out, "\\x%02x", c);
            ++i;
        } else if (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            appendEscape(out, "\\u%04x", static_cast<unsigned char>(text[i + 1]));
            i += 2;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string terminalSafeJson(std::string_view json)
{
    std::string out;
    out.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto c = static_cast<unsigned char>(json[i]);
        if (c == 0x7F)
            out += "\\u007f";
        else if (c == 0xC2 && i + 1 < json.size() && static_cast<unsigned char>(json[i + 1]) >= 0x80 &&
                 static_cast<unsigned char>(json[i + 1]) <= 0x9F) {
            appendEscape(out, "\\u%04x", static_cast<unsigned char>(json[i + 1]));
            ++i;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

std::string htmlEscaped(const std::string& text)
{
    std::string escaped;
    for (char ch : printable(text)) {
        switch (ch) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        case '\'': escaped += "&#39;"; break;
        default: escaped += ch;
        }
    }
    return escaped;
}

std::string markdownEscaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (std::string_view("\\`*_[]<>|#~").find(c) != std::string_view::npos)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

} // namespace cpubench
