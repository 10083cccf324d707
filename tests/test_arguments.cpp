// The window program's command line, read without a display: each line,
// split at blanks ('' an empty argument), and what it comes to.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "arguments.h"

namespace {
// "open [FILE] TOOLKIT'S COMMAND LINE", "help []", "version []" or "error [TEXT]".
std::string outcomeOf(const std::string& line)
{
    std::vector<std::string> words = {"kvz-cdi"};
    std::istringstream in(line);
    for (std::string word; in >> word;)
        words.push_back(word == "''" ? "" : word);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    const Arguments got = parseArguments(static_cast<int>(argv.size()), argv.data());
    const char* const actions[] = {"open [", "help [", "version [", "error ["};
    std::string outcome = actions[static_cast<int>(got.action)] + got.file + got.error + "]";
    for (const char* arg : got.toolkit)
        outcome += std::string(" ") + arg;
    return outcome;
}

TEST(ParseArguments, TheFirstArgumentThatDecidesDecides)
{
    const std::string bad = ", or its value is missing or wrong]";
    const std::pair<const char*, std::string> cases[] = {
        {"", "open [] kvz-cdi"}, {"-- --help", "open [--help] kvz-cdi"}, {"''", "error [an empty file name]"},
        {"-g +10+20 a.cdi -iconic -scheme gtk+", "open [a.cdi] kvz-cdi -g +10+20 -iconic -scheme gtk+"},
        {"-notooltips -- -a.cdi", "open [-a.cdi] kvz-cdi -notooltips"}, {"-h", "help []"},
        {"a.cdi -iconic --help --bogus", "help []"}, {"-V", "version []"}, {"--version", "version []"},
        {"--bogus -h", "error [unknown option --bogus]"}, {"-", "error [unknown option -]"},
        {"-bogus", "error [unknown option -bogus" + bad}, {"a.cdi -geometry", "error [unknown option -geometry" + bad},
        {"-geometry big", "error [unknown option -geometry" + bad},
        {"a.cdi -iconic b.cdi", "error [more than one file: a.cdi and b.cdi]"}};
    for (const auto& [line, outcome] : cases)
        EXPECT_EQ(outcomeOf(line), outcome) << line;
}
}  // namespace
