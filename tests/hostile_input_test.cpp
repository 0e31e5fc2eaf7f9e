// cpubench-compare over folders as a broken or hostile host leaves them:
// files that are no regular file or far too large, and names and facts with
// control characters and markup, through every output.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

std::string quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// The executable's exit status, its standard output and its standard error.
// A hang ends with the test's timeout.
int run(const std::string& arguments, std::string& output, std::string& errors)
{
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    const fs::path out = fs::path(testing::TempDir()) / (test + "_out"), err = fs::path(testing::TempDir()) / (test + "_err");
    const std::string command = std::string("'") + CPUBENCH_COMPARE_EXE + "' " + arguments + " >" + quoted(out) +
                                " 2>" + quoted(err) + " </dev/null";
    const int status = std::system(command.c_str());
    output = slurp(out);
    errors = slurp(err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A folder of four real runs.
fs::path machineFolder(const fs::path& dir)
{
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (int i = 1; i <= 4; ++i)
        fs::copy_file(fs::path(CPUBENCH_TEST_DATA) / "idle-runs" / ("run-" + std::to_string(i) + ".txt"),
                      dir / ("run-" + std::to_string(i) + ".txt"));
    return dir;
}

// No terminal control: C0 but tab and line feed, DEL, C1 (also as 8-bit
// bytes, which invalid UTF-8 would let through).
bool terminalSafe(const std::string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F || c == 0xFF || (c >= 0x80 && c <= 0x9F && (i == 0 || static_cast<unsigned char>(text[i - 1]) == 0xC2)))
            return false;
    }
    return true;
}

} // namespace

// Among the runs: a FIFO (reading it would wait for ever), a link to
// /dev/zero (it never ends), a dangling link, a link loop, a socket; and
// a FIFO in place of machine.json. Each is named and skipped, the runs
// are compared.
TEST(CompareHostile, OddFilesAreNamedAndSkipped)
{
    fs::remove_all(fs::path(testing::TempDir()) / "hostile_odd");
    const fs::path dir = machineFolder(fs::path(testing::TempDir()) / "hostile_odd" / "host");
    ASSERT_EQ(mkfifo((dir / "run-9.txt").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir / "machine.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "run-8.txt");
    fs::create_symlink(dir / "gone", dir / "run-7.txt");
    fs::create_symlink(dir / "run-6.txt", dir / "loop");
    fs::create_symlink(dir / "loop", dir / "run-6.txt");

    std::string output, errors;
    EXPECT_EQ(run(quoted(dir), output, errors), 0) << output << errors;
    const std::string path = dir.string() + "/";
    for (const char* note : {"run-6.txt: a link that cannot be followed", "run-7.txt: a dangling link, not a regular file",
                                    "run-8.txt: a link to a device, not a regular file", "run-9.txt: a FIFO, not a regular file",
                                    "machine.json: a FIFO, not a regular file"})
        EXPECT_NE(output.find("left out: " + path + std::string(note)), std::string::npos) << note << "\n" << output;
    EXPECT_NE(output.find("Good runs: host 4."), std::string::npos) << output;

    // The same folder as a session of a history.
    const fs::path session = dir.parent_path() / "history" / "2026-12-08T14.05Z";
    fs::create_directories(session.parent_path());
    fs::rename(dir, session);
    EXPECT_EQ(run("--history " + quoted(session.parent_path()), output, errors), 0) << output << errors;
    EXPECT_NE(errors.find(session.string() + "/run-9.txt: a FIFO, not a regular file"), std::string::npos) << errors;
    EXPECT_NE(output.find("left out: " + session.string() + "/run-8.txt: a link to a device"), std::string::npos) << output;
}

// A file larger than any transcript (sparse: it takes no disk) is refused
// without being read, as is a file given by itself that never ends.
TEST(CompareHostile, HugeFilesAreRefused)
{
    fs::remove_all(fs::path(testing::TempDir()) / "hostile_huge");
    const fs::path dir = machineFolder(fs::path(testing::TempDir()) / "hostile_huge" / "host");
    { std::ofstream(dir / "run-5.txt"); }
    fs::resize_file(dir / "run-5.txt", std::uintmax_t{3} << 30);
    std::string output, errors;
    EXPECT_EQ(run(quoted(dir), output, errors), 2) << output << errors;
    EXPECT_NE(errors.find(dir.string() + "/run-5.txt: larger than 4 MiB, more than any real one: refused"), std::string::npos)
        << errors;
    EXPECT_EQ(run("/dev/zero", output, errors), 2) << output << errors;
    EXPECT_NE(errors.find("/dev/zero: larger than 4 MiB"), std::string::npos) << errors;

    fs::remove(dir / "run-5.txt");
    { std::ofstream(dir / "machine.json"); }
    fs::resize_file(dir / "machine.json", std::uintmax_t{2} << 20);
    EXPECT_EQ(run(quoted(dir), output, errors), 0) << output << errors;
    EXPECT_NE(errors.find("machine.json: larger than 1 MiB"), std::string::npos) << errors;
}

// A folder name and machine.json facts with escape sequences, a bell, a C1
// control, invalid UTF-8 and markup: escaped in the text, the Markdown, the
// HTML, on standard error and in the history; kept in the JSON as JSON
// escapes them.
TEST(CompareHostile, ControlCharactersAndMarkupAreEscapedInEveryOutput)
{
    const fs::path root = fs::path(testing::TempDir()) / "hostile_names";
    fs::remove_all(root);
    const std::string name = "esc\x1b[31mRED\x07\xc2\x9b<script>x";
    const fs::path dir = machineFolder(root / name);
    writeFile(dir / "machine.json", R"j({"processor": "cpu\u001b]0;title\u0007", "os": "<img src=x onerror=alert(1)>",
                                         "kernel": "\" onmouseover=\"alert(1)", "mitigations": {"flaw\u009b": "Vulnerable\u001b[2J"}})j");
    const fs::path bad = machineFolder(root / "bad\xff\x1b");
    writeFile(bad / "machine.json", "{broken");
    const std::string both = quoted(dir) + " " + quoted(bad);

    std::string text, markdown, json, errors, history, ignored;
    const fs::path html = root / "report.html", historyHtml = root / "history.html";
    EXPECT_EQ(run(both + " --html " + quoted(html), text, errors), 0) << text << errors;
    EXPECT_EQ(run("--markdown " + both, markdown, ignored), 0) << markdown;
    EXPECT_EQ(run("--json " + both, json, ignored), 0) << json;
    EXPECT_EQ(run("--history --html " + quoted(historyHtml) + " " + quoted(dir), history, ignored), 0) << history;
    std::string page = slurp(html), historyPage = slurp(historyHtml);

    for (std::string* out : {&text, &markdown, &errors, &history, &page, &historyPage})
        EXPECT_TRUE(terminalSafe(*out)) << *out;
    EXPECT_NE(text.find("esc\\x1b[31mRED\\x07\\u009b<script>x"), std::string::npos) << text;
    EXPECT_NE(errors.find("bad\\xff\\x1b/machine.json: not valid JSON"), std::string::npos) << errors;
    EXPECT_NE(markdown.find("esc\\x1b\\[31mRED\\x07\\u009b\\<script\\>x"), std::string::npos) << markdown;
    EXPECT_NE(history.find("esc\\x1b[31mRED"), std::string::npos) << history;
    for (std::string* out : {&page, &historyPage}) {
        EXPECT_EQ(out->find("<script"), std::string::npos);
        EXPECT_EQ(out->find("<img"), std::string::npos);
        EXPECT_EQ(out->find("\" onmouseover"), std::string::npos);
        EXPECT_NE(out->find("esc\\x1b[31mRED\\x07\\u009b&lt;script&gt;x"), std::string::npos);
    }
    EXPECT_NE(page.find("cpu\\x1b]0;title\\x07"), std::string::npos);
    EXPECT_NE(page.find("&quot; onmouseover=&quot;alert(1)"), std::string::npos);
    EXPECT_NE(page.find("flaw\\u009b: <span class=\"bad\">Vulnerable\\x1b[2J"), std::string::npos);

    const nlohmann::json doc = nlohmann::json::parse(json);
    EXPECT_EQ(doc["machines"][0]["name"], name);
    EXPECT_EQ(doc["machines"][0]["info"]["processor"], "cpu\x1b]0;title\x07");
    EXPECT_EQ(doc["machines"][1]["name"], "bad\xef\xbf\xbd\x1b"); // invalid UTF-8 replaced
}
#endif
