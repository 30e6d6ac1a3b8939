#include "tests/tools/xml2jack/random_jack.h"

#include <vector>

namespace test_support
{
    namespace
    {
        class generator
        {
        public:
            generator(std::mt19937 &rng, int number) : rng_(rng), class_name_("R" + std::to_string(number)) {}

            std::string generate()
            {
                std::string text = maybe_doc() + "class" + space() + class_name_ + space() + "{\n";
                const int class_vars = pick(0, 5);
                for (int i = 0; i < class_vars; i++)
                    text += class_var_dec();
                const int subroutines = pick(0, 4);
                for (int i = 0; i < subroutines; i++)
                    text += subroutine();
                return text + "}" + (chance(3) ? " // the end\n" : "\n");
            }

        private:
            int pick(int low, int high)
            {
                return std::uniform_int_distribution<int>(low, high)(rng_);
            }

            bool chance(int one_in)
            {
                return pick(1, one_in) == 1;
            }

            std::string space()
            {
                static const char *const spaces[] = {" ", " ", " ", "  ", "\t", "\n  ", " /* c */ "};
                return spaces[pick(0, 6)];
            }

            std::string maybe_doc()
            {
                switch (pick(0, 5))
                {
                case 0: return "/** doc " + std::to_string(pick(0, 99)) + " */\n";
                case 1: return "/**\n * two\n * lines\t\n */\n";
                case 2: return "/** cancelled */ // by a line comment\n";
                case 3: return "/* plain */ ";
                default: return "";
                }
            }

            std::string type()
            {
                static const char *const types[] = {"int", "char", "boolean", "Array", "String", "Point"};
                return types[pick(0, 5)];
            }

            std::string fresh_name()
            {
                return "v" + std::to_string(next_name_++);
            }

            std::string class_var_dec()
            {
                const std::string t = type();
                std::string text = "    " + maybe_doc() + (chance(2) ? "static " : "field ") + t + " ";
                const int n = pick(1, 3);
                for (int i = 0; i < n; i++)
                {
                    const std::string name = fresh_name();
                    class_vars_.push_back(name);
                    text += (i > 0 ? ", " : "") + name;
                }
                return text + ";\n";
            }

            std::string subroutine()
            {
                static const char *const kinds[] = {"constructor", "function", "method"};
                const int kind = pick(0, 2);
                const std::string vtype = kind == 0 ? class_name_ : chance(3) ? "void" : type();
                std::string text = "    " + maybe_doc() + kinds[kind] + " " + vtype + " " + fresh_name() + "(";
                locals_.clear();
                const int params = pick(0, 3);
                for (int i = 0; i < params; i++)
                {
                    const std::string name = fresh_name();
                    locals_.push_back(name);
                    text += (i > 0 ? ", " : "") + type() + " " + name;
                }
                text += ") {\n";
                const int decs = pick(0, 2);
                for (int i = 0; i < decs; i++)
                {
                    text += "        var " + type() + " ";
                    const int n = pick(1, 3);
                    for (int j = 0; j < n; j++)
                    {
                        const std::string name = fresh_name();
                        locals_.push_back(name);
                        text += (j > 0 ? ", " : "") + name;
                    }
                    text += ";\n";
                }
                text += statements(2, 3);
                return text + "    }\n";
            }

            bool have_variables() const
            {
                return !locals_.empty() || !class_vars_.empty();
            }

            std::string variable()
            {
                const size_t n = locals_.size() + class_vars_.size();
                const size_t i = static_cast<size_t>(pick(0, static_cast<int>(n) - 1));
                return i < locals_.size() ? locals_[i] : class_vars_[i - locals_.size()];
            }

            std::string statements(int level, int depth)
            {
                std::string text;
                const int n = pick(0, 4);
                for (int i = 0; i < n; i++)
                    text += statement(level, depth);
                return text;
            }

            std::string statement(int level, int depth)
            {
                const std::string indent(4 * level, ' ');
                switch (pick(0, depth > 0 ? 7 : 4))
                {
                case 0:
                case 1:
                    if (have_variables())
                    {
                        const std::string target = variable();
                        if (chance(3))
                            return indent + "let " + target + "[" + expression(2) + "] = " + expression(2) + ";\n";
                        return indent + "let " + target + " = " + expression(2) + ";\n";
                    }
                    return indent + "return;\n";
                case 2:
                    return indent + "do " + call(1) + ";\n";
                case 3:
                    return indent + "return " + expression(2) + ";\n";
                case 4:
                    return indent + "return;\n";
                case 5:
                    return indent + "while (" + expression(2) + ") {\n" + statements(level + 1, depth - 1) + indent +
                           "}\n";
                default:
                {
                    std::string text = indent + "if (" + expression(2) + ") {\n" + statements(level + 1, depth - 1) +
                                       indent + "}";
                    if (chance(2))
                        text += " else {\n" + statements(level + 1, depth - 1) + indent + "}";
                    return text + "\n";
                }
                }
            }

            std::string expression(int depth)
            {
                static const char *const operators[] = {"+", "-", "*", "/", "&", "|", "<", ">", "="};
                std::string text = term(depth);
                const int n = pick(0, 3);
                for (int i = 0; i < n; i++)
                    text += std::string(chance(4) ? "" : " ") + operators[pick(0, 8)] + " " + term(depth);
                return text;
            }

            std::string string_constant()
            {
                static const char *const pieces[] = {"a", "Z", " ", "<", "&", "'", "\t", ">", "\xc3\xa9", "9", "x y"};
                std::string text;
                const int n = pick(1, 4);
                for (int i = 0; i < n; i++)
                    text += pieces[pick(0, 10)];
                return "\"" + text + "\"";
            }

            std::string term(int depth)
            {
                switch (pick(0, depth > 0 ? 12 : 6))
                {
                case 0: return std::to_string(pick(0, 32767));
                case 1: return chance(4) ? "00" + std::to_string(pick(0, 9)) : std::to_string(pick(0, 9));
                case 2: return string_constant();
                case 3: return chance(2) ? "true" : "false";
                case 4: return chance(2) ? "null" : "this";
                case 5:
                case 6: return have_variables() ? variable() : "1";
                case 7: return "(" + expression(depth - 1) + ")";
                case 8: return (chance(2) ? "-" : "~") + term(depth - 1);
                case 9: return have_variables() ? variable() + "[" + expression(depth - 1) + "]" : "2";
                default: return call(depth - 1);
                }
            }

            std::string call(int depth)
            {
                std::string args;
                const int n = depth > 0 ? pick(0, 3) : 0;
                for (int i = 0; i < n; i++)
                    args += (i > 0 ? ", " : "") + expression(depth);
                switch (pick(0, 2))
                {
                case 0: return "run" + std::to_string(pick(0, 3)) + "(" + args + ")";
                case 1: return "Output.print(" + args + ")";
                default: return (have_variables() ? variable() : "Memory") + ".poke(" + args + ")";
                }
            }

            std::mt19937 &rng_;
            std::string class_name_;
            std::vector<std::string> class_vars_;
            std::vector<std::string> locals_;
            int next_name_ = 0;
        };
    }

    std::string random_jack_class(std::mt19937 &rng, int number)
    {
        return generator(rng, number).generate();
    }
}
