// The manual's tables of facts against the program's own: a code added,
// renumbered or reworded in the program and not in the manual fails here.
#include "cli/command_table.h"
#include "cli/exit_codes.h"

#include <doctest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <set>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> Cells(const std::string &line)
{
    std::vector<std::string> cells;
    std::istringstream parts(line.substr(1));
    std::string cell;
    while (std::getline(parts, cell, '|')) {
        const std::size_t first = cell.find_first_not_of(' ');
        const std::size_t last = cell.find_last_not_of(' ');
        cells.push_back(first == std::string::npos ? std::string() : cell.substr(first, last - first + 1));
    }
    return cells;
}

// The rows of the Markdown table whose heading row is `heading`.
std::vector<std::vector<std::string>> TableRows(const std::string &file, const std::string &heading)
{
    std::ifstream in(std::string(ZYR_SOURCE_DIR) + "/" + file);
    REQUIRE_MESSAGE(in, file);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line) && line != heading) {
    }
    REQUIRE_MESSAGE(line == heading, file, " has no table headed ", heading);
    std::getline(in, line);  // |---|---|
    while (std::getline(in, line) && !line.empty() && line[0] == '|')
        rows.push_back(Cells(line));
    return rows;
}

// The lines of `file`'s code block under the heading `heading`.
std::vector<std::string> CodeBlock(const std::string &file, const std::string &heading)
{
    std::ifstream in(std::string(ZYR_SOURCE_DIR) + "/" + file);
    REQUIRE_MESSAGE(in, file);
    std::string line;
    while (std::getline(in, line) && line != heading) {
    }
    REQUIRE_MESSAGE(line == heading, file, " has no section ", heading);
    std::vector<std::string> block;
    while (std::getline(in, line) && line.rfind("## ", 0) != 0)
        if (line.rfind("    ", 0) == 0)
            block.push_back(line.substr(4));
    return block;
}

}  // namespace

TEST_CASE("the manual's exit codes are zyrctl's, the Linux one too")
{
    const std::vector<ExitCodeRow> everywhere(std::begin(exitCodeTable), std::end(exitCodeTable));
    const std::vector<ExitCodeRow> linuxOnly{linuxExitCodeRow};
    const std::pair<const char *, std::vector<ExitCodeRow>> tables[] = {
        {"| code | name | meaning |", everywhere},
        {"| code | name | meaning on Linux |", linuxOnly},
    };
    for (const auto &[heading, codes] : tables) {
        const auto rows = TableRows("docs/zyrctl.md", heading);
        REQUIRE(rows.size() == codes.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ExitCodeRow &code = codes[i];
            CAPTURE(code.name);
            CHECK(rows[i] ==
                  std::vector<std::string>{std::to_string(static_cast<int>(code.code)), code.name, code.meaning});
        }
    }
}

TEST_CASE("the manual's commands are zyrctl's, each with its help line")
{
    // "zyrctl NAME ARGUMENTS", then the help's line indented under it.
    std::vector<std::pair<std::string, std::string>> listed;
    const std::vector<std::string> block = CodeBlock("docs/zyrctl.md", "## Commands");
    for (std::size_t i = 0; i + 1 < block.size(); ++i)
        if (block[i].rfind("zyrctl ", 0) == 0 && block[i + 1].rfind("    ", 0) == 0)
            listed.emplace_back(block[i] + " ", block[i + 1].substr(4));
    REQUIRE(listed.size() == std::size(commandTable));
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const CommandRow &row = commandTable[i];
        const char *parent = ParentName(row);
        const std::string name = std::string("zyrctl ") + (parent ? std::string(parent) + " " : "") + row.name + " ";
        CAPTURE(listed[i].first);
        CHECK(listed[i].first.rfind(name, 0) == 0);
        CHECK(listed[i].second == std::string(row.summary));
    }
}

TEST_CASE("the README's map names each folder of the tree, and only those")
{
    // The folders git keeps: not hidden, not one .gitignore names at the top ("/build/", "/build-*/").
    std::vector<std::string> ignored;
    std::ifstream gitignore(std::string(ZYR_SOURCE_DIR) + "/.gitignore");
    for (std::string line; std::getline(gitignore, line);)
        if (line.size() > 2 && line.front() == '/' && line.back() == '/')
            ignored.push_back(line.substr(1, line.size() - 2));
    const auto isIgnored = [&](const std::string &name) {
        for (const std::string &pattern : ignored)
            if (pattern.back() == '*' ? name.rfind(pattern.substr(0, pattern.size() - 1), 0) == 0 : name == pattern)
                return true;
        return false;
    };
    std::set<std::string> folders;
    for (const auto &entry : std::filesystem::directory_iterator(ZYR_SOURCE_DIR)) {
        const std::string name = entry.path().filename().string();
        if (entry.is_directory() && name[0] != '.' && !isIgnored(name))
            folders.insert(name + "/");
    }

    std::set<std::string> mapped;
    for (const std::vector<std::string> &row : TableRows("README.md", "| folder | what |")) {
        std::istringstream names(row.at(0));  // "`bench/`, `fuzz/`, `tools/`"
        for (std::string name; std::getline(names, name, '`');)
            if (!name.empty() && name.back() == '/')
                mapped.insert(name);
    }
    for (const std::string &folder : folders)
        CHECK_MESSAGE(mapped.count(folder) == 1, folder, " is missing from the README's map");
    for (const std::string &folder : mapped)
        CHECK_MESSAGE(folders.count(folder) == 1, folder, " is in the README's map but not in the tree");
}
