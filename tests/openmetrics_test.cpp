// The OpenMetrics text of a history: read back by a strict reader of the
// format (metadata before each family's samples, families whole, no blank
// line, "# EOF" last), hostile label values come back as the cleaned text,
// values exactly, and a machine named twice is written once. The real
// Prometheus and node_exporter read it in tests/openmetrics-test.sh.
#include "write/openmetrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using cpubench::write::MetricsLine;
using cpubench::write::MetricsMachine;
using cpubench::write::writeOpenMetrics;

struct Sample {
    std::string name;
    std::map<std::string, std::string> labels;
    double value = 0;
};

// The samples of `text`; a fault of the format fails the test.
std::vector<Sample> readBack(const std::string& text)
{
    std::vector<Sample> samples;
    std::set<std::string> done;
    std::string family;
    bool help = false, type = false, eof = false;
    std::istringstream in(text);
    EXPECT_EQ(text.empty() ? '\0' : text.back(), '\n');
    for (std::string line; std::getline(in, line);) {
        EXPECT_FALSE(eof) << "text after # EOF: " << line;
        EXPECT_FALSE(line.empty()) << "a blank line";
        if (line == "# EOF") {
            eof = true;
            continue;
        }
        if (line.rfind("# ", 0) == 0) {
            std::istringstream words(line.substr(2));
            std::string kind, name;
            words >> kind >> name;
            if (name != family) {
                EXPECT_TRUE(done.insert(name).second) << name << " is cut in two";
                family = name;
                help = type = false;
            }
            help = help || kind == "HELP";
            if (kind == "HELP") {
                EXPECT_EQ(line.find_first_of("\\\""), std::string::npos) << "a HELP text needs no escape: " << line;
            } else if (kind == "TYPE") {
                std::string gauge;
                words >> gauge;
                EXPECT_EQ(gauge, "gauge");
                type = true;
            } else
                EXPECT_EQ(kind, "UNIT") << line;
            continue;
        }
        Sample sample;
        const std::size_t brace = line.find('{');
        sample.name = line.substr(0, brace);
        EXPECT_EQ(sample.name, family) << "a sample outside its family";
        EXPECT_TRUE(help && type) << sample.name << " without HELP and TYPE";
        std::size_t i = brace + 1;
        while (i < line.size() && line[i] != '}') {
            const std::size_t equals = line.find("=\"", i);
            const std::string label = line.substr(i, equals - i);
            std::string value;
            for (i = equals + 2; i < line.size() && line[i] != '"'; ++i) {
                if (line[i] == '\\') {
                    ++i;
                    EXPECT_TRUE(line[i] == '\\' || line[i] == '"' || line[i] == 'n') << line;
                    value += line[i] == 'n' ? '\n' : line[i];
                } else
                    value += line[i];
            }
            EXPECT_TRUE(sample.labels.emplace(label, value).second) << "label " << label << " twice";
            i += 1;
            if (i < line.size() && line[i] == ',')
                ++i;
        }
        EXPECT_EQ(line.substr(i, 2), "} ");
        std::size_t used = 0;
        sample.value = std::stod(line.substr(i + 2), &used);
        EXPECT_EQ(i + 2 + used, line.size()) << "something after the value (a time stamp?): " << line;
        samples.push_back(sample);
    }
    EXPECT_TRUE(eof) << "no # EOF";
    return samples;
}

const Sample* find(const std::vector<Sample>& samples, const std::string& name, const std::string& machine,
                   const std::string& line = "")
{
    for (const Sample& s : samples)
        if (s.name == name && s.labels.at("machine") == machine &&
            (line.empty() ? s.labels.count("line") == 0 : s.labels.count("line") && s.labels.at("line") == line))
            return &s;
    return nullptr;
}

TEST(OpenMetrics, HostileLabelValuesComeBackAsCleanedText)
{
    MetricsMachine m;
    m.name = "quote\"back\\slash\nnewline";
    m.facts = {{"processor", "bad \xff byte, overlong \xc0\xaf, surrogate \xed\xa0\x80, cut \xe2\x82"},
               {"kernel", std::string(200, 'k') + "\xe6\x97\xa5"},
               {"os", "esc \x1b[31m, C1 \xc2\x9b, DEL \x7f, tab \t, \xe6\x97\xa5\xe6\x9c\xac"},
               {"microcode", ""},                  // empty: no label
               {"governor", "performance"},        // not one of the labels written
               {"mitigations.mds", "Not affected"}};
    m.lines = {{"4Kern MulDiv128", 1.25, 1.2, 1.03, true, true}};
    const auto samples = readBack(writeOpenMetrics({m}).text);
    const Sample* median = find(samples, "cpubench_line_median_seconds", m.name, "4Kern MulDiv128");
    ASSERT_NE(median, nullptr) << writeOpenMetrics({m}).text;
    const std::string fffd = "\xef\xbf\xbd";
    const std::map<std::string, std::string> expected = {
        {"machine", "quote\"back\\slash\nnewline"},
        {"line", "4Kern MulDiv128"},
        {"processor", "bad " + fffd + " byte, overlong " + fffd + fffd + ", surrogate " + fffd + fffd + fffd +
                          ", cut " + fffd + fffd},
        // Cut to 128 bytes with the dots, before the three-byte character.
        {"kernel", std::string(125, 'k') + "..."},
        {"os", "esc " + fffd + "[31m, C1 " + fffd + ", DEL " + fffd + ", tab " + fffd + ", \xe6\x97\xa5\xe6\x9c\xac"},
    };
    EXPECT_EQ(median->labels, expected);
    // A character is never split by the cut.
    m.facts = {{"kernel", std::string(124, 'k') + "\xe6\x97\xa5\xe6\x97\xa5"}};
    EXPECT_EQ(find(readBack(writeOpenMetrics({m}).text), "cpubench_line_level_seconds", m.name, "4Kern MulDiv128")
                  ->labels.at("kernel"),
              std::string(124, 'k') + "...");
}

TEST(OpenMetrics, ValuesComeBackExactlyAndUnknownOnesAreLeftOut)
{
    MetricsMachine a;
    a.name = "alpha";
    a.newestSessionStart = cpubench::write::sessionStart("2026-12-08T14.05Z");
    a.flawed = true;
    a.lines = {{"GMP mpz_pow_ui", 0.1 + 0.2, 1.0 / 3, 4.18, true, true},
               {"Copy 2 GB", 12.67, 1e-300, std::nullopt, false, false},
               {"INT64MulDiv128", std::nullopt, std::numeric_limits<double>::quiet_NaN(),
                std::numeric_limits<double>::infinity(), false, false}};
    MetricsMachine b;
    b.name = "beta";
    b.lines = {{"GMP mpz_pow_ui", 1.5, 1.5, 0.97, true, false}};
    const auto samples = readBack(writeOpenMetrics({a, b}).text);

    EXPECT_EQ(find(samples, "cpubench_line_median_seconds", "alpha", "GMP mpz_pow_ui")->value, 0.1 + 0.2);
    EXPECT_EQ(find(samples, "cpubench_line_level_seconds", "alpha", "GMP mpz_pow_ui")->value, 1.0 / 3);
    EXPECT_EQ(find(samples, "cpubench_line_level_seconds", "alpha", "Copy 2 GB")->value, 1e-300);
    EXPECT_EQ(find(samples, "cpubench_line_level_ratio", "alpha", "GMP mpz_pow_ui")->value, 4.18);
    // No level before, no good run, NaN and infinity: no sample.
    EXPECT_EQ(find(samples, "cpubench_line_level_ratio", "alpha", "Copy 2 GB"), nullptr);
    EXPECT_EQ(find(samples, "cpubench_line_median_seconds", "alpha", "INT64MulDiv128"), nullptr);
    EXPECT_EQ(find(samples, "cpubench_line_level_seconds", "alpha", "INT64MulDiv128"), nullptr);
    EXPECT_EQ(find(samples, "cpubench_line_level_ratio", "alpha", "INT64MulDiv128"), nullptr);
    // The flags are there for every line: 0 is news too.
    EXPECT_EQ(find(samples, "cpubench_line_change", "alpha", "INT64MulDiv128")->value, 0);
    EXPECT_EQ(find(samples, "cpubench_line_alarm", "alpha", "GMP mpz_pow_ui")->value, 1);
    EXPECT_EQ(find(samples, "cpubench_line_change", "beta", "GMP mpz_pow_ui")->value, 1);
    EXPECT_EQ(find(samples, "cpubench_line_alarm", "beta", "GMP mpz_pow_ui")->value, 0);
    EXPECT_EQ(find(samples, "cpubench_machine_flawed", "alpha")->value, 1);
    EXPECT_EQ(find(samples, "cpubench_machine_flawed", "beta")->value, 0);
    EXPECT_EQ(find(samples, "cpubench_machine_newest_session_timestamp_seconds", "alpha")->value, 1796738700);
    EXPECT_EQ(find(samples, "cpubench_machine_newest_session_timestamp_seconds", "beta"), nullptr);
    // Per family: median, level, ratio, change, alarm, flawed, newest session.
    EXPECT_EQ(samples.size(), 3u + 3 + 2 + 4 + 4 + 2 + 1);
}

TEST(OpenMetrics, AMachineNamedTwiceIsWrittenOnce)
{
    MetricsMachine first, second, third;
    first.name = "host";
    // Another folder of the same name, and one that is the same once cut.
    second.name = "host";
    third.name = std::string(200, 'h') + "1";
    MetricsMachine fourth = third;
    fourth.name = std::string(200, 'h') + "2";
    for (MetricsMachine* m : {&first, &second, &third, &fourth})
        m->lines = {{"Copy 2 GB", 1, 1, 1, false, false}};
    const auto written = writeOpenMetrics({first, second, third, fourth});
    EXPECT_EQ(written.duplicates, (std::vector<std::size_t>{1, 3}));
    EXPECT_EQ(readBack(written.text).size(), 2u * 6);
}

TEST(OpenMetrics, SessionNamesAreTheirStartInUtc)
{
    using cpubench::write::sessionStart;
    EXPECT_EQ(sessionStart("1970-01-01T00.00Z"), 0.0);
    EXPECT_EQ(sessionStart("1969-12-31T23.59Z"), -60.0);
    EXPECT_EQ(sessionStart("2024-02-29T23.59Z"), 1709251140.0);
    EXPECT_EQ(sessionStart("2026-12-08T14.05Z-12"), 1796738700.0);
    for (const char* name : {"2023-02-29T00.00Z", "2026-13-01T00.00Z", "2026-12-08T24.00Z", "2026-12-08T14.05Z-",
                             "2026-12-08T14.05Zx", "2026-12-08T14:05Z", "results", ""})
        EXPECT_EQ(sessionStart(name), std::nullopt) << name;
}

} // namespace
