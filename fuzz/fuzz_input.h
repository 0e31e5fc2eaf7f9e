// The fuzz targets' shared input format, and the folder tree it stands for.
//
// The comparison's and the history's inputs are one text cut into parts at
// lines that start with "@@" (so that the seeds are readable and the
// transcript's dictionary works inside them):
//   @@O <letters>   options: m Markdown, b turned table, k keep disturbed
//                   lines, t<n> threshold n%, c<n> confidence n%
//                   (out-of-range values are clamped)
//   @@M <name>      a new machine (a new history in the history target)
//   @@S <name>      a new session of the current machine or history
//   @@J             the following lines are the machine.json
//   @@D             the following lines are the recorder's session.json
//                   (its state and the runs' disturbance figures)
//   @@R <name>      the following lines are a run's transcript
// Text before the first header is ignored.
//
// The parts stand for a folder tree as the lab and the recorder leave it
// (treeOf): a folder per machine, a session folder in it per @@S, and in the
// folder last named its machine.json, session.json and transcripts. The fuzz
// targets read that tree through the program's own reader; the same tree
// written to disk (fuzz/write-tree.cpp) is an input of the program itself.
// This file depends on nothing else of the project.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

struct Part {
    char kind = 0;      // 'O', 'M', 'S', 'J', 'D' or 'R'
    std::string name;   // the rest of the header line
    std::string body;   // the lines up to the next header
};

std::vector<Part> splitParts(const std::uint8_t* data, std::size_t size);

struct Options {
    bool markdown = false;
    bool byMachine = false;
    bool keepDisturbed = false;
    double threshold = 0.02;
    double level = 0.95;
};

Options parseOptions(const std::string& letters);

// How much of an input is made into a tree, so that one input stays fast.
struct Limits {
    std::size_t machines, sessions, runs;
};

// The folder tree of an input: relative paths with '/' between folders.
struct Tree {
    Options options;
    std::vector<std::string> roots;              // a folder per @@M, in their order
    std::vector<std::string> folders;            // every folder, each after its parent
    std::map<std::string, std::string> files;    // path -> bytes
};

// A @@M name may name folders inside folders ("lab/host-a"); a @@S or @@R
// name is one folder or file. A name's '/' (in a session or run) and NUL
// become '_', an empty name or "." or ".." gets a '_' in front, a name is
// cut to 200 bytes, and a name taken already in its folder gets -2, -3, ...
// (before ".txt" for a run). A run's file gets ".txt" where its name lacks
// it. A second machine.json or session.json in one folder replaces the
// first. Parts past the limits are left out.
Tree treeOf(const std::vector<Part>& parts, const Limits& limits);

} // namespace fuzz
