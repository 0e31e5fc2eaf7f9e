#include "options.h"

#include <cstdlib>

namespace cpubench {

namespace {

using Kind = UsageError::Kind;

// A percentage such as "2", "2.5" or "2%" within [low, high], as a
// fraction; none when it is not one.
std::optional<double> percentage(const std::string& text, double low, double high)
{
    std::string digits = text;
    if (!digits.empty() && digits.back() == '%')
        digits.pop_back();
    if (digits.empty() || digits.find_first_not_of("0123456789.") != std::string::npos)
        return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size() || !(value >= low && value <= high))
        return std::nullopt;
    return value / 100;
}

// --threshold or --confidence, with its value after '=' or as the next
// argument.
std::optional<UsageError> percentOption(const std::string& arg, int& i, int argc, char** argv, Options& options)
{
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (equals == std::string::npos && i + 1 == argc)
        return UsageError{Kind::needsPercentage, name, ""};
    const std::string value = equals == std::string::npos ? argv[++i] : arg.substr(equals + 1);
    const bool threshold = name == "--threshold";
    const std::optional<double> fraction = threshold ? percentage(value, kLowestThreshold, kHighestThreshold)
                                                     : percentage(value, kLowestConfidence, kHighestConfidence);
    if (!fraction)
        return UsageError{Kind::badPercentage, name, value};
    (threshold ? options.verdicts.threshold : options.verdicts.level) = *fraction;
    return std::nullopt;
}

// One option at argv[i] (moving i past its value); an error, or none.
std::optional<UsageError> option(const std::string& arg, int& i, int argc, char** argv, Options& options)
{
    if (arg == "--markdown")
        options.markdown = true;
    else if (arg == "--by-machine")
        options.byMachine = true;
    else if (arg == "--json")
        options.json = true;
    else if (arg == "--history")
        options.history = true;
    else if (arg == "--keep-disturbed")
        options.keepDisturbed = true;
    else if (arg == "--html" || arg.rfind("--html=", 0) == 0) {
        if (arg == "--html" && i + 1 == argc)
            return UsageError{Kind::htmlNeedsFile};
        options.htmlFile = arg == "--html" ? argv[++i] : arg.substr(7);
        if (options.htmlFile.empty())
            return UsageError{Kind::htmlNeedsFile};
    } else if (arg == "--threshold" || arg == "--confidence" || arg.rfind("--threshold=", 0) == 0 ||
               arg.rfind("--confidence=", 0) == 0)
        return percentOption(arg, i, argc, argv, options);
    else if (arg == "--help" || arg == "-h")
        options.help = true;
    else
        return UsageError{Kind::unknownOption, arg};
    return std::nullopt;
}

} // namespace

ParsedOptions parseOptions(int argc, char** argv)
{
    ParsedOptions parsed;
    Options& options = parsed.options;
    bool optionsEnd = false;
    for (int i = 1; i < argc && !options.help; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-')
            options.paths.push_back(arg);
        else if (arg == "--")
            optionsEnd = true;
        else if ((parsed.error = option(arg, i, argc, argv, options)))
            return parsed;
    }
    if (options.help)
        return parsed;
    if (options.json && options.markdown)
        parsed.error = UsageError{Kind::jsonAndMarkdown};
    else if (options.paths.empty())
        parsed.error = UsageError{Kind::noPaths, "", "", options.history};
    else if (options.history && (options.markdown || options.byMachine))
        parsed.error = UsageError{Kind::historyTakesNoTable};
    return parsed;
}

} // namespace cpubench
