#include "report.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace {

using expected::kLines;

struct Cell {
    std::string time;
    std::string ratio; // empty in the baseline's column
    std::string mark;
};

std::string ratio(const std::string& time, const std::string& baseline)
{
    const double base = std::strtod(baseline.c_str(), nullptr);
    if (time.empty() || baseline.empty() || !(base > 0))
        return "-";
    char text[40];
    std::snprintf(text, sizeof text, "%.2fx", std::strtod(time.c_str(), nullptr) / base);
    return text;
}

std::string groupName(std::size_t index)
{
    std::string name(1, static_cast<char>('A' + index % 26));
    if (index >= 26)
        name += std::to_string(index / 26 + 1);
    return name;
}

std::string markdownEscaped(const std::string& text)
{
    std::string escaped;
    for (char c : text) {
        if (std::string_view("\\`*_[]<>|#").find(c) != std::string_view::npos)
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string padded(const std::string& text, std::size_t width, bool right = false)
{
    const std::string fill(width > text.size() ? width - text.size() : 0, ' ');
    return right ? fill + text : text + fill;
}

void trimEnd(std::string& line)
{
    line.erase(line.find_last_not_of(' ') + 1);
}

} // namespace

void writeReport(std::ostream& out, const std::vector<NamedTranscript>& files, bool markdown)
{
    // Files with the same log fingerprint, in the order they first appear.
    std::vector<std::pair<std::string, std::vector<std::string>>> groups;
    std::vector<std::string> groupOf(files.size());
    for (std::size_t f = 0; f < files.size(); ++f) {
        const LineResult& line = files[f].transcript.lines[0];
        if (!line.present || line.values.empty())
            continue;
        std::string values;
        for (const std::string& value : line.values)
            values += (values.empty() ? "" : " ") + value;
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == values; });
        if (group == groups.end())
            group = groups.insert(groups.end(), {values, {}});
        group->second.push_back(files[f].name);
        groupOf[f] = groupName(static_cast<std::size_t>(group - groups.begin()));
    }

    std::vector<std::array<Cell, expected::kLineCount>> cells(files.size());
    for (std::size_t f = 0; f < files.size(); ++f) {
        for (std::size_t row = 0; row < kLines.size(); ++row) {
            const LineResult& line = files[f].transcript.lines[row];
            Cell& cell = cells[f][row];
            cell.time = line.time.empty() ? "-" : line.time;
            if (f > 0)
                cell.ratio = ratio(line.time, files[0].transcript.lines[row].time);
            if (line.mark == Mark::exact)
                cell.mark = "ok";
            else if (line.mark == Mark::wrong)
                cell.mark = markdown ? "**WRONG**" : "WRONG";
            else if (line.mark == Mark::unchecked && kLines[row].kind == expected::Values::fingerprint)
                cell.mark = groupOf[f];
        }
    }

    std::vector<std::string> head = {"Time of each run in seconds."};
    if (files.size() > 1)
        head.back() += " Ratio = time / time of " + files[0].name + ": lower is faster.";
    head.push_back("Values: ok = exact, WRONG = differ (see Problems), A, B, ... = log fingerprint.");

    std::vector<std::string> foot;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::string names;
        for (const std::string& name : groups[g].second)
            names += (names.empty() ? "" : ", ") + name;
        foot.push_back("log fingerprint " + groupName(g) + ": " + names + " (" + groups[g].first + ")");
    }
    std::vector<std::string> problems;
    for (const NamedTranscript& file : files)
        for (const std::string& problem : file.transcript.problems)
            problems.push_back(file.name + ": " + problem);
    if (problems.empty())
        foot.push_back("All transcripts complete, all fixed values exact.");

    if (markdown) {
        for (const std::string& line : head)
            out << markdownEscaped(line) << "\n\n";
        out << "| run |";
        for (const NamedTranscript& file : files)
            out << ' ' << markdownEscaped(file.name) << " |";
        out << "\n|---|";
        for (std::size_t f = 0; f < files.size(); ++f)
            out << "---|";
        out << '\n';
        for (std::size_t row = 0; row < kLines.size(); ++row) {
            out << "| " << markdownEscaped(std::string(kLines[row].label)) << " |";
            for (std::size_t f = 0; f < files.size(); ++f) {
                const Cell& cell = cells[f][row];
                std::string text = cell.time;
                for (const std::string* part : {&cell.ratio, &cell.mark})
                    if (!part->empty())
                        text += " " + *part;
                out << ' ' << text << " |";
            }
            out << '\n';
        }
        out << '\n';
        for (const std::string& line : foot)
            out << "- " << markdownEscaped(line) << '\n';
        if (!problems.empty()) {
            out << "\nProblems:\n\n";
            for (const std::string& problem : problems)
                out << "- " << markdownEscaped(problem) << '\n';
        }
        return;
    }

    // Plain text: the times right-aligned, each part of a column in a
    // width of its own, each column at least as wide as its file's name.
    std::size_t labelWidth = 0;
    for (const expected::ResultLine& known : kLines)
        labelWidth = std::max(labelWidth, known.label.size());
    std::vector<std::array<std::size_t, 3>> partWidths(files.size(), {0, 0, 0});
    std::vector<std::size_t> columnWidths(files.size());
    for (std::size_t f = 0; f < files.size(); ++f) {
        auto& widths = partWidths[f];
        for (const Cell& cell : cells[f]) {
            widths[0] = std::max(widths[0], cell.time.size());
            widths[1] = std::max(widths[1], cell.ratio.size());
            widths[2] = std::max(widths[2], cell.mark.size());
        }
        std::size_t content = widths[0];
        for (std::size_t part = 1; part < 3; ++part)
            content += widths[part] == 0 ? 0 : 2 + widths[part];
        columnWidths[f] = std::max(content, files[f].name.size());
    }

    for (const std::string& line : head)
        out << line << '\n';
    std::string header(labelWidth, ' ');
    for (std::size_t f = 0; f < files.size(); ++f)
        header += "  " + padded(files[f].name, columnWidths[f]);
    trimEnd(header);
    out << '\n' << header << '\n';
    for (std::size_t row = 0; row < kLines.size(); ++row) {
        std::string line = padded(std::string(kLines[row].label), labelWidth);
        for (std::size_t f = 0; f < files.size(); ++f) {
            const Cell& cell = cells[f][row];
            const auto& widths = partWidths[f];
            std::string text = padded(cell.time, widths[0], true);
            if (widths[1] > 0)
                text += "  " + padded(cell.ratio, widths[1], true);
            if (widths[2] > 0)
                text += "  " + padded(cell.mark, widths[2]);
            line += "  " + padded(text, columnWidths[f]);
        }
        trimEnd(line);
        out << line << '\n';
    }
    out << '\n';
    for (const std::string& line : foot)
        out << line << '\n';
    if (!problems.empty()) {
        out << "\nProblems:\n";
        for (const std::string& problem : problems)
            out << "  " << problem << '\n';
    }
}
