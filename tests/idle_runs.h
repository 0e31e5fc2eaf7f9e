// The committed real runs of one build on one idle machine
// (tests/data/idle-runs), which the tests of the verdicts and the history
// split at random.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

inline std::vector<std::string> idleRuns()
{
    std::vector<std::string> texts;
    for (int i = 1;; ++i) {
        std::ifstream in(std::string(CPUBENCH_TEST_DATA) + "/idle-runs/run-" + std::to_string(i) + ".txt",
                         std::ios::binary);
        if (!in)
            break;
        texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return texts;
}
