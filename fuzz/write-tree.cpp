// Writes the folder tree of one fuzz input (fuzz_input.h) to disk, for a
// run of cpubench-compare itself over it (scripts/same-output.py):
//
//   write-tree INPUT DIR compare|history
//
// DIR/tree/ holds the folders and files, DIR/roots the machines' folders in
// their order (relative to DIR/tree, each ended by a NUL byte) and
// DIR/options the input's @@O options as cpubench-compare's, one a line.
// The limits are the fuzz target's of the same name. Exit status 0, or 2
// when the input cannot be read or a file cannot be written.
#include "fuzz_input.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

bool write(const fs::path& file, const std::string& bytes)
{
    std::ofstream out(file, std::ios::binary);
    out << bytes;
    return static_cast<bool>(out.flush());
}

std::string percent(double fraction)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", fraction * 100);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string target = argc == 4 ? argv[3] : "";
    if (target != "compare" && target != "history") {
        std::cerr << "usage: write-tree INPUT DIR compare|history\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
        std::cerr << argv[1] << ": cannot read\n";
        return 2;
    }
    const fuzz::Limits limits = target == "compare" ? fuzz::Limits{12, 160, 96} : fuzz::Limits{8, 160, 320};
    const fuzz::Tree tree =
        fuzz::treeOf(fuzz::splitParts(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()), limits);
    const fs::path dir = argv[2], top = dir / "tree";
    std::error_code error;
    fs::create_directories(top, error);
    for (const std::string& folder : tree.folders)
        fs::create_directories(top / folder, error);
    bool ok = !error;
    for (const auto& [path, bytes] : tree.files)
        ok = write(top / path, bytes) && ok;
    std::string roots, options;
    for (const std::string& root : tree.roots)
        roots += root + '\0';
    if (tree.options.markdown)
        options += "--markdown\n";
    if (tree.options.byMachine)
        options += "--by-machine\n";
    if (tree.options.keepDisturbed)
        options += "--keep-disturbed\n";
    options += "--threshold\n" + percent(tree.options.threshold) + "\n--confidence\n" + percent(tree.options.level) + "\n";
    ok = write(dir / "roots", roots) && write(dir / "options", options) && ok;
    if (!ok)
        std::cerr << dir.string() << ": cannot write the tree\n";
    return ok ? 0 : 2;
}
