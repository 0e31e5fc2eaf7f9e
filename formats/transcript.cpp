#include "transcript.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstddef>

namespace {

using expected::kLines;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// `line` starts with `word`, and the word ends there: "Error mpz_add" does
// not start "Error mpz_add_ui".
bool startsWithWord(std::string_view line, std::string_view word)
{
    if (line.substr(0, word.size()) != word)
        return false;
    if (line.size() == word.size())
        return true;
    const char next = line[word.size()];
    return next != '_' && std::isalnum(static_cast<unsigned char>(next)) == 0;
}

std::vector<std::string_view> splitWords(std::string_view s)
{
    std::vector<std::string_view> words;
    for (;;) {
        s = trim(s);
        if (s.empty())
            return words;
        std::size_t end = 0;
        while (end < s.size() && !isBlank(s[end]))
            ++end;
        words.push_back(s.substr(0, end));
        s.remove_prefix(end);
    }
}

// A line of a broken or hostile file may hold millions of words: a few more
// values than any line prints are kept, each cut to a length no real value
// has, so that a run's memory stays small.
constexpr std::size_t kMaxValues = 8, kMaxValueLength = 64, kMaxTimeLength = 20;

// A time as "%3.3f" prints it: digits, a point, digits.
bool isTime(std::string_view word)
{
    if (word.size() > kMaxTimeLength)
        return false;
    const std::size_t point = word.find('.');
    if (point == 0 || point == std::string_view::npos || point + 1 == word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (i != point && std::isdigit(static_cast<unsigned char>(word[i])) == 0)
            return false;
    return true;
}

// A time that a line of a real run can take: above zero (every line does
// work for far longer than the clock's millisecond) and below a day.
bool possibleTime(const std::string& time)
{
    const double seconds = std::strtod(time.c_str(), nullptr);
    return std::isfinite(seconds) && seconds > 0 && seconds < expected::kLongestTime;
}

// A UTF-16 LE text (with its byte order mark) as 8-bit text: every result
// line is ASCII, anything else becomes '?'. A UTF-8 byte order mark is
// dropped.
std::string decode(std::string_view bytes)
{
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        std::string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += bytes[i + 1] == 0 ? bytes[i] : '?';
        return text;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    return std::string(bytes);
}

// What follows the label: values, each maybe behind a name and '='
// ("Mod=73808544117964", "u32A= 65537"), then "in", the time and "s".
void readResult(std::string_view rest, LineResult& line)
{
    line = LineResult{};
    line.present = true;
    if (rest.find(expected::kOutOfMemory) != std::string_view::npos) {
        line.outOfMemory = true;
        return;
    }
    std::vector<std::string_view> words = splitWords(rest);
    std::size_t in = words.size();
    while (in > 0 && words[in - 1] != "in")
        --in;
    if (in > 0) {
        if (in + 2 == words.size() && words[in + 1] == "s" && isTime(words[in]))
            line.time = std::string(words[in]);
        words.resize(in - 1);
    }
    for (std::string_view word : words) {
        const std::size_t equals = word.rfind('=');
        if (equals != std::string_view::npos)
            word.remove_prefix(equals + 1);
        if (word.empty())
            continue;
        if (line.values.size() == kMaxValues) {
            line.values.emplace_back("...");
            break;
        }
        line.values.emplace_back(word.size() > kMaxValueLength ? std::string(word.substr(0, kMaxValueLength)) + "..."
                                                                : std::string(word));
    }
}

// The first `count` texts, separated by blanks.
template <typename Texts>
std::string joined(const Texts& texts, std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i)
        text += (i == 0 ? "" : " ") + std::string(texts[i]);
    return text;
}

void checkValues(const expected::ResultLine& known, LineResult& line, std::vector<std::string>& problems)
{
    const std::string label(known.label);
    line.mark = known.kind == expected::Values::fixed ? Mark::exact : Mark::unchecked;
    if (line.values.size() != known.count) {
        const std::string want = known.kind == expected::Values::fixed ? joined(known.values, known.count)
                                                                       : std::to_string(known.count) + " values";
        const std::string found = line.values.empty() ? "no values" : joined(line.values, line.values.size());
        problems.push_back(label + ": expected " + want + ", found " + found);
        line.mark = Mark::wrong;
        return;
    }
    if (known.kind != expected::Values::fixed)
        return;
    for (std::size_t i = 0; i < known.count; ++i) {
        if (line.values[i] != known.values[i]) {
            problems.push_back(label + ": expected " + std::string(known.values[i]) + ", found " + line.values[i]);
            line.mark = Mark::wrong;
        }
    }
}

void check(Transcript& t)
{
    if (!t.bindingFailure.empty()) {
        t.problems.push_back("incomplete: GMP could not be bound: " + t.bindingFailure);
        return;
    }
    if (!t.banner)
        t.problems.push_back("incomplete: no banner line");
    std::size_t end = 0; // one past the last line present
    for (std::size_t i = 0; i < kLines.size(); ++i) {
        LineResult& line = t.lines[i];
        if (!line.present)
            continue;
        end = i + 1;
        const std::string label(kLines[i].label);
        if (line.outOfMemory) {
            t.problems.push_back("incomplete: " + label + ": " + std::string(expected::kOutOfMemory) +
                                 " (not enough memory for the run)");
            line.mark = Mark::unchecked;
            continue;
        }
        if (!line.time.empty() && !possibleTime(line.time)) {
            // Kept out of every statistic: a ratio to it would be 0 or infinite.
            t.problems.push_back("impossible time: " + label + ": " + line.time + " s (a run's line takes more than 0 s"
                                 " and less than " + std::to_string(static_cast<long>(expected::kLongestTime)) + " s)");
            line.time.clear();
        } else if (line.time.empty())
            t.problems.push_back("incomplete: " + label + ": no time (line cut off?)");
        checkValues(kLines[i], line, t.problems);
    }
    if (!t.endPrompt)
        t.problems.push_back("incomplete: ends early after " +
                             (end == 0 ? std::string("the banner") : std::string(kLines[end - 1].label)) +
                             " (no end prompt)");
    std::string missing;
    for (std::size_t i = 0; i < (t.endPrompt ? kLines.size() : end); ++i)
        if (!t.lines[i].present)
            missing += (missing.empty() ? "" : ", ") + std::string(kLines[i].label);
    if (!missing.empty())
        t.problems.push_back("incomplete: lines missing: " + missing);
}

} // namespace

bool Transcript::recognised() const
{
    if (banner || !bindingFailure.empty())
        return true;
    for (const LineResult& line : lines)
        if (line.present)
            return true;
    return false;
}

Transcript readTranscript(std::string_view bytes)
{
    const std::string text = decode(bytes);
    Transcript t;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string::npos)
            stop = text.size();
        const std::string_view line = trim(std::string_view(text).substr(start, stop - start));
        start = stop + 1;

        if (startsWithWord(line, expected::kBanner)) {
            t = Transcript{}; // a new run
            t.banner = true;
            continue;
        }
        // The console may show more after the prompt, which has no line feed.
        if (line.substr(0, expected::kEndPrompt.size()) == expected::kEndPrompt) {
            t.endPrompt = true;
            continue;
        }
        // The longest message the line starts with: "Error mpz_add_ui", not
        // "Error mpz_add". A console may show the shell's prompt after it.
        std::string_view failure;
        for (std::string_view message : expected::kBindingFailures)
            if (line.substr(0, message.size()) == message && message.size() > failure.size())
                failure = message;
        if (!failure.empty()) {
            t = Transcript{}; // a run of its own
            t.bindingFailure = std::string(failure);
            continue;
        }
        for (std::size_t i = 0; i < kLines.size(); ++i)
            if (startsWithWord(line, kLines[i].label))
                readResult(line.substr(kLines[i].label.size()), t.lines[i]);
    }
    if (t.recognised())
        check(t);
    return t;
}
