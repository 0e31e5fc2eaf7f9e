#include "fuzz_checks.h"

#include "escape.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

[[noreturn]] void fail(const char* what, std::string_view context)
{
    std::fprintf(stderr, "fuzz check failed: %s near: %.*s\n", what, static_cast<int>(std::min<std::size_t>(context.size(), 200)),
                 context.data());
    std::abort();
}

} // namespace

cpubench::MemoryTree memoryTree(const Tree& tree)
{
    cpubench::MemoryTree files;
    for (const std::string& folder : tree.folders)
        files.addFolder(folder);
    for (const auto& [path, bytes] : tree.files)
        files.addFile(path, bytes);
    return files;
}

cpubench::VerdictSettings settings(const Options& options)
{
    cpubench::VerdictSettings settings;
    settings.level = options.level;
    settings.threshold = options.threshold;
    return settings;
}

void requireTerminalSafe(std::string_view text, const char* what)
{
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F)
            fail(what, text);
    }
    if (cpubench::printable(text) != text)
        fail(what, text);
}

void requireSafeHtml(std::string_view html)
{
    requireTerminalSafe(html, "HTML: control character or invalid UTF-8");
    static const char* const kElements[] = {
        "!DOCTYPE", "html", "head", "meta", "title", "style", "body", "h1", "h2", "h3", "p", "span", "strong",
        "div", "table", "tr", "th", "td", "ul", "li", "details", "summary", "figure", "figcaption", "svg",
        "text", "line", "rect", "path", "polyline", "circle", "br"};
    for (std::size_t at = html.find('<'); at != std::string_view::npos; at = html.find('<', at + 1)) {
        std::size_t end = at + 1;
        if (end < html.size() && html[end] == '/')
            ++end;
        const std::size_t nameStart = end;
        while (end < html.size() && (std::isalnum(static_cast<unsigned char>(html[end])) != 0 || html[end] == '!'))
            ++end;
        const std::string_view name = html.substr(nameStart, end - nameStart);
        if (std::none_of(std::begin(kElements), std::end(kElements), [&](const char* e) { return name == e; }))
            fail("HTML: an element the report does not write", html.substr(at));
        const std::size_t close = html.find('>', at);
        if (close == std::string_view::npos)
            fail("HTML: a tag without its end", html.substr(at));
        std::string tag(html.substr(at, close - at));
        std::transform(tag.begin(), tag.end(), tag.begin(), [](unsigned char c) { return std::tolower(c); });
        for (std::size_t on = tag.find(" on"); on != std::string::npos; on = tag.find(" on", on + 1)) {
            std::size_t letters = on + 3;
            while (letters < tag.size() && std::isalpha(static_cast<unsigned char>(tag[letters])) != 0)
                ++letters;
            if (letters < tag.size() && tag[letters] == '=')
                fail("HTML: an event-handler attribute", html.substr(at));
        }
        if (tag.find("javascript:") != std::string::npos)
            fail("HTML: a script address", html.substr(at));
    }
}

void requireJson(const std::string& text)
{
    if (!nlohmann::json::accept(text))
        fail("not one JSON document", text);
}

} // namespace fuzz
