#include "vm/loader.h"

#include "vm/fusion.h"
#include "vm/library.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <unordered_map>

namespace vm_runner
{
    namespace
    {
        const int static_limit = 240;
        const int first_static = 16;

        // A word as a report shows it: quoted, with bytes that are not
        // printable written as \xNN so that a report is always one line.
        std::string quoted(std::string_view word)
        {
            std::string out = "\"";
            for (unsigned char c : word)
            {
                if (c >= 32 && c < 127 && c != '"' && c != '\\')
                    out += static_cast<char>(c);
                else
                {
                    static const char hex[] = "0123456789abcdef";
                    out += "\\x";
                    out += hex[c >> 4];
                    out += hex[c & 15];
                }
            }
            return out + "\"";
        }

        bool is_name(std::string_view word)
        {
            if (word.empty() || (word[0] >= '0' && word[0] <= '9'))
                return false;
            for (char c : word)
            {
                bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                          c == '.' || c == '$' || c == ':';
                if (!ok)
                    return false;
            }
            return true;
        }

        // A decimal 0 to 32767, or -1. Leading zeros are allowed however
        // many there are; the value stops growing once it is out of range.
        int number_of(std::string_view word)
        {
            if (word.empty())
                return -1;
            int value = 0;
            for (char c : word)
            {
                if (c < '0' || c > '9')
                    return -1;
                value = std::min(value * 10 + (c - '0'), 32768);
            }
            return value <= 32767 ? value : -1;
        }

        enum class segment
        {
            argument,
            local,
            static_,
            constant,
            this_,
            that,
            pointer,
            temp,
            none
        };

        segment segment_of(std::string_view word)
        {
            static const std::pair<std::string_view, segment> names[] = {
                {"argument", segment::argument}, {"local", segment::local}, {"static", segment::static_},
                {"constant", segment::constant}, {"this", segment::this_},  {"that", segment::that},
                {"pointer", segment::pointer},   {"temp", segment::temp}};
            for (const auto &[name, seg] : names)
                if (word == name)
                    return seg;
            return segment::none;
        }

        struct pending_jump
        {
            int pc;
            std::string_view label;
            int line;
        };

        struct pending_call
        {
            int pc;
            std::string_view name;
            int arguments;
            int file;
            int line;
        };

        class loader
        {
        public:
            loader(program &p, const load_options &options) : p_(p), options_(options) {}

            void load_file(int file);
            void resolve_calls();

        private:
            [[noreturn]] void fail(int file, int line, const std::string &expected, const std::string &found) const
            {
                throw load_error(p_.files[file] + ":" + std::to_string(line) + ": expected " + expected +
                                 " but found " + found);
            }

            std::string found_word(const std::vector<std::string_view> &words, size_t i) const
            {
                return i < words.size() ? quoted(words[i]) : "the end of the line";
            }

            void command(int file, int line, const std::vector<std::string_view> &words);
            void end_function(int file);
            void emit(opcode op, int small, int big, int file, int line)
            {
                instruction in;
                in.op = op;
                in.small = static_cast<uint16_t>(small);
                in.big = big;
                p_.code.push_back(in);
                p_.places.push_back({file, line});
                p_.function_of.push_back(current_function_);
                places_.push_back(mark_);
                any_mark_ = any_mark_ || mark_.file >= 0;
            }
            void read_mark(int file, std::string_view mark);

            program &p_;
            const load_options &options_;
            // The Jack place the last "//@" mark of the file gave.
            jack_place mark_;
            std::vector<jack_place> places_;
            bool any_mark_ = false;
            std::unordered_map<std::string, int> jack_file_index_;
            std::unordered_map<std::string_view, int> defined_; // function name -> function index
            std::vector<int> defined_line_;
            std::vector<int> defined_file_;
            std::vector<pending_call> calls_;

            // The function being read.
            int current_function_ = -1;
            std::unordered_map<std::string_view, int> labels_;
            std::vector<pending_jump> jumps_;

            // The statics of the file being read.
            int highest_static_ = -1;
            int highest_static_line_ = 0;
            std::vector<int> static_uses_;
        };

        void loader::load_file(int file)
        {
            const std::string &text = p_.texts[file];
            current_function_ = -1;
            mark_ = jack_place{};
            highest_static_ = -1;
            static_uses_.clear();
            std::vector<std::string_view> words;
            size_t pos = 0;
            int line = 0;
            while (pos < text.size())
            {
                ++line;
                size_t end = text.find('\n', pos);
                if (end == std::string::npos)
                    end = text.size();
                std::string_view rest(text.data() + pos, end - pos);
                pos = end + 1;
                if (!rest.empty() && rest.back() == '\r')
                    rest.remove_suffix(1);
                size_t comment = rest.find("//");
                if (comment != std::string_view::npos && rest.compare(comment, 4, "//@ ") == 0 &&
                    rest.find_first_not_of(" \t") == comment)
                    read_mark(file, rest.substr(comment + 4));
                if (comment != std::string_view::npos)
                    rest = rest.substr(0, comment);
                words.clear();
                size_t i = 0;
                while (i < rest.size())
                {
                    while (i < rest.size() && (rest[i] == ' ' || rest[i] == '\t'))
                        ++i;
                    size_t start = i;
                    while (i < rest.size() && rest[i] != ' ' && rest[i] != '\t')
                        ++i;
                    if (i > start)
                        words.push_back(rest.substr(start, i - start));
                }
                if (!words.empty())
                    command(file, line, words);
            }
            end_function(file);

            if (highest_static_ >= 0)
            {
                const int base = first_static + p_.statics;
                p_.statics += highest_static_ + 1;
                if (p_.statics > static_limit)
                    fail(file, highest_static_line_,
                         "at most " + std::to_string(static_limit) + " words of statics in all",
                         "static " + std::to_string(highest_static_) + ", which makes " + std::to_string(p_.statics));
                for (int pc : static_uses_)
                    p_.code[pc].small = static_cast<uint16_t>(p_.code[pc].small + base);
            }
        }

        // "FILE.jack:LINE:COL"; anything else is left a comment, as any
        // other loader would leave it.
        void loader::read_mark(int file, std::string_view mark)
        {
            while (!mark.empty() && (mark.back() == ' ' || mark.back() == '\t'))
                mark.remove_suffix(1);
            const size_t second = mark.rfind(':');
            const size_t first = second == std::string_view::npos || second == 0 ? std::string_view::npos
                                                                                 : mark.rfind(':', second - 1);
            if (first == std::string_view::npos || first == 0)
                return;
            const int line = number_of(mark.substr(first + 1, second - first - 1));
            const int column = number_of(mark.substr(second + 1));
            if (line <= 0 || column <= 0)
                return;
            const std::string &vm = p_.files[file];
            const size_t slash = vm.rfind('/');
            const std::string path = (slash == std::string::npos ? "" : vm.substr(0, slash + 1)) +
                                     std::string(mark.substr(0, first));
            auto [it, added] = jack_file_index_.emplace(path, static_cast<int>(p_.jack_files.size()));
            if (added)
                p_.jack_files.push_back(path);
            mark_ = jack_place{it->second, line, column};
        }

        void loader::end_function(int file)
        {
            if (current_function_ < 0)
                return;
            // Running past the last command of a function is an error of the
            // program, caught here rather than by running into the next one.
            const int line = p_.places.back().line;
            emit(opcode::end_of_function, 0, current_function_, file, line);
            for (const pending_jump &jump : jumps_)
            {
                auto found = labels_.find(jump.label);
                if (found == labels_.end())
                    fail(file, jump.line, "a label of " + p_.functions[current_function_].name, quoted(jump.label));
                p_.code[jump.pc].big = found->second;
            }
            jumps_.clear();
            labels_.clear();
            current_function_ = -1;
        }

        void loader::command(int file, int line, const std::vector<std::string_view> &words)
        {
            const std::string_view verb = words[0];
            size_t count = 1; // words the command takes
            auto need_name = [&](const char *what) {
                if (words.size() < 2 || !is_name(words[1]))
                    fail(file, line, what, found_word(words, 1));
                return words[1];
            };
            auto need_number = [&](size_t i, const char *what) {
                int value = i < words.size() ? number_of(words[i]) : -1;
                if (value < 0)
                    fail(file, line, what, found_word(words, i));
                return value;
            };

            if (verb == "function")
            {
                const std::string_view name = need_name("a function name");
                const int locals = need_number(2, "a local count 0 to 32767");
                count = 3;
                if (words.size() > count)
                    fail(file, line, "the end of the line", quoted(words[count]));
                end_function(file);
                auto [it, added] = defined_.emplace(name, static_cast<int>(p_.functions.size()));
                if (!added)
                {
                    const int first = it->second;
                    fail(file, line,
                         "a function not defined before (" + std::string(name) + " is defined at " +
                             p_.files[defined_file_[first]] + ":" + std::to_string(defined_line_[first]) + ")",
                         "a second definition");
                }
                current_function_ = it->second;
                function_entry entry;
                entry.name = std::string(name);
                entry.entry = static_cast<int>(p_.code.size());
                p_.functions.push_back(entry);
                defined_file_.push_back(file);
                defined_line_.push_back(line);
                emit(opcode::function, locals, current_function_, file, line);
                return;
            }

            static const char *const commands =
                "a command (push, pop, add, sub, neg, eq, gt, lt, and, or, not, label, goto, if-goto, function, "
                "call, return)";
            if (current_function_ < 0)
            {
                // Say what is wrong with the word first, then where it stands.
                static const char *const known[] = {"push",  "pop", "add", "sub",   "neg",  "eq",      "gt",   "lt",
                                                    "and",   "or",  "not", "label", "goto", "if-goto", "call", "return"};
                if (std::find(std::begin(known), std::end(known), verb) == std::end(known))
                    fail(file, line, commands, quoted(verb));
                fail(file, line, "\"function\" before the first command of the file", quoted(verb));
            }

            if (verb == "push" || verb == "pop")
            {
                const bool push = verb == "push";
                const segment seg = words.size() > 1 ? segment_of(words[1]) : segment::none;
                if (seg == segment::none || (!push && seg == segment::constant))
                    fail(file, line,
                         push ? "a segment (argument, local, static, constant, this, that, pointer, temp)"
                              : "a segment (argument, local, static, this, that, pointer, temp)",
                         found_word(words, 1));
                int index;
                if (seg == segment::pointer)
                {
                    index = words.size() > 2 && (words[2] == "0" || words[2] == "1") ? words[2][0] - '0' : -1;
                    if (index < 0)
                        fail(file, line, "a pointer index 0 or 1", found_word(words, 2));
                }
                else if (seg == segment::temp)
                {
                    index = need_number(2, "a temp index 0 to 7");
                    if (index > 7)
                        fail(file, line, "a temp index 0 to 7", quoted(words[2]));
                }
                else
                    index = need_number(2, "an index 0 to 32767");
                count = 3;
                if (words.size() > count)
                    fail(file, line, "the end of the line", quoted(words[count]));
                switch (seg)
                {
                case segment::constant:
                    emit(opcode::push_constant, index, 0, file, line);
                    break;
                case segment::local:
                    emit(push ? opcode::push_local : opcode::pop_local, index, 0, file, line);
                    break;
                case segment::argument:
                    emit(push ? opcode::push_argument : opcode::pop_argument, index, 0, file, line);
                    break;
                case segment::this_:
                    emit(push ? opcode::push_this : opcode::pop_this, index, 0, file, line);
                    break;
                case segment::that:
                    emit(push ? opcode::push_that : opcode::pop_that, index, 0, file, line);
                    break;
                case segment::pointer:
                    emit(push ? opcode::push_fixed : opcode::pop_fixed, 3 + index, 0, file, line);
                    break;
                case segment::temp:
                    emit(push ? opcode::push_fixed : opcode::pop_fixed, 5 + index, 0, file, line);
                    break;
                case segment::static_:
                    // The address is known once the file's highest index is.
                    static_uses_.push_back(static_cast<int>(p_.code.size()));
                    emit(push ? opcode::push_fixed : opcode::pop_fixed, index, 0, file, line);
                    if (index > highest_static_)
                    {
                        highest_static_ = index;
                        highest_static_line_ = line;
                    }
                    break;
                case segment::none:
                    break;
                }
                return;
            }

            static const std::pair<std::string_view, opcode> plain[] = {
                {"add", opcode::add},     {"sub", opcode::sub},    {"neg", opcode::neg},
                {"eq", opcode::eq},       {"gt", opcode::gt},      {"lt", opcode::lt},
                {"and", opcode::bit_and}, {"or", opcode::bit_or},  {"not", opcode::bit_not},
                {"return", opcode::return_}};
            for (const auto &[name, op] : plain)
                if (verb == name)
                {
                    if (words.size() > 1)
                        fail(file, line, "the end of the line", quoted(words[1]));
                    emit(op, 0, 0, file, line);
                    return;
                }

            if (verb == "label" || verb == "goto" || verb == "if-goto")
            {
                const std::string_view name = need_name("a label name");
                if (words.size() > 2)
                    fail(file, line, "the end of the line", quoted(words[2]));
                const int here = static_cast<int>(p_.code.size());
                if (verb == "label")
                {
                    if (!labels_.emplace(name, here).second)
                        fail(file, line, "a label not defined before in " + p_.functions[current_function_].name,
                             quoted(name));
                }
                else
                {
                    jumps_.push_back({here, name, line});
                    emit(verb == "goto" ? opcode::go_to : opcode::if_go_to, 0, -1, file, line);
                }
                return;
            }

            if (verb == "call")
            {
                const std::string_view name = need_name("a function name");
                const int arguments = need_number(2, "an argument count 0 to 32767");
                if (words.size() > 3)
                    fail(file, line, "the end of the line", quoted(words[3]));
                calls_.push_back({static_cast<int>(p_.code.size()), name, arguments, file, line});
                emit(opcode::call, arguments, -1, file, line);
                return;
            }

            fail(file, line, commands, quoted(verb));
        }

        void loader::resolve_calls()
        {
            std::unordered_map<std::string_view, int> library;
            for (int i = 0; i < library_size; ++i)
                library.emplace(library_table[i].name, i);

            // Library functions the files do not replace join the table.
            p_.library_functions.assign(library_size, -1);
            for (int i = 0; i < library_size; ++i)
            {
                auto own = defined_.find(library_table[i].name);
                if (own != defined_.end())
                    p_.library_functions[i] = own->second;
                else
                {
                    function_entry entry;
                    entry.name = library_table[i].name;
                    entry.library = i;
                    p_.library_functions[i] = static_cast<int>(p_.functions.size());
                    p_.functions.push_back(entry);
                }
            }

            for (const pending_call &call : calls_)
            {
                auto own = defined_.find(call.name);
                if (own != defined_.end())
                {
                    p_.code[call.pc].big = own->second;
                    continue;
                }
                auto lib = library.find(call.name);
                if (lib == library.end() && options_.allow_undefined)
                {
                    p_.code[call.pc].op = opcode::call_undefined;
                    p_.code[call.pc].big = static_cast<int>(p_.undefined.size());
                    p_.undefined.push_back(std::string(call.name));
                    continue;
                }
                if (lib == library.end())
                    fail(call.file, call.line, "a function that the files or the standard library define",
                         quoted(call.name));
                const library_function &f = library_table[lib->second];
                if (f.arguments != call.arguments)
                    fail(call.file, call.line,
                         std::string(f.name) + " with " + std::to_string(f.arguments) +
                             (f.arguments == 1 ? " argument" : " arguments"),
                         std::to_string(call.arguments));
                p_.code[call.pc].op = opcode::call_library;
                if (options_.inline_arithmetic)
                    switch (lib->second)
                    {
                    case lib_Math_multiply: p_.code[call.pc].op = opcode::call_multiply; break;
                    case lib_Math_divide: p_.code[call.pc].op = opcode::call_divide; break;
                    case lib_Math_min: p_.code[call.pc].op = opcode::call_min; break;
                    case lib_Math_max: p_.code[call.pc].op = opcode::call_max; break;
                    default: break;
                    }
                p_.code[call.pc].big = lib->second;
            }

            p_.sys_init = p_.library_functions[lib_Sys_init];
            auto main = defined_.find("Main.main");
            p_.main_main = main == defined_.end() ? -1 : main->second;
            if (!p_.functions[p_.sys_init].defined() && p_.main_main < 0)
                throw load_error(
                    "the program: expected a function Main.main, which Sys.init calls, but found none in the files");
            if (any_mark_)
                p_.jack_places = std::move(places_);
        }
    }

    program load_program(std::vector<source_file> files, const load_options &options)
    {
        auto base_name = [](const std::string &path) {
            size_t slash = path.find_last_of('/');
            return slash == std::string::npos ? path : path.substr(slash + 1);
        };
        std::stable_sort(files.begin(), files.end(), [&](const source_file &a, const source_file &b) {
            const std::string x = base_name(a.path), y = base_name(b.path);
            return x != y ? x < y : a.path < b.path;
        });
        program p;
        for (source_file &f : files)
        {
            p.files.push_back(f.path);
            p.texts.push_back(std::move(f.text));
        }
        loader l(p, options);
        for (size_t i = 0; i < p.files.size(); ++i)
            l.load_file(static_cast<int>(i));
        l.resolve_calls();
        if (options.fuse)
            p.fused = fuse(p);
        return p;
    }

    std::string command_text(const program &p, int pc)
    {
        if (pc < 0 || pc >= static_cast<int>(p.places.size()))
            return "";
        const source_place place = p.places[pc];
        const std::string &text = p.texts[place.file];
        size_t pos = 0;
        for (int line = 1; line < place.line && pos != std::string::npos; ++line)
        {
            pos = text.find('\n', pos);
            if (pos != std::string::npos)
                ++pos;
        }
        if (pos == std::string::npos)
            return "";
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        size_t comment = line.find("//");
        if (comment != std::string::npos)
            line.erase(comment);
        const char *blanks = " \t\r";
        size_t first = line.find_first_not_of(blanks);
        if (first == std::string::npos)
            return "";
        line = line.substr(first, line.find_last_not_of(blanks) - first + 1);
        // Collapse runs of blanks so that reports look alike whatever the
        // layout of the file.
        std::string out;
        for (char c : line)
        {
            if (c == '\t')
                c = ' ';
            if (c == ' ' && !out.empty() && out.back() == ' ')
                continue;
            out += c;
        }
        return out;
    }

    std::string read_text(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throw load_error(path + ": cannot be read");
        std::ostringstream text;
        text << in.rdbuf();
        if (in.bad())
            throw load_error(path + ": cannot be read");
        return text.str();
    }

    std::vector<source_file> read_paths(const std::vector<std::string> &paths)
    {
        namespace fs = std::filesystem;
        std::vector<source_file> files;
        auto read = [&](const std::string &path) { files.push_back({path, read_text(path)}); };
        auto is_vm = [](const std::string &path) {
            return path.size() > 3 && path.compare(path.size() - 3, 3, ".vm") == 0;
        };
        for (const std::string &path : paths)
        {
            std::error_code error;
            if (fs::is_directory(path, error))
            {
                std::vector<std::string> found;
                for (const auto &entry : fs::directory_iterator(path, error))
                    if (is_vm(entry.path().filename().string()) && entry.is_regular_file(error))
                        found.push_back(entry.path().string());
                if (error)
                    throw load_error(path + ": the folder cannot be read");
                if (found.empty())
                    throw load_error(path + ": expected a folder holding .vm files but found none in it");
                std::sort(found.begin(), found.end());
                for (const std::string &f : found)
                    read(f);
            }
            else if (!fs::is_regular_file(path, error))
                throw load_error(path + ": expected a .vm file or a folder but found nothing readable of that name");
            else if (!is_vm(path))
                throw load_error(path + ": expected a .vm file or a folder but found a file of another name");
            else
                read(path);
        }
        return files;
    }
}
