// The window program's command line, read without a display: what each
// command line asks for, the file it names and what goes to the toolkit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arguments.h"

namespace {
using Action = Arguments::Action;

struct Case {
    std::vector<std::string> args;  // after the program's name
    Action action;
    std::string fileOrError;        // the file for run, the text for usageError
    std::vector<std::string> toolkit = {};  // after the program's name
};

class ParseArguments : public ::testing::TestWithParam<Case> {};

TEST_P(ParseArguments, DecidesAsTheFirstArgumentThatDecides)
{
    const Case& c = GetParam();
    std::vector<std::string> words = {"kvz-cdi"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const Arguments got = parseArguments(static_cast<int>(words.size()), argv.data());
    EXPECT_EQ(got.action, c.action);
    EXPECT_EQ(c.action == Action::usageError ? got.error : got.file, c.fileOrError);
    if (c.action != Action::run)
        return;
    std::vector<std::string> toolkit(got.toolkit.begin(), got.toolkit.end());
    std::vector<std::string> expected = {"kvz-cdi"};
    expected.insert(expected.end(), c.toolkit.begin(), c.toolkit.end());
    EXPECT_EQ(toolkit, expected);
}

const std::string kBadValue = ", or its value is missing or wrong";

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseArguments,
    ::testing::Values(
        Case{{}, Action::run, ""},
        Case{{"tune.cdi"}, Action::run, "tune.cdi"},
        Case{{"-g", "+10+20", "tune.cdi", "-iconic", "-scheme", "gtk+"}, Action::run, "tune.cdi",
             {"-g", "+10+20", "-iconic", "-scheme", "gtk+"}},
        Case{{"-notooltips", "--", "-tune.cdi"}, Action::run, "-tune.cdi", {"-notooltips"}},
        Case{{"--", "--help"}, Action::run, "--help"},
        Case{{"-h"}, Action::help, ""}, Case{{"--help", "--bogus"}, Action::help, ""},
        Case{{"-V"}, Action::version, ""}, Case{{"tune.cdi", "-iconic", "--version"}, Action::version, ""},
        Case{{"--bogus"}, Action::usageError, "unknown option --bogus"},
        Case{{"--bogus", "--help"}, Action::usageError, "unknown option --bogus"},
        Case{{"-"}, Action::usageError, "unknown option -"},
        Case{{"--version=2"}, Action::usageError, "unknown option --version=2"},
        Case{{"-bogus"}, Action::usageError, "unknown option -bogus" + kBadValue},
        Case{{"tune.cdi", "-geometry"}, Action::usageError, "unknown option -geometry" + kBadValue},
        Case{{"-geometry", "big", "tune.cdi"}, Action::usageError, "unknown option -geometry" + kBadValue},
        Case{{"a.cdi", "-iconic", "b.cdi"}, Action::usageError, "more than one file: a.cdi and b.cdi"},
        Case{{""}, Action::usageError, "an empty file name"}));
}  // namespace
