// The HTML report of cpubench-compare as a browser renders it: headless
// Chromium takes a screenshot of it (kept in the build tree for people to
// look at) and, from a copy with a small measuring script added, reports the
// rendered charts and the width of every bar. The report itself must hold
// no script and load nothing.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char kChromium[] = "/usr/bin/chromium";

const std::array<const char*, 9> kLabels = {"double mul log",  "SSE2 _mm_mul_pd", "GMP mpz_pow_ui",
                                            "INT64MulDiv128",  "4Kern MulDiv128", "8Kern MulDiv128",
                                            "18KernMulDiv128", "MUL-Mod 32 Bit",  "Copy 2 GB"};

// A complete run, each line's time `scale` times a typical one.
std::string run(double scale)
{
    const double times[] = {2.379, 2.717, 1.791, 0.655, 1.396, 2.717, 5.979, 4.135, 8.854};
    char text[2048];
    std::snprintf(text, sizeof text,
                  "Varnholm's CPU Benchmark 2018 \n\n"
                  "double mul log =1.10599194636449 -3.141404674090610 3.440 in %.3f s\n\n"
                  "SSE2 _mm_mul_pd=741.77454342945498 166507.146153411275009 in %.3f s\n\n"
                  "GMP mpz_pow_ui = 5004229104086913198124845349396819872827 in %.3f s\n\n"
                  "INT64MulDiv128 = 60060930203205007 Mod=73808544117964     in %.3f s\n\n"
                  "4Kern MulDiv128= 60060928422058037 K2=60060928422058037   in %.3f s\n"
                  "8Kern MulDiv128= 60060928422058037 K2=60060928422058037   in %.3f s\n"
                  "18KernMulDiv128= 60060928422058037 K2=60060928422058037   in %.3f s\n\n"
                  "MUL-Mod 32 Bit = 54885 u32A= 65537  in %.3f s\n\n"
                  "Copy 2 GB   in %.3f s\n\n"
                  "fertig! Beenden mit ENTER",
                  times[0] * scale, times[1] * scale, times[2] * scale, times[3] * scale, times[4] * scale,
                  times[5] * scale, times[6] * scale, times[7] * scale, times[8] * scale);
    return text;
}

std::string slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string shellQuoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// Runs Chromium headless on `page` with a profile of its own, bounded in
// time; the whole process group is killed when it overruns.
int chromium(const fs::path& work, const std::string& what, const fs::path& page, const std::string& redirect)
{
    // A new empty profile each time, named by the process and a count, so
    // that no other run of this test (of another build tree) shares it.
    static int count = 0;
    const fs::path profile = work / ("profile-" + std::to_string(getpid()) + "-" + std::to_string(++count));
    fs::remove_all(profile);
    fs::create_directories(profile);
    const std::string command =
        std::string("timeout -k 10 120 ") + kChromium +
        " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking"
        " --disable-component-update --disable-sync --hide-scrollbars --window-size=1280,2200 --user-data-dir=" +
        shellQuoted(profile) + " " + what + " " + shellQuoted("file://" + page.string()) + " " + redirect + " 2>>" +
        shellQuoted(work / "chromium.log");
    const int status = std::system(command.c_str());
    std::error_code ignored;
    fs::remove_all(profile, ignored);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ReportInBrowser, ChartsAndBarsAsRendered)
{
    if (!fs::exists(kChromium))
        GTEST_SKIP() << kChromium << " is missing: install Debian's chromium to run this test";

    const fs::path work = fs::path(testing::TempDir()) / ("report_browser." + std::to_string(getpid()));
    fs::remove_all(work);
    // Three machines of four runs each (the fewest with an interval), each
    // with a spread of its own (so that a bar drawn to another figure than
    // the median shows); one name needs escaping in HTML.
    struct Machine {
        std::string name;
        double scale, spread;
    };
    const std::vector<Machine> machines = {{"alpha", 1.0, 0.02}, {"beta & <gamma>", 1.6, 0.15}, {"delta", 0.55, 0.3}};
    for (const Machine& machine : machines) {
        fs::create_directories(work / machine.name);
        for (int i = 1; i <= 4; ++i)
            std::ofstream(work / machine.name / ("run-" + std::to_string(i) + ".txt"), std::ios::binary)
                << run(machine.scale * (1 + machine.spread * (i - 2)));
    }
    std::ofstream(work / "alpha" / "machine.json") << R"({"processor": "Test CPU", "logical_cpus": 4})";

    const fs::path report = work / "report.html";
    const std::string compare = std::string("'") + CPUBENCH_COMPARE_EXE + "' --html " + shellQuoted(report) + " " +
                                shellQuoted(work / "alpha") + " " + shellQuoted(work / machines[1].name) + " " +
                                shellQuoted(work / "delta") + " >/dev/null";
    ASSERT_EQ(std::system(compare.c_str()), 0);
    const std::string html = slurp(report);
    for (const char* loader : {"<script", "http:", "https:", "url(", "@import", " src=", " href="})
        EXPECT_EQ(html.find(loader), std::string::npos) << loader;

    fs::create_directories(CPUBENCH_ARTIFACTS_DIR);
    const fs::path screenshot = fs::path(CPUBENCH_ARTIFACTS_DIR) / "report.png";
    fs::remove(screenshot);
    EXPECT_EQ(chromium(work, "--screenshot=" + shellQuoted(screenshot), report, ">/dev/null"), 0) << slurp(work / "chromium.log");
    EXPECT_TRUE(fs::exists(screenshot));
    std::printf("Screenshot of the report: %s\n", screenshot.string().c_str());

    // A copy that measures what was rendered and writes it into the page.
    std::string measuring = html;
    measuring.insert(measuring.rfind("</body>"), R"(<script>
(function () {
  var charts = Array.prototype.map.call(document.querySelectorAll('svg.chart'), function (chart) {
    return {line: chart.getAttribute('data-line'),
            bars: Array.prototype.map.call(chart.querySelectorAll('rect.bar'), function (bar) {
              return {machine: bar.getAttribute('data-machine'), median: parseFloat(bar.getAttribute('data-median')),
                      left: bar.getBoundingClientRect().left, width: bar.getBoundingClientRect().width};
            }),
            intervals: Array.prototype.map.call(chart.querySelectorAll('path.interval'), function (path) {
              var box = path.getBoundingClientRect();
              return {machine: path.getAttribute('data-machine'), low: parseFloat(path.getAttribute('data-low')),
                      high: parseFloat(path.getAttribute('data-high')), left: box.left, right: box.right};
            })};
  });
  var out = document.createElement('pre');
  out.id = 'measured';
  out.textContent = JSON.stringify(charts);
  document.body.appendChild(out);
})();
</script>
)");
    const fs::path measured = work / "measured.html";
    std::ofstream(measured, std::ios::binary) << measuring;
    ASSERT_EQ(chromium(work, "--dump-dom", measured, ">" + shellQuoted(work / "dom.html")), 0) << slurp(work / "chromium.log");
    std::string dom = slurp(work / "dom.html");
    const std::size_t start = dom.find("<pre id=\"measured\">");
    ASSERT_NE(start, std::string::npos) << dom.substr(0, 2000);
    std::string text = dom.substr(start + 19, dom.find("</pre>", start) - start - 19);
    for (const auto& [entity, character] : std::vector<std::pair<std::string, std::string>>{
             {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        for (std::size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, entity.size(), character);

    const nlohmann::json charts = nlohmann::json::parse(text);
    ASSERT_EQ(charts.size(), kLabels.size());
    for (std::size_t line = 0; line < kLabels.size(); ++line) {
        const nlohmann::json& chart = charts[line];
        SCOPED_TRACE(kLabels[line]);
        EXPECT_EQ(chart["line"], kLabels[line]);
        const nlohmann::json& bars = chart["bars"];
        ASSERT_EQ(bars.size(), machines.size());
        const double baseWidth = bars[0]["width"].get<double>(), baseMedian = bars[0]["median"].get<double>();
        EXPECT_GT(baseWidth, 50);
        for (std::size_t m = 0; m < machines.size(); ++m) {
            EXPECT_EQ(bars[m]["machine"], machines[m].name);
            const double expected = baseWidth * bars[m]["median"].get<double>() / baseMedian;
            EXPECT_NEAR(bars[m]["width"].get<double>(), expected, 1.0) << machines[m].name;
        }
        // Each other machine's interval spans the baseline's median times
        // its ends (the bracket's stroke adds a pixel on each side).
        const nlohmann::json& intervals = chart["intervals"];
        ASSERT_EQ(intervals.size(), machines.size() - 1);
        const double origin = bars[0]["left"].get<double>();
        for (const nlohmann::json& interval : intervals) {
            SCOPED_TRACE(interval["machine"].get<std::string>());
            EXPECT_NEAR(interval["left"].get<double>() - origin, baseWidth * interval["low"].get<double>(), 1.5);
            EXPECT_NEAR(interval["right"].get<double>() - origin, baseWidth * interval["high"].get<double>(), 1.5);
        }
    }
    if (!HasFailure())
        fs::remove_all(work);
}

} // namespace
