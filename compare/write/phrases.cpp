#include "phrases.h"

#include "join.h"
#include "numbers.h"
#include "session_names.h"

#include <algorithm>

namespace cpubench {

const char kAllTranscriptsComplete[] = "All transcripts complete, all fixed values exact.";
const char kAllRunsComplete[] = "All runs complete, all fixed values exact.";
const char kNoProblem[] = "None: every run is complete with exact values.";
const char kNewestSlower[] = "A machine's newest session is slower than the sessions before it.";
const char kFingerprintsExplained[] = "The values of double mul log depend on the C library's log. Compare that "
                                      "line's time only between machines of one group.";

namespace {

std::string quoted(const std::string& key)
{
    return "\"" + key + "\"";
}

std::string fileKindText(const FileKind& kind)
{
    using Type = FileKind::Type;
    if (kind.type == Type::missing)
        return kind.link ? "a dangling link" : "gone";
    if (kind.type == Type::unusual && kind.link && !kind.error.empty())
        return "a link that cannot be followed (" + kind.error + ")";
    const std::string base = kind.type == Type::fifo        ? "a FIFO"
                             : kind.type == Type::device    ? "a device"
                             : kind.type == Type::socket    ? "a socket"
                             : kind.type == Type::directory ? "a directory"
                                                            : "an unusual file";
    return kind.link ? "a link to " + base : base;
}

std::string expectedValues(std::size_t line)
{
    const ResultLine& known = kLines[line];
    if (known.kind != Values::fixed)
        return std::to_string(known.count) + " values";
    return joined(std::vector<std::string_view>(known.values.begin(), known.values.begin() + known.count), " ");
}

} // namespace

const char* verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::faster: return "faster";
    case Verdict::slower: return "slower";
    case Verdict::same: return "same";
    case Verdict::undecided: break;
    }
    return "undecided";
}

const char* markName(Mark mark)
{
    switch (mark) {
    case Mark::exact: return "exact";
    case Mark::wrong: return "wrong";
    case Mark::unchecked: return "unchecked";
    case Mark::missing: break;
    }
    return "missing";
}

const char* causeName(analyse::Cause cause)
{
    switch (cause) {
    case analyse::Cause::othersCpu: return "others_cpu";
    case analyse::Cause::steal: return "steal";
    case analyse::Cause::throttling: return "throttling";
    case analyse::Cause::none: break;
    }
    return nullptr;
}

const char* irregularityName(analyse::Irregularity irregularity)
{
    switch (irregularity) {
    case analyse::Irregularity::time: return "time";
    case analyse::Irregularity::runDelay: return "run_delay";
    case analyse::Irregularity::none: break;
    }
    return nullptr;
}

const char* doubtName(Doubt doubt)
{
    switch (doubt) {
    case Doubt::tooFewRuns: return "too_few_runs";
    case Doubt::tooMuchSpread: return "too_much_spread";
    case Doubt::smallDifference: return "small_difference";
    case Doubt::flawedRuns: return "flawed_runs";
    case Doubt::tooFewSessions: return "too_few_sessions";
    case Doubt::tooMuchWander: return "too_much_wander";
    case Doubt::none: break;
    }
    return nullptr;
}

const char* problemName(TranscriptProblem::Kind kind)
{
    using Kind = TranscriptProblem::Kind;
    switch (kind) {
    case Kind::notBound: return "not_bound";
    case Kind::noBanner: return "no_banner";
    case Kind::outOfMemory: return "out_of_memory";
    case Kind::impossibleTime: return "impossible_time";
    case Kind::noTime: return "no_time";
    case Kind::valueCount: return "value_count";
    case Kind::wrongValue: return "wrong_value";
    case Kind::endsEarly: return "ends_early";
    case Kind::linesMissing: break;
    }
    return "lines_missing";
}

std::string lineLabel(std::size_t line)
{
    return std::string(kLines[line].label);
}

std::string recordNoteText(const ReadIssue& issue)
{
    return (issue.kind == ReadIssue::Kind::file ? issue.path + ": " : "") + readIssueText(issue) +
           "; the session is compared without the recorder's figures";
}

std::string counted(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string fileErrorText(const FileError& error)
{
    switch (error.kind) {
    case FileError::Kind::tooLarge:
        return error.path + ": larger than " + mebibytes(error.limit) + ", more than any real one: refused";
    case FileError::Kind::notRegular:
        return error.path + ": " + fileKindText(error.odd) + ", not a regular file";
    case FileError::Kind::cannotRead:
        break;
    }
    return error.path + ": cannot read" + (error.system.empty() ? "" : ": " + error.system);
}

std::string formatErrorText(const FormatError& error)
{
    using Kind = FormatError::Kind;
    const std::string run = error.run ? *error.run + ": " : "";
    switch (error.kind) {
    case Kind::notJson: return "not valid JSON: " + error.detail;
    case Kind::notObject: return "not a JSON object";
    case Kind::mustBeString: return run + quoted(error.key) + " must be a string";
    case Kind::mustBeWholeNumber: return run + quoted(error.key) + " must be a whole number";
    case Kind::mustBeNumber: return run + quoted(error.key) + " must be a number";
    case Kind::mustBeObject: return run + quoted(error.key) + " must be an object";
    case Kind::mustBeList: return run + quoted(error.key) + " must be a list";
    case Kind::flawMustBeString: return "\"mitigations\": " + quoted(error.key) + " must be a string";
    case Kind::unknownState: return "\"state\" must be recording, complete or incomplete";
    case Kind::badCounts: return "\"runs_planned\" and \"logical_cpus\" must be numbers";
    case Kind::runWithoutFile: return "each run must be an object with its \"file\"";
    case Kind::unknownStatus: return run + "unknown \"status\"";
    case Kind::lineWithoutLabel: return run + "each line must be an object with its \"line\"";
    case Kind::badFigure: return run + error.key + ": each figure must be a number of 0 or more";
    }
    return "";
}

std::string readIssueText(const ReadIssue& issue)
{
    using Kind = ReadIssue::Kind;
    const std::string& path = issue.path;
    switch (issue.kind) {
    case Kind::file: return fileErrorText(issue.file);
    case Kind::notTranscript: return path + ": not a cpubench transcript";
    case Kind::noTranscript: return path + ": no transcript (*.txt) in the directory or its session folders";
    case Kind::notDirectory: return path + ": not a directory" + (issue.system.empty() ? "" : ": " + issue.system);
    case Kind::cannotList: return path + ": cannot read the directory: " + issue.system;
    case Kind::badFormat: return path + ": " + formatErrorText(issue.format);
    case Kind::notSession:
        return path + ": not a session folder (sessions are named by their start in UTC, such as " +
               std::string(kSessionNameExample) + "), so its " + std::to_string(issue.count) + " transcript" +
               (issue.count == 1 ? " is" : "s are") + " left out";
    case Kind::looseTranscripts:
        return path + ": the transcripts directly in its folder (" + std::to_string(issue.count) +
               ", from before the lab kept sessions) are left out; its newest session, " + issue.session +
               ", is compared";
    }
    return "";
}

std::string problemText(const TranscriptProblem& p)
{
    using Kind = TranscriptProblem::Kind;
    switch (p.kind) {
    case Kind::notBound: return "incomplete: GMP could not be bound: " + p.found.at(0);
    case Kind::noBanner: return "incomplete: no banner line";
    case Kind::outOfMemory:
        return "incomplete: " + lineLabel(p.line) + ": " + std::string(kOutOfMemory) + " (not enough memory for the run)";
    case Kind::impossibleTime:
        return "impossible time: " + lineLabel(p.line) + ": " + p.found.at(0) + " s (a run's line takes more than 0 s"
               " and less than " + std::to_string(static_cast<long>(kLongestTime)) + " s)";
    case Kind::noTime: return "incomplete: " + lineLabel(p.line) + ": no time (line cut off?)";
    case Kind::valueCount:
        return lineLabel(p.line) + ": expected " + expectedValues(p.line) + ", found " +
               (p.found.empty() ? std::string("no values") : joined(p.found, " "));
    case Kind::wrongValue:
        return lineLabel(p.line) + ": expected " + std::string(kLines[p.line].values[p.value]) + ", found " + p.found.at(0);
    case Kind::endsEarly:
        return "incomplete: ends early after " + (p.line == kLineCount ? std::string("the banner") : lineLabel(p.line)) +
               " (no end prompt)";
    case Kind::linesMissing: {
        std::vector<std::string> labels;
        for (const std::size_t line : p.missing)
            labels.push_back(lineLabel(line));
        return "incomplete: lines missing: " + joined(labels, ", ");
    }
    }
    return "";
}

std::string recordingText(SessionState state, const std::string& reason)
{
    if (state == SessionState::recording)
        return "the recording did not end (the recorder was stopped or is still at work)";
    if (state == SessionState::incomplete)
        return reason.empty() ? "stopped early" : reason;
    return "";
}

std::string doubtText(const RatioEstimate& estimate, const VerdictSettings& settings)
{
    std::string text;
    switch (estimate.doubt) {
    case Doubt::none:
        return "";
    case Doubt::tooFewRuns:
        return "too few runs (" + std::to_string(estimate.baseRuns) + " and " + std::to_string(estimate.otherRuns) +
               "; a decision at " + percentText(settings.level) + " needs " +
               std::to_string(estimate.runsNeeded.value_or(0)) + " runs per machine or more)";
    case Doubt::tooMuchSpread:
        text = "too much spread";
        break;
    case Doubt::smallDifference:
        text = "a difference close to the threshold";
        break;
    case Doubt::flawedRuns:
        return "no run complete with exact values";
    case Doubt::tooFewSessions:
        return "too few sessions";
    case Doubt::tooMuchWander:
        return "the machines' wander between sittings (more runs will not decide; more sessions of each machine "
               "will)";
    }
    if (estimate.runsNeeded)
        text += " (about " + std::to_string(*estimate.runsNeeded) + " runs per machine would decide)";
    return text;
}

std::string cannotWriteText(const std::string& what)
{
    return "cannot write the " + what;
}

std::string duplicateMachineText(const std::string& machine)
{
    return "a second machine named " + machine + " (a folder of the same name) is left out: its series would repeat "
           "the first one's";
}

} // namespace cpubench
