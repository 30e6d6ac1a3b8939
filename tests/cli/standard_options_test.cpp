// --help and --version through every program of the tool-chain (the list
// JACK_PROGRAMS comes from the build, comma-separated): answered only as the first argument,
// on standard output, without touching standard input.
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    std::vector<std::string> programs()
    {
        std::vector<std::string> names;
        std::istringstream list(JACK_PROGRAMS);
        for (std::string name; std::getline(list, name, ',');)
            names.push_back(name);
        return names;
    }

    class StandardOptions : public testing::TestWithParam<std::string>
    {
    };

    TEST_P(StandardOptions, HelpGoesToStandardOutput)
    {
        const std::string name = GetParam();
        // Input that every program would otherwise take as (bad) input.
        test_support::process_options options;
        options.input = "<<<\n";
        const process_result result = run_process({program(name), "--help"}, options);
        ASSERT_TRUE(result.exited) << "signal " << result.signal;
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.rfind("Usage: " + name + " ", 0), 0u) << result.out;
        EXPECT_NE(result.out.find("\nExit status:\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("--version"), std::string::npos) << result.out;
    }

    TEST_P(StandardOptions, VersionIsTheProjects)
    {
        const std::string name = GetParam();
        const process_result result = run_process({program(name), "--version"});
        ASSERT_TRUE(result.exited) << "signal " << result.signal;
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, name + " (jacktree) " JACK_VERSION "\n");
    }

    TEST_P(StandardOptions, UnwritableAnswerFails)
    {
        const std::string name = GetParam();
        for (const char *option : {"--help", "--version"})
        {
            const process_result result =
                run_process({"/bin/sh", "-c", "exec \"$0\" " + std::string(option) + " >/dev/full", program(name)});
            ASSERT_TRUE(result.exited) << "signal " << result.signal;
            EXPECT_EQ(result.exit_code, 1) << option;
            EXPECT_EQ(result.err, name + ": cannot write standard output: " + std::strerror(ENOSPC) + "\n");
        }
    }

    // Anywhere but first, and in any other spelling, the words are ordinary
    // arguments: the run goes exactly as with another word in their place.
    TEST_P(StandardOptions, OnlyTheFirstArgumentCounts)
    {
        const std::string name = GetParam();
        const std::vector<std::vector<std::string>> pairs = {
            {"-n", "--help"}, {"-y", "--version"}, {"-x", "--help"}, {"--HELP"}, {"-help"}, {"--version="}};
        for (const std::vector<std::string> &words : pairs)
        {
            std::vector<std::string> args = {program(name)}, plain = {program(name)};
            for (const std::string &word : words)
            {
                args.push_back(word);
                plain.push_back(word.find("--") == 0 || word == "-help" ? "--other" : word);
            }
            test_support::process_options options;
            options.input = "-a\n";
            const process_result asked = run_process(args, options);
            const process_result other = run_process(plain, options);
            ASSERT_TRUE(asked.exited && other.exited) << words.back();
            EXPECT_EQ(asked.exit_code, other.exit_code) << words.back();
            EXPECT_EQ(asked.out, other.out) << words.back();
            EXPECT_EQ(asked.out.find("Usage:"), std::string::npos) << words.back();
        }
    }

    INSTANTIATE_TEST_SUITE_P(Programs, StandardOptions, testing::ValuesIn(programs()),
                             [](const testing::TestParamInfo<std::string> &info) { return info.param; });
}
