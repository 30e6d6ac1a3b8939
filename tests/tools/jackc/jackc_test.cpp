// jackc against the pipeline it stands for: the same bytes, the same
// failures, and nothing half-written.
#include "tests/support/fatal_report.h"
#include "tests/support/process.h"
#include "tests/tools/xml2jack/random_jack.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using test_support::fatal_report;
using test_support::process_options;
using test_support::process_result;
using test_support::program;
using test_support::run_process;

namespace
{
    // A fresh folder, removed with everything in it at the end of the test.
    class folder
    {
    public:
        folder()
        {
            char name[] = "/tmp/jackc_test.XXXXXX";
            path_ = mkdtemp(name);
        }
        ~folder() { fs::remove_all(path_); }
        const fs::path &path() const { return path_; }
        fs::path write(const std::string &name, const std::string &text) const
        {
            std::ofstream(path_ / name, std::ios::binary) << text;
            return path_ / name;
        }
        std::vector<std::string> names() const
        {
            std::vector<std::string> found;
            for (const auto &entry : fs::directory_iterator(path_))
                found.push_back(entry.path().filename().string());
            std::sort(found.begin(), found.end());
            return found;
        }

    private:
        fs::path path_;
    };

    std::string read(const fs::path &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    process_result run(const std::vector<std::string> &argv, const std::string &input = "")
    {
        process_options options;
        options.input = input;
        return run_process(argv, options);
    }

    // What jack2xml FILE | exprfold | xml2vm writes, each stage checked.
    process_result pipeline(const fs::path &file, bool fold)
    {
        process_result stage = run({program("jack2xml"), file.string()});
        if (stage.exit_code != 0)
            return stage;
        if (fold && (stage = run({program("exprfold")}, stage.out)).exit_code != 0)
            return stage;
        return run({program("xml2vm")}, stage.out);
    }

    // The report of a failure inside jackc: the failing stage's own report,
    // with the file being compiled as the first context.
    std::string with_file_context(const std::string &stage_report, const fs::path &file)
    {
        const std::string header = "\n***** Fatal error!\n";
        EXPECT_EQ(stage_report.substr(0, header.size()), header);
        return header + "    0: compiling " + file.string() + "\n" + stage_report.substr(header.size());
    }

    TEST(Jackc, WritesTheBytesOfThePipeline)
    {
        folder dir;
        std::vector<fs::path> classes;
        for (const char *example : {"Square.jack", "Fold.jack"})
            classes.push_back(dir.write(example, test_support::source_file(std::string("examples/") + example)));
        std::mt19937 rng(20261209);
        for (int i = 0; i < 300; i++)
            classes.push_back(dir.write("R" + std::to_string(i) + ".jack", test_support::random_jack_class(rng, i)));

        for (bool fold : {true, false})
        {
            SCOPED_TRACE(fold ? "folded" : "--no-fold");
            std::vector<std::string> argv = {program("jackc"), dir.path().string()};
            if (!fold)
                argv.insert(argv.begin() + 1, "--no-fold");
            const process_result compiled = run(argv);
            ASSERT_EQ(compiled.exit_code, 0) << compiled.err;
            EXPECT_EQ(compiled.out + compiled.err, "");
            for (const fs::path &source : classes)
            {
                const process_result expected = pipeline(source, fold);
                ASSERT_EQ(expected.exit_code, 0) << source << expected.err;
                fs::path vm = source;
                EXPECT_EQ(read(vm.replace_extension(".vm")), expected.out) << source;
            }
        }
    }

    TEST(Jackc, StopsAtTheFirstFailingClassAndLeavesNoPartialFile)
    {
        folder dir;
        dir.write("A.jack", "class A { function void f() { return; } }\n");
        const fs::path bad = dir.write("B.jack", "class B {\n    function void f() {\n        return\n    }\n}\n");
        dir.write("C.jack", "class C { function void f() { return; } }\n");

        const process_result compiled = run({program("jackc"), dir.path().string()});
        const process_result alone = run({program("jack2xml"), bad.string()});
        EXPECT_EQ(compiled.exit_code, 1);
        EXPECT_EQ(alone.exit_code, 1);
        EXPECT_EQ(compiled.out, "");
        EXPECT_EQ(compiled.err, with_file_context(alone.err, bad));
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"A.jack", "A.vm", "B.jack", "C.jack"}));
    }

    // A .vm that cannot take the new file's place is reported, and the new
    // file is not left beside it.
    TEST(Jackc, ReportsAFileItCannotPutInPlace)
    {
        folder dir;
        const fs::path source = dir.write("X.jack", "class X { function void f() { return; } }\n");
        fs::create_directory(dir.path() / "X.vm");
        dir.write("X.vm/kept", "");
        const process_result compiled = run({program("jackc"), source.string()});
        EXPECT_EQ(compiled.exit_code, 1);
        EXPECT_EQ(compiled.err,
                  fatal_report({}, "jackc: cannot write " + (dir.path() / "X.vm").string() + ": Is a directory"));
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"X.jack", "X.vm"}));
    }

    std::string class_of(const std::string &name, const std::string &body)
    {
        return "class " + name + " {\n    function void f() {\n        var int x;\n" + body +
               "        return;\n    }\n}\n";
    }

    std::string repeated(const std::string &text, int times)
    {
        std::string all;
        for (int i = 0; i < times; i++)
            all += text;
        return all;
    }

    // n arguments, each the constant 1.
    std::string ones(int n)
    {
        std::string all = "1";
        for (int i = 1; i < n; i++)
            all += ", 1";
        return all;
    }

    // Each stage's output is held to the volume limit, and a class without
    // code is refused, where the pipeline's program would stop, folded or
    // not.
    TEST(Jackc, FailsWhereThePipelineDoes)
    {
        const struct
        {
            const char *what;
            std::string source;
            const char *message;
        } cases[] = {
            {"a tree past the limit", class_of("Big", repeated("        let x = x + 1;\n", 10000)),
             "jackc: the tree of the class is larger than the output limit of 10,485,760 bytes"},
            {"VM code past the limit",
             class_of("Text", repeated("        do Output.printString(\"" + std::string(30000, 'v') + "\");\n", 9)),
             "jackc: the VM code of the class is larger than the output limit of 10,485,760 bytes"},
            // An argument count is a VM word; on this, the object is one.
            {"a call with 32768 arguments", class_of("Calls", "        do Calls.g(" + ones(32768) + ");\n"),
             "xml2vm: no code for a call of \"Calls.g\" with 32768 arguments in \"Calls.f\""},
            {"a call on this with 32767 arguments", class_of("Calls", "        do g(" + ones(32767) + ");\n"),
             "xml2vm: no code for a call of \"Calls.g\" with 32768 arguments in \"Calls.f\""},
        };
        for (const auto &c : cases)
            for (bool fold : {true, false})
            {
                SCOPED_TRACE(std::string(c.what) + (fold ? "" : ", --no-fold"));
                folder dir;
                const fs::path source = dir.write("X.jack", c.source);
                EXPECT_NE(pipeline(source, fold).exit_code, 0);
                std::vector<std::string> argv = {program("jackc"), source.string()};
                if (!fold)
                    argv.push_back("--no-fold");
                const process_result compiled = run(argv);
                EXPECT_EQ(compiled.exit_code, 1);
                EXPECT_EQ(compiled.err, fatal_report({"compiling " + source.string()}, c.message));
                EXPECT_EQ(dir.names(), std::vector<std::string>{"X.jack"});
            }
    }

    // Classes that each fit their pipelines fit jackc, however many there
    // are: these take about 1,300,000 nodes together, in every stage.
    TEST(Jackc, EveryStageOfEveryClassHasItsOwnNodeTable)
    {
        folder dir;
        std::vector<fs::path> classes;
        for (int i = 0; i < 8; i++)
            classes.push_back(dir.write("N" + std::to_string(i) + ".jack",
                                        class_of("N" + std::to_string(i), repeated("        let x = x + 1;\n", 6000))));
        const process_result compiled = run({program("jackc"), dir.path().string()});
        ASSERT_EQ(compiled.exit_code, 0) << compiled.err;
        fs::path last = classes.back();
        EXPECT_EQ(read(last.replace_extension(".vm")), pipeline(classes.back(), true).out);
    }

    TEST(Jackc, RefusesBadArgumentsBeforeCompilingAnything)
    {
        folder dir;
        dir.write("A.jack", "class A { function void f() { return; } }\n");
        dir.write("notes.txt", "");
        fs::create_directory(dir.path() / "empty");
        const std::string a = (dir.path() / "A.jack").string();
        const struct
        {
            std::vector<std::string> args;
            std::string message;
        } cases[] = {
            {{}, "usage: jackc [--no-fold] PATH..."},
            {{"--no-fold"}, "usage: jackc [--no-fold] PATH..."},
            {{a, "--fold"}, "jackc: unknown option --fold\nusage: jackc [--no-fold] PATH..."},
            {{a, (dir.path() / "nothing").string()},
             "jackc: cannot open " + (dir.path() / "nothing").string() + ": No such file or directory"},
            {{a, (dir.path() / "notes.txt").string()},
             "jackc: " + (dir.path() / "notes.txt").string() + " is neither a .jack file nor a folder"},
            {{a, (dir.path() / "empty").string()},
             "jackc: the folder " + (dir.path() / "empty").string() + " holds no .jack file"},
        };
        for (const auto &c : cases)
        {
            std::vector<std::string> argv = c.args;
            argv.insert(argv.begin(), program("jackc"));
            const process_result refused = run(argv);
            EXPECT_EQ(refused.exit_code, 1) << c.message;
            EXPECT_EQ(refused.err, fatal_report({}, c.message));
            EXPECT_EQ(dir.names(), (std::vector<std::string>{"A.jack", "empty", "notes.txt"}));
        }
    }
}
