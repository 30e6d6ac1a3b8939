// jackc against the pipeline it stands for: the same bytes, the same
// failures, and nothing half-written.
#include "tests/support/fatal_report.h"
#include "tests/support/process.h"
#include "tests/support/random_program.h"
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
        process_result stage = run({program("jack2xml"), "--no-checks", file.string()});
        if (stage.exit_code != 0)
            return stage;
        if (fold && (stage = run({program("exprfold")}, stage.out)).exit_code != 0)
            return stage;
        return run({program("xml2vm")}, stage.out);
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
            // The random classes are made by the grammar alone.
            std::vector<std::string> argv = {program("jackc"), "--no-checks", dir.path().string()};
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

    // Every class is checked whatever an earlier one held, each reported as
    // jack2xml reports it alone, and no .vm is written, not even of the
    // class without an error.
    TEST(Jackc, ReportsEveryFailingClassAndWritesNoFile)
    {
        folder dir;
        dir.write("A.jack", "class A { function void f() { return; } }\n");
        const fs::path b = dir.write("B.jack", "class B {\n    function void f() {\n        return\n    }\n}\n");
        const fs::path c = dir.write("C.jack", "class C { function int f() { return; } }\n");

        const process_result compiled = run({program("jackc"), dir.path().string()});
        const process_result alone_b = run({program("jack2xml"), b.string()});
        const process_result alone_c = run({program("jack2xml"), c.string()});
        EXPECT_EQ(compiled.exit_code, 1);
        EXPECT_EQ(alone_b.exit_code, 1);
        EXPECT_EQ(alone_c.exit_code, 1);
        EXPECT_EQ(compiled.out, "");
        EXPECT_EQ(compiled.err, alone_b.err + alone_c.err);
        EXPECT_EQ(dir.names(), (std::vector<std::string>{"A.jack", "B.jack", "C.jack"}));
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
            {"a tree past the limit", class_of("X", repeated("        let x = x + 1;\n", 10000)),
             "jackc: the tree of the class is larger than the output limit of 10,485,760 bytes"},
            {"VM code past the limit",
             class_of("X", repeated("        do Output.printString(\"" + std::string(30000, 'v') + "\");\n", 9)),
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
            {{}, "usage: jackc [--no-fold] [-g] [-Werror] [-w] [--no-checks] [--allow-undefined] PATH..."},
            {{"--no-fold"}, "usage: jackc [--no-fold] [-g] [-Werror] [-w] [--no-checks] [--allow-undefined] PATH..."},
            {{a, "--fold"}, "jackc: unknown option --fold\nusage: jackc [--no-fold] [-g] [-Werror] [-w] [--no-checks] [--allow-undefined] PATH..."},
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

namespace
{
    // A run of jackc on a folder of classes and every diagnostic it gives,
    // whole: the checks across classes and the standard library. No row
    // leaves a .vm file behind when it has an error.
    TEST(Jackc, ChecksAcrossTheClasses)
    {
        const std::string main_ok = "class Main {\n    function void main() {\n        return;\n    }\n}\n";
        const std::string point =
            "class Point {\n    field int x;\n    constructor Point new(int ax) {\n        let x = ax;\n"
            "        return this;\n    }\n    method int getX() {\n        return x;\n    }\n"
            "    function int origin() {\n        return 0;\n    }\n}\n";
        const struct
        {
            const char *what;
            std::vector<std::pair<std::string, std::string>> files;
            std::string report;  // with FOLDER/ for the folder's path
            int exit_code;
        } cases[] = {
            {"a class in a file of another name",
             {{"Main.jack", "class Mian {\n    function void main() {\n        return;\n    }\n}\n"}},
             "FOLDER/Main.jack:1:7: error: the class \"Mian\" is in the file Main.jack; it must be in Mian.jack\n"
             "class Mian {\n      ^\n",
             1},
            {"a class defined twice",
             {{"A.jack", "class Main {\n}\n"}, {"Main.jack", main_ok}},
             "FOLDER/A.jack:1:7: error: the class \"Main\" is in the file A.jack; it must be in Main.jack\n"
             "class Main {\n      ^\n"
             "FOLDER/Main.jack:1:7: error: the class \"Main\" is defined twice\nclass Main {\n      ^\n"
             "FOLDER/A.jack:1:7: note: the class \"Main\" is first defined here\nclass Main {\n      ^\n",
             1},
            {"calls of every kind",
             {{"Point.jack", point},
              {"Main.jack",
               "class Main {\n    function void main() {\n        var Point p;\n        var int n;\n"
               "        let p = Point.new(1, 2);\n        let n = Point.getX();\n        let n = p.origin();\n"
               "        let n = p.nosuch(3);\n        let n = n.getX();\n        let n = p.getX();\n"
               "        let n = String.length();\n        do Output.printInt(n);\n        return;\n    }\n}\n"}},
             "FOLDER/Main.jack:5:17: error: Point.new takes 1 argument but is given 2\n"
             "        let p = Point.new(1, 2);\n                ^\n"
             "FOLDER/Point.jack:3:23: note: Point.new is declared here\n"
             "    constructor Point new(int ax) {\n                      ^\n"
             "FOLDER/Main.jack:6:17: error: Point.getX is a method: call it on an object, not through the class name\n"
             "        let n = Point.getX();\n                ^\n"
             "FOLDER/Point.jack:7:16: note: Point.getX is declared here\n    method int getX() {\n               ^\n"
             "FOLDER/Main.jack:7:17: error: Point.origin is a function: call it as Point.origin(...), not on an "
             "object\n        let n = p.origin();\n                ^\n"
             "FOLDER/Point.jack:10:18: note: Point.origin is declared here\n"
             "    function int origin() {\n                 ^\n"
             "FOLDER/Main.jack:8:17: error: the class Point has no subroutine \"nosuch\"\n"
             "        let n = p.nosuch(3);\n                ^\n"
             "FOLDER/Main.jack:9:17: error: \"n\" is of type int, which has no methods\n"
             "        let n = n.getX();\n                ^\n"
             "FOLDER/Main.jack:11:17: error: String.length is a method: call it on an object, not through the class "
             "name\n        let n = String.length();\n                ^\n",
             1},
            {"classes neither compiled nor in the library",
             {{"Main.jack",
               "class Main {\n    function void main() {\n        var Game g;\n        do Game.run();\n"
               "        do Game.stop();\n        do g.run();\n        return;\n    }\n}\n"}},
             "FOLDER/Main.jack:3:18: warning: the type \"Game\" of \"g\" is neither a class compiled nor one of the "
             "standard library\n        var Game g;\n                 ^\n"
             "FOLDER/Main.jack:4:12: warning: the class \"Game\" is neither among the classes compiled nor in the "
             "standard library\n        do Game.run();\n           ^\n",
             0},
        };
        for (const auto &c : cases)
        {
            SCOPED_TRACE(c.what);
            folder dir;
            for (const auto &file : c.files)
                dir.write(file.first, file.second);
            const process_result compiled = run({program("jackc"), dir.path().string()});
            EXPECT_EQ(compiled.exit_code, c.exit_code);
            std::string report = c.report;
            for (size_t at = report.find("FOLDER"); at != std::string::npos; at = report.find("FOLDER", at))
                report.replace(at, 6, dir.path().string());
            EXPECT_EQ(compiled.err, report);
            size_t vm_files = 0;
            for (const std::string &name : dir.names())
                vm_files += name.size() > 3 && name.compare(name.size() - 3, 3, ".vm") == 0;
            EXPECT_EQ(vm_files, c.exit_code == 0 ? c.files.size() : 0u);
        }
    }
}

namespace
{
    // -g adds a "//@ FILE.jack:LINE:COL" line before each function and the
    // code of each statement, each naming the place where that begins, and
    // changes nothing else.
    TEST(Jackc, MarksAddOnlyCommentLines)
    {
        std::vector<std::vector<std::pair<std::string, std::string>>> programs;
        std::vector<std::pair<std::string, std::string>> bundled;
        for (const char *name : {"Main", "Fixed", "Mandelbrot", "Tally"})
            bundled.push_back({std::string(name) + ".jack",
                               test_support::source_file(std::string("examples/mandelbrot/") + name + ".jack")});
        programs.push_back(bundled);
        for (unsigned seed = 1; seed <= 10; seed++)
            programs.push_back(test_support::random_program(seed));
        for (const auto &files : programs)
        {
            folder plain, marked;
            for (const auto &file : files)
            {
                plain.write(file.first, file.second);
                marked.write(file.first, file.second);
            }
            ASSERT_EQ(run({program("jackc"), "-w", plain.path().string()}).exit_code, 0);
            ASSERT_EQ(run({program("jackc"), "-w", "-g", marked.path().string()}).exit_code, 0);
            for (const auto &file : files)
            {
                SCOPED_TRACE(file.first);
                const std::string vm = file.first.substr(0, file.first.size() - 5) + ".vm";
                std::istringstream lines(read(marked.path() / vm));
                std::string stripped, line, previous;
                while (std::getline(lines, line))
                {
                    if (line.rfind("//@ ", 0) == 0)
                    {
                        // FILE.jack:LINE:COL names a subroutine or statement keyword.
                        const size_t colon = line.find(':');
                        EXPECT_EQ(line.substr(4, colon - 4), file.first);
                        const int at_line = std::stoi(line.substr(colon + 1));
                        const int at_column = std::stoi(line.substr(line.find(':', colon + 1) + 1));
                        std::istringstream source(file.second);
                        std::string text;
                        for (int i = 0; i < at_line; i++)
                            std::getline(source, text);
                        const std::string word = text.substr(static_cast<size_t>(at_column - 1));
                        EXPECT_TRUE(word.rfind("let", 0) == 0 || word.rfind("do", 0) == 0 || word.rfind("if", 0) == 0 ||
                                    word.rfind("while", 0) == 0 || word.rfind("return", 0) == 0 ||
                                    word.rfind("function", 0) == 0 || word.rfind("method", 0) == 0 ||
                                    word.rfind("constructor", 0) == 0)
                            << line << ": " << text;
                        EXPECT_NE(previous.rfind("//@ ", 0), 0u) << "two marks in a row";
                    }
                    else
                        stripped += line + "\n";
                    previous = line;
                }
                EXPECT_EQ(stripped, read(plain.path() / vm));
            }
        }
    }
}
