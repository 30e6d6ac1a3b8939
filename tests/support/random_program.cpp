#include "tests/support/random_program.h"

#include <random>

namespace test_support
{
    namespace
    {
        struct function_sig
        {
            std::string name; // Class.f
            int arguments;
            long cost; // the calls one call of it makes in all, at most
        };

        class program_generator
        {
        public:
            explicit program_generator(unsigned seed) : rng_(seed) {}

            std::vector<std::pair<std::string, std::string>> generate()
            {
                std::vector<std::pair<std::string, std::string>> files;
                const int classes = 1 + pick(3);
                for (int c = 0; c < classes; ++c)
                {
                    const std::string name = "K" + std::to_string(c);
                    files.push_back({name + ".jack", compute_class(name)});
                }
                files.push_back({"Box.jack", box_class()});
                files.push_back({"Main.jack", main_class()});
                return files;
            }

        private:
            // Distributions are not the same on every standard library; the
            // raw engine is, so a seed gives the same program everywhere.
            int pick(int n) { return static_cast<int>(rng_() % static_cast<unsigned>(n)); }
            bool chance(int one_in) { return pick(one_in) == 0; }

            std::string constant()
            {
                switch (pick(4))
                {
                case 0:
                    return std::to_string(pick(10));
                case 1:
                    return std::to_string(pick(32768));
                default:
                    return std::to_string(pick(1000));
                }
            }

            // A term of the variables in scope; depth bounds the nesting.
            std::string term(int depth)
            {
                const int choice = depth <= 0 ? pick(2) : pick(12);
                switch (choice)
                {
                case 0:
                    return constant();
                case 1:
                    return vars_[pick(static_cast<int>(vars_.size()))];
                case 2:
                    return "(" + expression(depth - 1) + ")";
                case 3:
                    return "-" + term(depth - 1);
                case 4:
                    return "~" + term(depth - 1);
                case 5:
                    // A divisor that cannot be 0.
                    return "(" + term(depth - 1) + " / (" + expression(depth - 1) + " | 1))";
                case 6:
                {
                    static const char *const two[] = {"Math.min", "Math.max", "Math.multiply"};
                    return std::string(two[pick(3)]) + "(" + expression(depth - 1) + ", " + expression(depth - 1) + ")";
                }
                case 7:
                    return pick(2) ? "Math.abs(" + expression(depth - 1) + ")"
                                   : "Math.sqrt(" + term(depth - 1) + " & 32767)";
                case 8:
                    if (!callable_.empty())
                    {
                        // Calls inside loops multiply; a call that would pass
                        // the budget becomes a constant, so every run is short.
                        const function_sig &f = callable_[pick(static_cast<int>(callable_.size()))];
                        if (cost_ + multiplier_ * f.cost > budget_)
                            return constant();
                        cost_ += multiplier_ * f.cost;
                        std::string call = f.name + "(";
                        for (int i = 0; i < f.arguments; ++i)
                            call += (i ? ", " : "") + expression(depth - 1);
                        return call + ")";
                    }
                    return constant();
                case 9:
                    return "table[" + term(depth - 1) + " & 7]";
                case 10:
                    return pick(2) ? "true" : "false";
                default:
                    return vars_[pick(static_cast<int>(vars_.size()))];
                }
            }

            std::string expression(int depth)
            {
                static const char *const ops[] = {" + ", " - ", " * ", " & ", " | ", " < ", " > ", " = "};
                std::string e = term(depth);
                const int more = chance(2) ? 0 : 1 + pick(3);
                for (int i = 0; i < more; ++i)
                    e += ops[pick(8)] + term(depth - 1);
                return e;
            }

            // Statements of a function body over vars_, ending in at most
            // `loops` nested loops that count up to a small constant.
            std::string statements(int depth, const std::string &indent, bool print)
            {
                std::string out;
                const int count = 1 + pick(4);
                for (int s = 0; s < count; ++s)
                {
                    const std::string &target = assignable_[pick(static_cast<int>(assignable_.size()))];
                    const int choice = depth <= 0 ? pick(2) : pick(6);
                    if (choice <= 1)
                    {
                        out += indent + "let " + target + " = " + expression(2) + ";\n";
                        if (print)
                            out += indent + "do Output.printInt(" + target + ");\n" + indent +
                                   "do Output.printChar(32);\n";
                    }
                    else if (choice == 2)
                        out += indent + "let table[" + term(1) + " & 7] = " + expression(2) + ";\n";
                    else if (choice == 3)
                    {
                        out += indent + "if (" + expression(2) + ") {\n" + statements(depth - 1, indent + "    ", print) +
                               indent + "}";
                        if (chance(2))
                            out += " else {\n" + statements(depth - 1, indent + "    ", print) + indent + "}";
                        out += "\n";
                    }
                    else if (choice == 4 && loop_ < 3)
                    {
                        // The loop's counter is its own: nothing inside assigns it.
                        const std::string counter = "n" + std::to_string(loop_++);
                        const int bound = 1 + pick(6);
                        multiplier_ *= bound;
                        out += indent + "let " + counter + " = 0;\n" + indent + "while (" + counter + " < " +
                               std::to_string(bound) + ") {\n" + statements(depth - 1, indent + "    ", print) +
                               indent + "    let " + counter + " = " + counter + " + 1;\n" + indent + "}\n";
                        multiplier_ /= bound;
                        --loop_;
                    }
                    else
                        out += indent + "let " + target + " = " + target + " + 1;\n";
                }
                return out;
            }

            std::string compute_class(const std::string &name)
            {
                std::string out = "class " + name + " {\n    static Array table;\n    static int total;\n\n";
                out += "    function void init() {\n        var int k;\n        let table = Array.new(8);\n"
                       "        let k = 0;\n        while (k < 8) {\n            let table[k] = k * " +
                       constant() + ";\n            let k = k + 1;\n        }\n        return;\n    }\n\n";
                own_.push_back({name + ".init", 0, 1});
                const int functions = 1 + pick(4);
                for (int f = 0; f < functions; ++f)
                {
                    const int arguments = pick(4);
                    const std::string fname = name + ".f" + std::to_string(f);
                    out += "    function int f" + std::to_string(f) + "(";
                    vars_ = {"total"};
                    assignable_ = {"total"};
                    for (int a = 0; a < arguments; ++a)
                    {
                        out += std::string(a ? ", " : "") + "int a" + std::to_string(a);
                        vars_.push_back("a" + std::to_string(a));
                        assignable_.push_back("a" + std::to_string(a));
                    }
                    out += ") {\n        var int x, y, n0, n1, n2;\n";
                    cost_ = 1;
                    budget_ = 300;
                    for (const char *v : {"x", "y"})
                    {
                        vars_.push_back(v);
                        assignable_.push_back(v);
                    }
                    out += statements(2, "        ", false);
                    out += "        return " + expression(2) + ";\n    }\n\n";
                    callable_.push_back({fname, arguments, cost_});
                }
                return out + "}\n";
            }

            std::string box_class()
            {
                return "class Box {\n"
                       "    field int value;\n    field String label;\n\n"
                       "    constructor Box new(int v) {\n        let value = v;\n        let label = \"box\";\n"
                       "        return this;\n    }\n\n"
                       "    method int add(int d) {\n        let value = value + d;\n        return value;\n    }\n\n"
                       "    method void show() {\n        do Output.printString(label);\n"
                       "        do Output.printInt(value);\n        do Output.println();\n        return;\n    }\n\n"
                       "    method void dispose() {\n        do label.dispose();\n        do Memory.deAlloc(this);\n"
                       "        return;\n    }\n}\n";
            }

            std::string main_class()
            {
                std::string out = "class Main {\n    static Array table;\n    static int total;\n\n"
                                  "    function void main() {\n"
                                  "        var int r, s, n0, n1, n2;\n        var Box box;\n        var String text;\n";
                out += "        let table = Array.new(8);\n";
                for (const function_sig &f : own_)
                    out += "        do " + f.name + "();\n";
                vars_ = {"r", "s", "total"};
                assignable_ = {"r", "s", "total"};
                cost_ = 1;
                budget_ = 3000;
                out += statements(3, "        ", true);
                out += "        let box = Box.new(" + expression(1) + ");\n";
                out += "        let r = box.add(" + expression(2) + ");\n        do Output.printInt(r);\n";
                out += "        do box.show();\n        do box.dispose();\n";
                out += "        let text = String.new(8);\n        do text.setInt(" + expression(2) + ");\n"
                       "        do Output.printString(text);\n        do Output.printChar(32);\n"
                       "        do Output.printInt(text.intValue() + text.length());\n        do Output.println();\n";
                out += "        do Screen.drawLine(r & 511, s & 255, " + expression(1) + " & 511, " + expression(1) +
                       " & 255);\n";
                out += "        do Screen.drawCircle(256, 128, " + term(1) + " & 63);\n";
                out += "        do Output.printInt(r + s + total);\n        do Output.println();\n";
                out += "        return;\n    }\n}\n";
                return out;
            }

            std::mt19937 rng_;
            std::vector<std::string> vars_;
            std::vector<std::string> assignable_;
            std::vector<function_sig> callable_; // functions defined so far, callable by those after them
            std::vector<function_sig> own_;      // the init functions Main.main calls first
            int loop_ = 0;
            long cost_ = 0, budget_ = 0, multiplier_ = 1;
        };
    }

    std::vector<std::pair<std::string, std::string>> random_program(unsigned seed)
    {
        return program_generator(seed).generate();
    }
}
