#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"
#include "tests/support/fatal_report.h"
#include "tests/support/process.h"

#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace Lum_IO_Buffers;
using test_support::process_options;
using test_support::process_result;
using test_support::run_process;

using test_support::fatal_report;

namespace
{
    const std::string limit_message =
        "Output written to the output and errors buffers has exceeded 10MB - the largest output correct is "
        "less than half this size.\nYour program will now exit.\n";

    struct stream_case
    {
        const char *name;
        std::vector<std::pair<std::string, std::string>> env;
        std::vector<std::string> operations;
        std::string out;
        std::string err;
        int status;
        bool merged = false;  // out holds standard output and standard error together
    };

    void PrintTo(const stream_case &c, std::ostream *os)
    {
        *os << c.name;
    }

    class Streams : public testing::TestWithParam<stream_case>
    {
    };

    TEST_P(Streams, BehaveAsConfigured)
    {
        const stream_case &c = GetParam();
        std::vector<std::string> argv{IOB_PROBE};
        argv.insert(argv.end(), c.operations.begin(), c.operations.end());
        process_options options;
        options.env = c.env;
        options.merge_stderr = c.merged;
        const process_result result = run_process(argv, options);
        ASSERT_TRUE(result.exited) << "signal " << result.signal;
        EXPECT_EQ(result.exit_code, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }

    const std::string boom = fatal_report({"ctx"}, "boom");

    // Each row of the settings table, through the environment variable or the
    // program's own configuration call, observed in a real process.
    INSTANTIATE_TEST_SUITE_P(Settings, Streams, testing::Values(
        stream_case{"DefaultsWriteAtOnce", {}, {"out=hello", "err=oops"}, "hello", "oops", 0},
        stream_case{"DefaultOrderIsKeptWhenMerged", {}, {"out=a", "err=b", "out=c"}, "abc", "", 0, true},
        stream_case{"EmptyTextLeavesLineStateAlone", {}, {"out=a\\n", "out=", "trace=t"},
                    "a\n*** write_to_traces: t\n", "", 0},
        stream_case{"TraceStartsOnItsOwnLine", {}, {"out=a", "trace=t"}, "a\n*** write_to_traces: t\n", "", 0},
        stream_case{"EmptyPrefixAddsNoLineFeeds", {}, {"prefix-trace=", "out=a", "trace=t"}, "at", "", 0},
        stream_case{"EmptyTraceIsThePrefixAlone", {}, {"trace="}, "*** write_to_traces: \n", "", 0},
        stream_case{"LogsGoToStandardError", {}, {"err=e", "log=l"}, "", "e\n*** write_to_logs: l\n", 0},
        stream_case{"TracesWrittenWhileOutputDisabled", {}, {"cfg-out=2", "out=a", "trace=t"},
                    "*** write_to_traces: t\n", "", 0},
        stream_case{"BufferHoldsOutputUntilPrinted", {{"LUMTOOLS_IOBUFFER_OUTPUT", "iob_buffer"}},
                    {"out=a", "cfg-out=6", "err=E", "print-out"}, "Ea", "", 0, true},
        stream_case{"BufferedOutputDiscardedByFatal", {{"LUMTOOLS_IOBUFFER_OUTPUT", "iob_buffer"}},
                    {"out=a", "push=ctx", "fatal=2:boom"}, "", boom, 2},
        stream_case{"LoudBufferPrintedByFatal", {{"LUMTOOLS_IOBUFFER_OUTPUT", "iob_loud_buffer"}},
                    {"out=a", "push=ctx", "fatal=2:boom"}, "a", boom, 2},
        stream_case{"BufferedErrorsAreQuiet", {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_buffer"}},
                    {"err=E", "push=ctx", "fatal=3:boom"}, "", "", 3},
        stream_case{"ErrorsPrintedOnRequest", {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_buffer"}},
                    {"err=E", "print-err"}, "", "E", 0},
        stream_case{"LoudBufferWhyPrintsEverything", {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_loud_buffer:iob_buffer_why"}},
                    {"err=E", "push=ctx", "fatal=3:boom"}, "", "E" + boom, 3},
        stream_case{"BufferWhyIsNotLoud", {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_buffer_why"}},
                    {"err=E", "push=ctx", "fatal=3:boom"}, "", boom, 3},
        stream_case{"NoContext", {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_no_context"}},
                    {"push=ctx", "fatal=3:boom"}, "", "boom\n\n", 3},
        stream_case{"ContextAfterNoContext", {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_no_context::iob_context"}},
                    {"push=ctx", "fatal=3:boom"}, "", boom, 3},
        stream_case{"DisabledErrorsStillReport", {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_disable"}},
                    {"err=E", "push=ctx", "fatal=3:boom"}, "", boom, 3},
        stream_case{"LaterOptionWins", {{"LUMTOOLS_IOBUFFER_OUTPUT", "iob_disable:iob_enable"}},
                    {"out=a"}, "a", "", 0},
        stream_case{"OnlyColonsLockNothingOut", {{"LUMTOOLS_IOBUFFER_OUTPUT", ":::"}},
                    {"cfg-out=4", "out=a", "fatal=2:"}, "", "", 2},
        stream_case{"WrongCaseIsDefaultAndLocksOut", {{"LUMTOOLS_IOBUFFER_OUTPUT", "IOB_BUFFER"}},
                    {"cfg-out=4", "out=a", "fatal=2:"}, "a", "", 2},
        stream_case{"NumbersAreNotNames", {{"LUMTOOLS_IOBUFFER_OUTPUT", "4"}},
                    {"cfg-out=4", "out=a", "fatal=2:"}, "a", "", 2},
        stream_case{"ImmediateFlushesHeldText", {}, {"cfg-out=4", "out=a", "err=b", "cfg-out=6", "err=c"},
                    "bac", "", 0, true},
        stream_case{"NotPermittedTracesStayNotPermitted", {}, {"cfg-trace=3", "cfg-trace=1", "trace=x"},
                    "", fatal_report({}, "called write_to_traces(...)"), 1},
        stream_case{"NotPermittedLogsFromEnvironment", {{"LUMTOOLS_IOBUFFER_LOGS", "iob_not_permitted"}},
                    {"cfg-log=1", "log=x"}, "", fatal_report({}, "called write_to_logs(...)"), 1},
        stream_case{"DisabledTraces", {{"LUMTOOLS_IOBUFFER_TRACES", "iob_disable"}},
                    {"trace=x", "cfg-trace=1", "trace=y"}, "", "", 0},
        stream_case{"DisabledLogsEnabledByProgram", {}, {"cfg-log=2", "log=x", "cfg-log=4", "log=y"},
                    "", "*** write_to_logs: y\n", 0}));

    // Immediate output is gathered in the C library's buffer, so it must
    // still reach a file shared with standard error in the order of the
    // writes: before every write to standard error and before a fatal
    // report. (The volume limit's message: tests/passes/treecopy.)
    INSTANTIATE_TEST_SUITE_P(InterleavedWhenMerged, Streams, testing::Values(
        stream_case{"OutputTraceAndErrorsThenFatal", {}, {"out=a", "trace=t", "err=e", "out=b", "push=ctx", "fatal=1:boom"},
                    "a\n*** write_to_traces: t\neb" + boom, "", 1, true},
        stream_case{"LogsBetweenOutputThenFatal", {}, {"out=a", "log=l", "out=b", "fatal=1:boom"},
                    "a*** write_to_logs: l\nb" + fatal_report({}, "boom"), "", 1, true},
        stream_case{"LoudOutputBeforeTheReport", {{"LUMTOOLS_IOBUFFER_OUTPUT", "iob_loud_buffer"}},
                    {"out=a", "err=e", "out=b", "push=ctx", "fatal=2:boom"}, "eab" + boom, "", 2, true},
        stream_case{"HeldErrorsAfterTheOutput", {{"LUMTOOLS_IOBUFFER_ERRORS", "iob_loud_buffer"}},
                    {"err=e", "out=a", "push=ctx", "fatal=2:boom"}, "ae" + boom, "", 2, true}));

    struct exit_case
    {
        const char *name;
        std::vector<std::string> operations;
        int status;
        std::string err;
    };

    void PrintTo(const exit_case &c, std::ostream *os)
    {
        *os << c.name;
    }

    class FatalExit : public testing::TestWithParam<exit_case>
    {
    };

    TEST_P(FatalExit, EndsWithTheGivenStatus)
    {
        std::vector<std::string> argv{IOB_PROBE};
        argv.insert(argv.end(), GetParam().operations.begin(), GetParam().operations.end());
        const process_result result = run_process(argv);
        ASSERT_TRUE(result.exited);
        EXPECT_EQ(result.exit_code, GetParam().status);
        EXPECT_EQ(result.err, GetParam().err);
    }

    INSTANTIATE_TEST_SUITE_P(Statuses, FatalExit, testing::Values(
        exit_case{"StatusWithoutMessagePrintsNothing", {"fatal-status=3"}, 3, ""},
        exit_case{"MessageWithoutStatusIsAFailure", {"fatal-message=bad"}, 1, fatal_report({}, "bad")},
        exit_case{"MinusOneIs255", {"fatal=-1:bad\\n"}, 255, fatal_report({}, "bad")},
        exit_case{"ZeroStaysZero", {"fatal=0:x"}, 0, fatal_report({}, "x")}));

    TEST(OutputVolume, ExactlyTheLimitIsAllowed)
    {
        const process_result result = run_process({IOB_PROBE, "bulk-out=10485760"});
        EXPECT_EQ(result.exit_code, 0);
        EXPECT_EQ(result.out.size(), 10485760u);
        EXPECT_EQ(result.err, "");
    }

    TEST(OutputVolume, OneByteMoreEndsTheProcess)
    {
        const process_result result = run_process({IOB_PROBE, "bulk-out=10485760", "out=y", "out=never"});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, std::string(10485760, 'x') + "y");
        EXPECT_EQ(result.err, limit_message);
    }

    TEST(OutputVolume, ErrorsCountAndBufferedTextIsNotPrinted)
    {
        process_options options;
        options.env = {{"LUMTOOLS_IOBUFFER_OUTPUT", "iob_loud_buffer"}};
        const process_result result =
            run_process({IOB_PROBE, "err=ee", "bulk-out=10485758", "out=z"}, options);
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "ee" + limit_message);
    }

    // The report through a death test of this very process.
    TEST(FatalErrorDeathTest, ReportShowsContextAndMessage)
    {
        EXPECT_EXIT(
            {
                new_error_context("reading");
                push_error_context("line\t2");
                fatal_error(1, "went wrong");
            },
            testing::ExitedWithCode(1), testing::Eq(fatal_report({"reading", "line\\t2"}, "went wrong")));
    }

    TEST(FatalErrorDeathTest, MessageEndingInLineFeedGetsNoSecond)
    {
        EXPECT_EXIT(fatal_error(7, "done\n"), testing::ExitedWithCode(7), testing::Eq(fatal_report({}, "done")));
    }

    TEST(FatalErrorDeathTest, HeldOutputIsNotPrintedUnlessLoud)
    {
        EXPECT_EXIT(
            {
                config_output(iob_buffer);
                write_to_output("held");
                fatal_error(4, "m");
            },
            testing::ExitedWithCode(4), testing::Eq(fatal_report({}, "m")));
    }
}

namespace
{
    // Output that cannot be written is a failure, not a success.
    TEST(OutputFailure, UnwritableStandardOutputEndsWithStatusOne)
    {
        const struct
        {
            const char *name;
            std::vector<std::string> env;
            const char *operations;
        } cases[] = {
            {"Immediate", {}, "out=hello print-out"},
            {"Buffered", {"LUMTOOLS_IOBUFFER_OUTPUT=iob_buffer"}, "out=hello print-out"},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.name);
            std::string command = "exec env";
            for (const std::string &setting : c.env)
                command += " " + setting;
            command += std::string(" ") + IOB_PROBE + " " + c.operations + " > /dev/full";
            const process_result r = run_process({"/bin/sh", "-c", command});
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_EQ(r.err, fatal_report({}, "cannot write standard output: No space left on device"));
        }
    }
}

namespace
{
    // Immediate text is on standard output at once: a process that ends
    // without the library (a crash) or writes to its descriptors itself
    // still shows it, in order. A fatal error keeps its own status and
    // report even when standard output cannot be written.
    TEST(ImmediateOutput, IsOutAtOnceAndAFatalErrorKeepsItsOwnEnd)
    {
        const struct
        {
            const char *name;
            const char *command;  // the probe's environment, operations and redirections
            std::string out;
            std::string err;
            int status;  // -1: ended by SIGABRT
        } cases[] = {
            {"AbortAfterOutput", "out=hello abort", "hello", "", -1},
            {"AbortAfterATrace", "out=a trace=t abort", "a\n*** write_to_traces: t\n", "", -1},
            {"DescriptorWritesInBetween", "out=a raw-out=b raw-err=c out=d 2>&1", "abcd", "", 0},
            {"LoudBufferToAFullDisk",
             "LUMTOOLS_IOBUFFER_OUTPUT=iob_loud_buffer " IOB_PROBE " out=hello push=ctx fatal=3:boom >/dev/full", "",
             boom, 3},
            {"LoudBuffersToAFullDiskNoMessage",
             "LUMTOOLS_IOBUFFER_OUTPUT=iob_loud_buffer LUMTOOLS_IOBUFFER_ERRORS=iob_loud_buffer " IOB_PROBE
             " out=hello err=E fatal-status=5 >/dev/full",
             "", "E", 5},
            {"ImmediateToAFullDisk", "out=hello push=ctx fatal=4:boom >/dev/full", "", boom, 4},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.name);
            std::string command = c.command;
            if (command.find(IOB_PROBE) == std::string::npos)
                command = std::string(IOB_PROBE) + " " + command;
            const process_result r = run_process({"/bin/sh", "-c", "exec env " + command});
            EXPECT_EQ(r.out, c.out);
            EXPECT_EQ(r.err, c.err);
            if (c.status < 0)
                EXPECT_EQ(r.signal, SIGABRT);
            else
                EXPECT_EQ(r.exit_code, c.status);
        }
    }
}
