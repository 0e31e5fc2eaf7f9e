#include "fuzz_input.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace fuzz {

namespace {

double clamped(double value, double low, double high)
{
    return std::min(high, std::max(low, value));
}

// One folder's or file's name as a part names it (see treeOf).
std::string component(std::string name)
{
    constexpr std::size_t kLongest = 200;
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\0', '_');
    if (name.empty() || name == "." || name == "..")
        name.insert(0, "_");
    if (name.size() > kLongest)
        name.resize(kLongest);
    return name;
}

// The folders and files of a tree as they are made, each name once.
class Builder {
public:
    explicit Builder(Tree& tree) : tree_(tree) {}

    // `name` in `folder` ("" for the top), or its first free -2, -3, ...
    // (put before `ending`).
    std::string freePath(const std::string& folder, const std::string& name, const std::string& ending = "")
    {
        const std::string stem = name.substr(0, name.size() - ending.size());
        std::string path = join(folder, name);
        for (int n = 2; taken_.count(path) != 0; ++n)
            path = join(folder, stem + "-" + std::to_string(n) + ending);
        return path;
    }

    void addFolder(const std::string& path)
    {
        if (taken_.insert(path).second)
            tree_.folders.push_back(path);
    }

    // A @@M name's folders, each made in turn where it is not yet; the
    // last is new.
    std::string addRoot(const std::string& name)
    {
        std::string folder;
        std::size_t start = 0;
        for (std::size_t slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1) {
            const std::string inner = component(name.substr(start, slash - start));
            folder = tree_.files.count(join(folder, inner)) != 0 ? freePath(folder, inner) : join(folder, inner);
            addFolder(folder);
        }
        const std::string root = freePath(folder, component(name.substr(start)));
        addFolder(root);
        tree_.roots.push_back(root);
        return root;
    }

    // A file where no folder has its name.
    void addFile(const std::string& path, const std::string& bytes)
    {
        if (taken_.insert(path).second || tree_.files.count(path) != 0)
            tree_.files[path] = bytes;
    }

private:
    static std::string join(const std::string& folder, const std::string& name)
    {
        return folder.empty() ? name : folder + "/" + name;
    }

    Tree& tree_;
    std::set<std::string> taken_;
};

} // namespace

std::vector<Part> splitParts(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<Part> parts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find('\n', start);
        if (stop == std::string_view::npos)
            stop = text.size();
        const std::string_view line = text.substr(start, stop - start);
        const bool lineFeed = stop < text.size();
        start = stop + 1;
        if (line.size() >= 3 && line.substr(0, 2) == "@@" &&
            std::string_view("OMSJDR").find(line[2]) != std::string_view::npos) {
            Part part;
            part.kind = line[2];
            part.name = std::string(line.substr(std::min<std::size_t>(4, line.size())));
            parts.push_back(std::move(part));
            continue;
        }
        if (parts.empty())
            continue;
        parts.back().body.append(line);
        if (lineFeed)
            parts.back().body += '\n';
    }
    return parts;
}

Options parseOptions(const std::string& letters)
{
    Options options;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        const char c = letters[i];
        if (c == 'm')
            options.markdown = true;
        else if (c == 'b')
            options.byMachine = true;
        else if (c == 'k')
            options.keepDisturbed = true;
        else if (c == 't' || c == 'c') {
            double value = 0;
            std::size_t digits = 0;
            while (i + 1 < letters.size() && std::isdigit(static_cast<unsigned char>(letters[i + 1])) != 0 && digits < 4) {
                value = value * 10 + (letters[++i] - '0');
                ++digits;
            }
            if (c == 't')
                options.threshold = clamped(value / 10, 0, 50) / 100; // t25 is 2.5%
            else
                options.level = clamped(value / 10, 50, 99.9) / 100; // c950 is 95%
        }
    }
    return options;
}

Tree treeOf(const std::vector<Part>& parts, const Limits& limits)
{
    Tree tree;
    Builder builder(tree);
    std::string root, folder; // the current machine's folder, and the folder its parts go to
    std::size_t sessions = 0, runs = 0;
    for (const Part& part : parts) {
        if (part.kind == 'O')
            tree.options = parseOptions(part.name);
        else if (part.kind == 'M' && tree.roots.size() < limits.machines)
            folder = root = builder.addRoot(part.name);
        else if (root.empty())
            continue;
        else if (part.kind == 'S' && sessions < limits.sessions) {
            folder = builder.freePath(root, component(part.name));
            builder.addFolder(folder);
            ++sessions;
        } else if (part.kind == 'J')
            builder.addFile(folder + "/machine.json", part.body);
        else if (part.kind == 'D')
            builder.addFile(folder + "/session.json", part.body);
        else if (part.kind == 'R' && runs < limits.runs) {
            std::string name = component(part.name);
            if (name.size() < 4 || name.compare(name.size() - 4, 4, ".txt") != 0)
                name = name.substr(0, 196) + ".txt";
            builder.addFile(builder.freePath(folder, name, ".txt"), part.body);
            ++runs;
        }
    }
    return tree;
}

} // namespace fuzz
