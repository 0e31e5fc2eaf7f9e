// The comparison table of several transcripts, the first the baseline.
#pragma once

#include "transcript.h"

#include <ostream>
#include <string>
#include <vector>

struct NamedTranscript {
    std::string name;
    Transcript transcript;
};

// One row per result line, one column per transcript: its time, its ratio to
// the baseline's time, and a mark for its values; then the log fingerprints
// and every problem, each named with its file.
void writeReport(std::ostream& out, const std::vector<NamedTranscript>& files, bool markdown);
