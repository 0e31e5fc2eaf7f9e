#include "numbers.h"

#include <cstdio>
#include <cstdlib>

namespace cpubench {

namespace {

// An interval's end: two decimals, or three where two would show 1.00 for
// an end that lies off 1.
int endDecimals(double end)
{
    return shown(end, 2) == 1 && end != 1 ? 3 : 2;
}

} // namespace

std::string format(const char* pattern, double value)
{
    char text[48];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double shown(double value, int decimals)
{
    return std::strtod(fixed(value, decimals).c_str(), nullptr);
}

std::string timeText(const Time& time)
{
    if (time.integers == 0) {
        std::string text = fixed(time.seconds, 4);
        if (text.back() == '0')
            text.pop_back();
        return text;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%0*.*f", time.integers + 1 + time.decimals, time.decimals, time.seconds);
    return text;
}

int ratioDecimals(double ratio, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings)
{
    int decimals = ratio < 9.995 ? 2 : ratio < 99.95 ? 1 : 0;
    if (estimate && (estimate->verdict == Verdict::slower || estimate->verdict == Verdict::faster)) {
        const bool slower = estimate->verdict == Verdict::slower;
        for (int digits = 3; digits <= 6; ++digits) {
            const double at = shown(ratio, decimals);
            if (slower ? at > 1 + settings.threshold : at < 1 - settings.threshold)
                break;
            decimals = digits;
        }
    }
    return decimals;
}

std::string ratioText(double ratio, const std::optional<RatioEstimate>& estimate, const VerdictSettings& settings)
{
    return fixed(ratio, ratioDecimals(ratio, estimate, settings)) + "x";
}

std::string intervalText(const RatioEstimate& estimate, double ratio, int decimals)
{
    if (!estimate.low)
        return "";
    // The interval as shown holds the ratio as shown.
    const double at = shown(ratio, decimals);
    const int lowDecimals = endDecimals(*estimate.low), highDecimals = endDecimals(*estimate.high);
    const std::string low = shown(*estimate.low, lowDecimals) > at ? fixed(ratio, decimals)
                                                                   : fixed(*estimate.low, lowDecimals);
    const std::string high = shown(*estimate.high, highDecimals) < at ? fixed(ratio, decimals)
                                                                      : fixed(*estimate.high, highDecimals);
    return low + ".." + high;
}

std::string ratioWithInterval(const RatioEstimate& estimate, const VerdictSettings& settings)
{
    const int decimals = ratioDecimals(estimate.estimate, estimate, settings);
    const std::string text = fixed(estimate.estimate, decimals) + "x";
    const std::string interval = intervalText(estimate, estimate.estimate, decimals);
    return interval.empty() ? text : text + " (" + interval + ")";
}

std::string percentText(double fraction)
{
    return format("%g", fraction * 100) + "%";
}

std::string shareText(double fraction)
{
    return format("%.1f", fraction * 100) + "%";
}

std::string mebibytes(std::size_t bytes)
{
    return std::to_string(bytes >> 20) + " MiB";
}

std::string groupName(std::size_t index)
{
    std::string name(1, static_cast<char>('A' + index % 26));
    if (index >= 26)
        name += std::to_string(index / 26 + 1);
    return name;
}

} // namespace cpubench
