// Writes the OpenMetrics text of a made-up fleet for tests/openmetrics-test.sh:
// three machines whose names and facts are hostile (the test looks for the
// cleaned values it names), then MACHINES ordinary ones, nine lines each.
//
//   openmetrics_sample FILE [MACHINES]
#include "write/openmetrics.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: openmetrics_sample FILE [MACHINES]\n");
        return 2;
    }
    using cpubench::write::MetricsLine;
    using cpubench::write::MetricsMachine;
    const char* const lines[] = {"double mul log", "SSE2 _mm_mul_pd", "GMP mpz_pow_ui", "INT64MulDiv128",
                                 "4Kern MulDiv128", "8Kern MulDiv128", "18KernMulDiv128", "MUL-Mod 32 Bit",
                                 "Copy 2 GB"};
    const long count = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 20;
    std::vector<MetricsMachine> machines;
    // Keep these in step with the values tests/openmetrics-test.sh expects.
    machines.push_back({"quote\"back\\slash\nnewline",
                        {{"kernel", "6.1.0-26-amd64"}, {"processor", "bad \xff byte"}},
                        cpubench::write::sessionStart("2026-12-08T14.05Z"),
                        false,
                        {}});
    machines.push_back({"host-\xe6\x97\xa5", {{"os", "Debian GNU/Linux 12 (bookworm)"}, {"kernel", "esc \x1b[31m"}},
                        std::nullopt, true, {}});
    machines.push_back({"long", {{"processor", std::string(300, 'p')}}, std::nullopt, false, {}});
    for (long m = 0; m < count; ++m)
        machines.push_back({"host-" + std::to_string(m + 1),
                            {{"kernel", m % 2 ? "6.1.0-27-amd64" : "6.1.0-26-amd64"},
                             {"processor", "AMD EPYC 7763 64-Core Processor"},
                             {"gmp_version", "6.2.1"},
                             {"cpubench_version", "1.2.0"}},
                            cpubench::write::sessionStart("2026-12-09T02.00Z"),
                            false,
                            {}});
    for (std::size_t m = 0; m < machines.size(); ++m)
        for (std::size_t l = 0; l < std::size(lines); ++l) {
            const double base = 1 + 0.25 * static_cast<double>(l) + 0.001 * static_cast<double>(m);
            MetricsLine line{lines[l], base * 1.01, base, 1.0 + 0.01 * static_cast<double>((m + l) % 7), false,
                             false};
            line.change = (m + l) % 5 == 0;
            line.alarm = line.change && (m + l) % 2 == 0;
            if (m == 1 && l == 3)
                line.median.reset(); // no good run in the newest session
            if (l == 8)
                line.levelRatio.reset(); // no level before
            machines[m].lines.push_back(line);
        }
    const auto written = cpubench::write::writeOpenMetrics(machines);
    std::ofstream out(argv[1], std::ios::binary);
    out << written.text;
    return out.flush() ? 0 : 1;
}
