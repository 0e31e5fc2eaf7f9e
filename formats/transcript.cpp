#include "transcript.h"

#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace cpubench {

namespace {

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
// has, and a "time" longer than any a run prints is none, so that a run's
// memory stays small.
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
bool possibleTime(double seconds)
{
    return std::isfinite(seconds) && seconds > 0 && seconds < kLongestTime;
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

// What a line says of its time. An impossible time is kept as printed, for
// the problem that names it, and is no time.
struct ReadTime {
    std::optional<Time> time;
    std::string impossible;
};

ReadTime readTime(std::string_view word)
{
    const std::string text(word);
    const double seconds = std::strtod(text.c_str(), nullptr);
    if (!possibleTime(seconds))
        return {std::nullopt, text};
    const auto point = static_cast<int>(word.find('.'));
    return {Time{seconds, point, static_cast<int>(word.size()) - point - 1}, ""};
}

// What follows the label: values, each maybe behind a name and '='
// ("Mod=73808544117964", "u32A= 65537"), then "in", the time and "s".
// Returns the impossible time as printed, if the line has one.
std::string readResult(std::string_view rest, LineResult& line)
{
    line = LineResult{};
    line.present = true;
    if (rest.find(kOutOfMemory) != std::string_view::npos) {
        line.outOfMemory = true;
        return "";
    }
    std::string impossible;
    std::vector<std::string_view> words = splitWords(rest);
    std::size_t in = words.size();
    while (in > 0 && words[in - 1] != "in")
        --in;
    if (in > 0) {
        if (in + 2 == words.size() && words[in + 1] == "s" && isTime(words[in])) {
            ReadTime time = readTime(words[in]);
            line.time = time.time;
            impossible = std::move(time.impossible);
        }
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
    return impossible;
}

using Kind = TranscriptProblem::Kind;

TranscriptProblem problem(Kind kind, std::size_t line = kLineCount, std::size_t value = 0,
                          std::vector<std::string> found = {})
{
    return {kind, line, value, std::move(found), {}};
}

void checkValues(std::size_t index, LineResult& line, std::vector<TranscriptProblem>& problems)
{
    const ResultLine& known = kLines[index];
    line.mark = known.kind == Values::fixed ? Mark::exact : Mark::unchecked;
    if (line.values.size() != known.count) {
        problems.push_back(problem(Kind::valueCount, index, 0, line.values));
        line.mark = Mark::wrong;
        return;
    }
    if (known.kind != Values::fixed)
        return;
    for (std::size_t i = 0; i < known.count; ++i) {
        if (line.values[i] != known.values[i]) {
            problems.push_back(problem(Kind::wrongValue, index, i, {line.values[i]}));
            line.mark = Mark::wrong;
        }
    }
}

// The problems of one line present, in the order they are told.
void checkLine(std::size_t index, LineResult& line, const std::string& impossible,
               std::vector<TranscriptProblem>& problems)
{
    if (line.outOfMemory) {
        problems.push_back(problem(Kind::outOfMemory, index));
        line.mark = Mark::unchecked;
        return;
    }
    // An impossible time is kept out of every statistic: a ratio to it
    // would be 0 or infinite.
    if (!impossible.empty())
        problems.push_back(problem(Kind::impossibleTime, index, 0, {impossible}));
    else if (!line.time)
        problems.push_back(problem(Kind::noTime, index));
    checkValues(index, line, problems);
}

void check(Transcript& t, const std::array<std::string, kLineCount>& impossible)
{
    if (!t.bindingFailure.empty()) {
        t.problems.push_back(problem(Kind::notBound, kLineCount, 0, {t.bindingFailure}));
        return;
    }
    if (!t.banner)
        t.problems.push_back(problem(Kind::noBanner));
    std::size_t end = 0; // one past the last line present
    for (std::size_t i = 0; i < kLines.size(); ++i) {
        if (!t.lines[i].present)
            continue;
        end = i + 1;
        checkLine(i, t.lines[i], impossible[i], t.problems);
    }
    if (!t.endPrompt)
        t.problems.push_back(problem(Kind::endsEarly, end == 0 ? kLineCount : end - 1));
    TranscriptProblem missing = problem(Kind::linesMissing);
    for (std::size_t i = 0; i < (t.endPrompt ? kLines.size() : end); ++i)
        if (!t.lines[i].present)
            missing.missing.push_back(i);
    if (!missing.missing.empty())
        t.problems.push_back(std::move(missing));
}

// The longest message the line starts with: "Error mpz_add_ui", not "Error
// mpz_add". A console may show the shell's prompt after it.
std::string_view bindingFailure(std::string_view line)
{
    std::string_view failure;
    for (std::string_view message : kBindingFailures)
        if (line.substr(0, message.size()) == message && message.size() > failure.size())
            failure = message;
    return failure;
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
    std::array<std::string, kLineCount> impossible; // each line's impossible time, as printed
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string::npos)
            stop = text.size();
        const std::string_view line = trim(std::string_view(text).substr(start, stop - start));
        start = stop + 1;
        const std::string_view failure = bindingFailure(line);
        if (startsWithWord(line, kBanner) || !failure.empty()) {
            t = Transcript{}; // a new run
            impossible = {};
            t.banner = failure.empty();
            t.bindingFailure = std::string(failure);
        } else if (line.substr(0, kEndPrompt.size()) == kEndPrompt)
            t.endPrompt = true; // the console may show more after the prompt, which has no line feed
        else
            for (std::size_t i = 0; i < kLines.size(); ++i)
                if (startsWithWord(line, kLines[i].label))
                    impossible[i] = readResult(line.substr(kLines[i].label.size()), t.lines[i]);
    }
    if (t.recognised())
        check(t, impossible);
    return t;
}

} // namespace cpubench
