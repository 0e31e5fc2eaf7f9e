#include "write/openmetrics.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

namespace cpubench::write {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the valid UTF-8 sequence at text[i], 0 when there is none
// (a stray or missing continuation byte, an overlong form, a surrogate, or
// past U+10FFFF).
std::size_t sequenceAt(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    return length;
}

// The text as valid UTF-8 without control characters (C0 but line feed,
// DEL, C1), each invalid byte and control character made U+FFFD, and cut
// to `limit` bytes at a character, with "..." at the end when cut.
std::string cleaned(std::string_view text, std::size_t limit)
{
    std::string result;
    bool cut = false;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = sequenceAt(text, i);
        std::string_view piece = length == 0 ? kReplacement : text.substr(i, length);
        const auto first = static_cast<unsigned char>(text[i]);
        const bool control = (length == 1 && ((first < 0x20 && first != '\n') || first == 0x7F)) ||
                             (length == 2 && first == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (control)
            piece = kReplacement;
        if (result.size() + piece.size() > limit) {
            cut = true;
            break;
        }
        result += piece;
        i += length == 0 ? 1 : length;
    }
    if (cut) {
        // Whole characters off the end, until the three dots fit.
        while (!result.empty() && result.size() + 3 > limit) {
            while (!result.empty() && (static_cast<unsigned char>(result.back()) & 0xC0) == 0x80)
                result.pop_back();
            if (!result.empty())
                result.pop_back();
        }
        result += "...";
    }
    return result;
}

// The shortest of 15 to 17 significant digits that reads back as the same
// double (the program runs in the C locale: a decimal point).
std::string number(double value)
{
    char buffer[40];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
        if (std::strtod(buffer, nullptr) == value)
            break;
    }
    return buffer;
}

struct Family {
    const char* name;
    const char* help;
    const char* unit; // empty for none
};

} // namespace

std::string labelValue(std::string_view text)
{
    std::string result;
    for (const char c : cleaned(text, kMaxLabelBytes)) {
        if (c == '\\')
            result += "\\\\";
        else if (c == '"')
            result += "\\\"";
        else if (c == '\n')
            result += "\\n";
        else
            result += c;
    }
    return result;
}

MetricsText writeOpenMetrics(const std::vector<MetricsMachine>& machines)
{
    MetricsText out;
    // Each machine's labels, once; machines whose name is taken are left out.
    std::vector<std::string> labels(machines.size()), facts(machines.size());
    std::vector<bool> kept(machines.size(), false);
    std::set<std::string> names;
    for (std::size_t m = 0; m < machines.size(); ++m) {
        const std::string name = labelValue(machines[m].name);
        if (!names.insert(name).second) {
            out.duplicates.push_back(m);
            continue;
        }
        kept[m] = true;
        labels[m] = "machine=\"" + name + "\"";
        for (const char* key : kFactLabels)
            for (const auto& [factKey, text] : machines[m].facts)
                if (factKey == key && !text.empty()) {
                    facts[m] += std::string(",") + key + "=\"" + labelValue(text) + "\"";
                    break;
                }
    }

    std::string& text = out.text;
    const auto family = [&](const Family& f, const std::function<void(std::size_t)>& samples) {
        text += std::string("# HELP ") + f.name + " " + f.help + "\n# TYPE " + f.name + " gauge\n";
        if (*f.unit)
            text += std::string("# UNIT ") + f.name + " " + f.unit + "\n";
        for (std::size_t m = 0; m < machines.size(); ++m)
            if (kept[m])
                samples(m);
    };
    const auto sample = [&](const char* name, const std::string& labelText, std::optional<double> value) {
        if (value && std::isfinite(*value))
            text += std::string(name) + "{" + labelText + "} " + number(*value) + "\n";
    };
    const auto lineFamily = [&](const Family& f, const std::function<std::optional<double>(const MetricsLine&)>& of) {
        family(f, [&](std::size_t m) {
            for (const MetricsLine& line : machines[m].lines)
                sample(f.name, labels[m] + ",line=\"" + labelValue(line.line) + "\"" + facts[m], of(line));
        });
    };
    const auto flag = [](bool on) { return std::optional<double>(on ? 1 : 0); };

    lineFamily({"cpubench_line_median_seconds", "The median time of the line's good runs in the newest session.",
                "seconds"},
               [](const MetricsLine& l) { return l.median; });
    lineFamily({"cpubench_line_level_seconds",
                "The line's newest level: the geometric mean of the sessions since its last change.", "seconds"},
               [](const MetricsLine& l) { return l.level; });
    lineFamily({"cpubench_line_level_ratio",
                "The line's newest level divided by the level before it (above 1 is slower).", "ratio"},
               [](const MetricsLine& l) { return l.levelRatio; });
    lineFamily({"cpubench_line_change", "1 while the line's newest level starts at a change, slower or faster.", ""},
               [&](const MetricsLine& l) { return flag(l.change); });
    lineFamily({"cpubench_line_alarm", "1 while the line's newest level is slower than the level before it.", ""},
               [&](const MetricsLine& l) { return flag(l.alarm); });
    family({"cpubench_machine_flawed", "1 when the newest session has a wrong value or an incomplete run.", ""},
           [&](std::size_t m) { sample("cpubench_machine_flawed", labels[m] + facts[m], flag(machines[m].flawed)); });
    family({"cpubench_machine_newest_session_timestamp_seconds",
            "The start of the machine's newest session, in seconds since 1970-01-01 UTC.", "seconds"},
           [&](std::size_t m) {
               sample("cpubench_machine_newest_session_timestamp_seconds", labels[m] + facts[m],
                      machines[m].newestSessionStart);
           });
    text += "# EOF\n";
    return out;
}

std::optional<double> sessionStart(std::string_view name)
{
    // YYYY-MM-DDTHH.MMZ, then nothing or -N.
    if (name.size() < 17 || name[4] != '-' || name[7] != '-' || name[10] != 'T' || name[13] != '.' ||
        name[16] != 'Z')
        return std::nullopt;
    const std::string_view rest = name.substr(17);
    if (!rest.empty() && (rest.size() < 2 || rest[0] != '-' ||
                          rest.substr(1).find_first_not_of("0123456789") != std::string_view::npos))
        return std::nullopt;
    const auto field = [&](std::size_t at, std::size_t length) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            if (name[i] < '0' || name[i] > '9')
                return std::nullopt;
            value = value * 10 + (name[i] - '0');
        }
        return value;
    };
    const auto year = field(0, 4), month = field(5, 2), day = field(8, 2), hour = field(11, 2),
               minute = field(14, 2);
    if (!year || !month || !day || !hour || !minute || *month < 1 || *month > 12 || *day < 1 || *hour > 23 ||
        *minute > 59)
        return std::nullopt;
    const bool leap = (*year % 4 == 0 && *year % 100 != 0) || *year % 400 == 0;
    const int monthDays[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*day > monthDays[*month - 1])
        return std::nullopt;
    // Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's days_from_civil).
    const int y = *year - (*month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (*month + (*month > 2 ? -3 : 9)) + 2) / 5 + *day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const long long days = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
    return static_cast<double>(days * 86400 + *hour * 3600 + *minute * 60);
}

} // namespace cpubench::write
