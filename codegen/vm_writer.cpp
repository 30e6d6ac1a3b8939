// One function per node kind, each writing the commands of its kind's row:
// code_let is "code(e); pop S i", code_while is "label WHILE_n; code(c);
// not; if-goto WHILE_END_n; code(s); goto WHILE_n; label WHILE_END_n", and
// so on. The text is built in memory and handed back whole, so a refusal
// found anywhere in the tree leaves nothing written.
#include "codegen/vm_writer.h"
#include "iobuffer/iobuffer.h"

#include <charconv>

namespace Jack_Compiler
{
    namespace
    {
        // The largest INDEX, N or constant a VM command can hold.
        const int vm_word_max = 32767;

        // Letters, digits, '_', '.', '$' and ':', not starting with a digit.
        // Anything else in a function name would change the meaning of the
        // line it stands on, or break the file into lines that are no
        // commands at all.
        bool vm_name(const std::string &name)
        {
            if (name.empty() || (name[0] >= '0' && name[0] <= '9'))
                return false;
            for (unsigned char c : name)
                if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                      c == '.' || c == '$' || c == ':'))
                    return false;
            return true;
        }

        // A tree value in a message: quoted, with every byte outside
        // printable ASCII as \xNN, so the report stays one readable line.
        std::string quoted(const std::string &text)
        {
            static const char hex[] = "0123456789abcdef";
            std::string q = "\"";
            for (unsigned char c : text)
            {
                if (c >= 32 && c < 127 && c != '\\' && c != '"')
                    q += static_cast<char>(c);
                else
                {
                    q += "\\x";
                    q += hex[c >> 4];
                    q += hex[c & 15];
                }
            }
            return q + "\"";
        }

        class vm_writer
        {
        public:
            explicit vm_writer(const vm_marks *marks) : marks(marks) {}
            std::string code_class(ast t);

        private:
            void code_subr_decs(ast t);
            void code_subr(ast t);
            void code_constructor(ast t);
            void code_function(ast t);
            void code_method(ast t);
            void start_function(const std::string &name, ast body);
            int local_count(ast decs);
            int field_count();
            int words_for(ast dec, int count, const char *what);
            void code_subr_body(ast body);

            void code_statements(ast t);
            void code_statement(ast t);
            void code_let(ast t);
            void code_let_array(ast t);
            void code_if(ast t);
            void code_if_else(ast t);
            void code_while(ast t);
            void code_do(ast t);
            void code_return();
            void code_return_expr(ast t);

            void code_expr(ast t);
            void code_infix_op(ast t);
            void code_term(ast t);
            void code_int(ast t);
            void code_string(ast t);
            void code_bool(ast t);
            void code_unary_op(ast t);
            void code_var(ast t);
            void code_array_index(ast t);
            void code_call(ast t);
            void code_call_as_function(ast t);
            void code_call_as_method(ast t);
            void code_subr_call(const std::string &class_name, ast t, int extra_arguments);

            // The segment and offset of a variable, checked.
            const char *segment_of(ast var);
            int offset_of(ast var);

            [[noreturn]] void refuse(const std::string &what);
            void expect(ast t, ast_kind kind, const char *position);
            std::string checked_name(const std::string &name, const char *what);
            int next_label() { return labels++; }

            void line(const char *command) { out += command; out += '\n'; }
            void line(const char *command, const std::string &name)
            {
                out += command;
                out += ' ';
                out += name;
                out += '\n';
            }
            void line(const char *command, const char *word, int number);
            void line(const char *command, const std::string &word, int number) { line(command, word.c_str(), number); }
            void label_line(const char *command, const char *label, int n);
            // The next mark of the list, if there is one left.
            void mark(const std::vector<std::pair<int, int>> &places, size_t &next);

            const vm_marks *marks;
            size_t next_subroutine = 0, next_statement = 0;
            ast fields = nullptr;
            std::string class_name;
            std::string subroutine;  // while one is written
            int labels = 0;
            std::string out;
        };

        void vm_writer::line(const char *command, const char *word, int number)
        {
            char digits[16];
            const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
            out += command;
            out += ' ';
            out += word;
            out += ' ';
            out.append(digits, end);
            out += '\n';
        }

        void vm_writer::label_line(const char *command, const char *label, int n)
        {
            char digits[16];
            const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
            out += command;
            out += ' ';
            out += label;
            out.append(digits, end);
            out += '\n';
        }

        void vm_writer::mark(const std::vector<std::pair<int, int>> &places, size_t &next)
        {
            if (next >= places.size())
                return;
            out += "//@ " + marks->file + ":" + std::to_string(places[next].first) + ":" +
                   std::to_string(places[next].second) + "\n";
            next++;
        }

        void vm_writer::refuse(const std::string &what)
        {
            const std::string where = subroutine.empty() ? "class " + quoted(class_name)
                                                         : quoted(class_name + "." + subroutine);
            Lum_IO_Buffers::fatal_error(1, "xml2vm: no code for " + what + " in " + where);
        }

        // A node of another kind than its position takes.
        void vm_writer::expect(ast t, ast_kind kind, const char *position)
        {
            const ast_kind actual = ast_node_kind(t);
            if (actual != kind)
                refuse("a node of kind " + ast_kind_to_string(actual) + " as " + position);
        }

        std::string vm_writer::checked_name(const std::string &name, const char *what)
        {
            if (!vm_name(name))
                refuse(std::string("the ") + what + " " + quoted(name));
            return name;
        }

        // ---- Class and subroutines -------------------------------------------

        std::string vm_writer::code_class(ast t)
        {
            class_name = get_class_class_name(t);
            checked_name(class_name, "class name");
            fields = get_class_fields(t);
            code_subr_decs(get_class_subr_decs(t));
            return std::move(out);
        }

        void vm_writer::code_subr_decs(ast t)
        {
            expect(t, ast_subr_decs, "the subroutines");
            for (int i = 0; i < size_of_subr_decs(t); i++)
                code_subr(get_subr_decs(t, i));
        }

        void vm_writer::code_subr(ast t)
        {
            expect(t, ast_subr, "a subroutine");
            const ast s = get_subr_subr(t);
            labels = 0;
            switch (ast_node_kind(s))
            {
            case ast_constructor: code_constructor(s); break;
            case ast_function: code_function(s); break;
            case ast_method: code_method(s); break;
            default: refuse("a node of kind " + ast_kind_to_string(ast_node_kind(s)) + " as a subroutine");
            }
            subroutine.clear();
        }

        // function C.name L; push constant F; call Memory.alloc 1; pop pointer 0
        void vm_writer::code_constructor(ast t)
        {
            subroutine = checked_name(get_constructor_name(t), "subroutine name");
            start_function(subroutine, get_constructor_subr_body(t));
            line("push", "constant", field_count());
            line("call", "Memory.alloc", 1);
            line("pop", "pointer", 0);
            code_subr_body(get_constructor_subr_body(t));
        }

        // function C.name L
        void vm_writer::code_function(ast t)
        {
            subroutine = checked_name(get_function_name(t), "subroutine name");
            start_function(subroutine, get_function_subr_body(t));
            code_subr_body(get_function_subr_body(t));
        }

        // function C.name L; push argument 0; pop pointer 0
        void vm_writer::code_method(ast t)
        {
            subroutine = checked_name(get_method_name(t), "subroutine name");
            start_function(subroutine, get_method_subr_body(t));
            line("push", "argument", 0);
            line("pop", "pointer", 0);
            code_subr_body(get_method_subr_body(t));
        }

        // The constructors give an empty body as a bare ast_statements.
        void vm_writer::start_function(const std::string &name, ast body)
        {
            const int locals = ast_node_kind(body) == ast_subr_body ? local_count(get_subr_body_decs(body)) : 0;
            if (marks != nullptr)
                mark(marks->subroutines, next_subroutine);
            line("function", class_name + "." + name, locals);
        }

        // 1 + the largest offset of the declarations, 0 when there are none.
        int vm_writer::local_count(ast decs)
        {
            expect(decs, ast_var_decs, "the local variables");
            int count = 0;
            for (int i = 0; i < size_of_var_decs(decs); i++)
                count = words_for(get_var_decs(decs, i), count, "local variable");
            return count;
        }

        // 1 + the largest offset of the class's fields. A class without
        // fields still takes one word: Memory.alloc refuses 0, and every
        // constructor of such a class would otherwise fail when it runs.
        int vm_writer::field_count()
        {
            expect(fields, ast_class_var_decs, "the fields");
            int count = 1;
            for (int i = 0; i < size_of_class_var_decs(fields); i++)
                count = words_for(get_class_var_decs(fields, i), count, "field");
            return count;
        }

        // count, or 1 + the offset of dec when that is more; the count must
        // fit a VM command.
        int vm_writer::words_for(ast dec, int count, const char *what)
        {
            expect(dec, ast_var_dec, (std::string("a ") + what).c_str());
            const int offset = get_var_dec_offset(dec);
            if (offset < 0 || offset >= vm_word_max)
                refuse(std::string("the ") + what + " offset " + std::to_string(offset));
            return offset + 1 > count ? offset + 1 : count;
        }

        void vm_writer::code_subr_body(ast body)
        {
            if (ast_node_kind(body) == ast_statements)
                code_statements(body);
            else
            {
                expect(body, ast_subr_body, "a subroutine body");
                code_statements(get_subr_body_body(body));
            }
        }

        // ---- Statements ------------------------------------------------------

        void vm_writer::code_statements(ast t)
        {
            expect(t, ast_statements, "a statement list");
            for (int i = 0; i < size_of_statements(t); i++)
                code_statement(get_statements(t, i));
        }

        void vm_writer::code_statement(ast t)
        {
            expect(t, ast_statement, "a statement");
            const ast s = get_statement_statement(t);
            if (marks != nullptr && ast_node_kind(s) != ast_statements)
                mark(marks->statements, next_statement);
            switch (ast_node_kind(s))
            {
            case ast_statements: code_statements(s); break;  // a block
            case ast_let: code_let(s); break;
            case ast_let_array: code_let_array(s); break;
            case ast_if: code_if(s); break;
            case ast_if_else: code_if_else(s); break;
            case ast_while: code_while(s); break;
            case ast_do: code_do(s); break;
            case ast_return: code_return(); break;
            case ast_return_expr: code_return_expr(s); break;
            default: refuse("a node of kind " + ast_kind_to_string(ast_node_kind(s)) + " as a statement");
            }
        }

        // code(e); pop S i
        void vm_writer::code_let(ast t)
        {
            const ast var = get_let_var(t);
            code_expr(get_let_expr(t));
            line("pop", segment_of(var), offset_of(var));
        }

        // push S i; code(x); add; code(e); pop temp 0; pop pointer 1;
        // push temp 0; pop that 0
        void vm_writer::code_let_array(ast t)
        {
            code_var(get_let_array_var(t));
            code_expr(get_let_array_index(t));
            line("add");
            code_expr(get_let_array_expr(t));
            line("pop", "temp", 0);
            line("pop", "pointer", 1);
            line("push", "temp", 0);
            line("pop", "that", 0);
        }

        // code(c); not; if-goto IF_END_n; code(s); label IF_END_n
        void vm_writer::code_if(ast t)
        {
            const int n = next_label();
            code_expr(get_if_condition(t));
            line("not");
            label_line("if-goto", "IF_END_", n);
            code_statements(get_if_if_true(t));
            label_line("label", "IF_END_", n);
        }

        // code(c); not; if-goto IF_ELSE_n; code(s); goto IF_END_n;
        // label IF_ELSE_n; code(t); label IF_END_n
        void vm_writer::code_if_else(ast t)
        {
            const int n = next_label();
            code_expr(get_if_else_condition(t));
            line("not");
            label_line("if-goto", "IF_ELSE_", n);
            code_statements(get_if_else_if_true(t));
            label_line("goto", "IF_END_", n);
            label_line("label", "IF_ELSE_", n);
            code_statements(get_if_else_if_false(t));
            label_line("label", "IF_END_", n);
        }

        // label WHILE_n; code(c); not; if-goto WHILE_END_n; code(s);
        // goto WHILE_n; label WHILE_END_n
        void vm_writer::code_while(ast t)
        {
            const int n = next_label();
            label_line("label", "WHILE_", n);
            code_expr(get_while_condition(t));
            line("not");
            label_line("if-goto", "WHILE_END_", n);
            code_statements(get_while_body(t));
            label_line("goto", "WHILE_", n);
            label_line("label", "WHILE_END_", n);
        }

        // code(call); pop temp 0
        void vm_writer::code_do(ast t)
        {
            code_call(get_do_call(t));
            line("pop", "temp", 0);
        }

        // push constant 0; return
        void vm_writer::code_return()
        {
            line("push", "constant", 0);
            line("return");
        }

        // code(e); return
        void vm_writer::code_return_expr(ast t)
        {
            code_expr(get_return_expr(t));
            line("return");
        }

        // ---- Expressions and terms -------------------------------------------

        // t1 op1 t2 op2 t3 ...: code(t1); code(t2); op1; code(t3); op2; ...
        void vm_writer::code_expr(ast t)
        {
            expect(t, ast_expr, "an expression");
            const int size = size_of_expr(t);
            if (size % 2 == 0)
                refuse("an expression of " + std::to_string(size) + " elements");
            code_term(get_expr(t, 0));
            for (int i = 1; i < size; i += 2)
            {
                code_term(get_expr(t, i + 1));
                code_infix_op(get_expr(t, i));
            }
        }

        void vm_writer::code_infix_op(ast t)
        {
            expect(t, ast_infix_op, "an operator");
            const std::string op = get_infix_op_op(t);
            if (op == "+") line("add");
            else if (op == "-") line("sub");
            else if (op == "*") line("call", "Math.multiply", 2);
            else if (op == "/") line("call", "Math.divide", 2);
            else if (op == "&") line("and");
            else if (op == "|") line("or");
            else if (op == "<") line("lt");
            else if (op == ">") line("gt");
            else if (op == "=") line("eq");
            else refuse("the operator " + quoted(op));
        }

        void vm_writer::code_term(ast t)
        {
            expect(t, ast_term, "a term");
            const ast held = get_term_term(t);
            switch (ast_node_kind(held))
            {
            case ast_int: code_int(held); break;
            case ast_string: code_string(held); break;
            case ast_bool: code_bool(held); break;
            case ast_null: line("push", "constant", 0); break;  // null: push constant 0
            case ast_this: line("push", "pointer", 0); break;   // this: push pointer 0
            case ast_var: code_var(held); break;
            case ast_array_index: code_array_index(held); break;
            case ast_unary_op: code_unary_op(held); break;
            case ast_expr: code_expr(held); break;  // (e): code(e)
            case ast_call_as_function: code_call_as_function(held); break;
            case ast_call_as_method: code_call_as_method(held); break;
            default: refuse("a node of kind " + ast_kind_to_string(ast_node_kind(held)) + " as a term");
            }
        }

        // k >= 0: push constant k; -32768 < k < 0: push constant -k; neg;
        // -32768: push constant 32767; not
        void vm_writer::code_int(ast t)
        {
            const int k = get_int_constant(t);
            if (k > vm_word_max || k < -vm_word_max - 1)
                refuse("the integer constant " + std::to_string(k));
            if (k >= 0)
                line("push", "constant", k);
            else if (k > -vm_word_max - 1)
            {
                line("push", "constant", -k);
                line("neg");
            }
            else
            {
                line("push", "constant", vm_word_max);
                line("not");
            }
        }

        // push constant n; call String.new 1; then for each byte b:
        // push constant b; call String.appendChar 2
        void vm_writer::code_string(ast t)
        {
            const std::string text = get_string_constant(t);
            if (text.size() > static_cast<size_t>(vm_word_max))
                refuse("a string constant of " + std::to_string(text.size()) + " bytes");
            line("push", "constant", static_cast<int>(text.size()));
            line("call", "String.new", 1);
            for (unsigned char b : text)
            {
                line("push", "constant", b);
                line("call", "String.appendChar", 2);
            }
        }

        // true: push constant 0; not. false: push constant 0
        void vm_writer::code_bool(ast t)
        {
            line("push", "constant", 0);
            if (get_bool_t_or_f(t))
                line("not");
        }

        // -t: code(t); neg. ~t: code(t); not
        void vm_writer::code_unary_op(ast t)
        {
            const std::string op = get_unary_op_op(t);
            if (op != "-" && op != "~")
                refuse("the unary operator " + quoted(op));
            code_term(get_unary_op_term(t));
            line(op == "-" ? "neg" : "not");
        }

        // push S i
        void vm_writer::code_var(ast t)
        {
            line("push", segment_of(t), offset_of(t));
        }

        // push S i; code(x); add; pop pointer 1; push that 0
        void vm_writer::code_array_index(ast t)
        {
            code_var(get_array_index_var(t));
            code_expr(get_array_index_index(t));
            line("add");
            line("pop", "pointer", 1);
            line("push", "that", 0);
        }

        void vm_writer::code_call(ast t)
        {
            switch (ast_node_kind(t))
            {
            case ast_call_as_function: code_call_as_function(t); break;
            case ast_call_as_method: code_call_as_method(t); break;
            default: refuse("a node of kind " + ast_kind_to_string(ast_node_kind(t)) + " as a call");
            }
        }

        // code(e1) ... code(en); call Name.f n
        void vm_writer::code_call_as_function(ast t)
        {
            code_subr_call(get_call_as_function_class_name(t), get_call_as_function_subr_call(t), 0);
        }

        // push S i (or push pointer 0 on this); code(e1) ... code(en);
        // call T.f n+1
        void vm_writer::code_call_as_method(ast t)
        {
            const ast object = get_call_as_method_var(t);
            if (ast_node_kind(object) == ast_this)
                line("push", "pointer", 0);
            else
                code_var(object);
            code_subr_call(get_call_as_method_class_name(t), get_call_as_method_subr_call(t), 1);
        }

        void vm_writer::code_subr_call(const std::string &name, ast t, int extra_arguments)
        {
            expect(t, ast_subr_call, "a call");
            checked_name(name, "class name");
            const std::string subr = checked_name(get_subr_call_subr_name(t), "subroutine name");
            const ast arguments = get_subr_call_expr_list(t);
            expect(arguments, ast_expr_list, "the arguments");
            const int n = size_of_expr_list(arguments);
            if (n + extra_arguments > vm_word_max)
                refuse("a call of " + quoted(name + "." + subr) + " with " + std::to_string(n + extra_arguments) +
                       " arguments");
            for (int i = 0; i < n; i++)
                code_expr(get_expr_list(arguments, i));
            line("call", name + "." + subr, n + extra_arguments);
        }

        // The four segments of the tree form are the VM segments of the same
        // names.
        const char *vm_writer::segment_of(ast var)
        {
            expect(var, ast_var, "a variable");
            const std::string segment = get_var_segment(var);
            for (const char *known : {"static", "this", "argument", "local"})
                if (segment == known)
                    return known;
            refuse("the segment " + quoted(segment) + " of the variable " + quoted(get_var_name(var)));
        }

        int vm_writer::offset_of(ast var)
        {
            expect(var, ast_var, "a variable");
            const int offset = get_var_offset(var);
            if (offset < 0 || offset > vm_word_max)
                refuse("the offset " + std::to_string(offset) + " of the variable " + quoted(get_var_name(var)));
            return offset;
        }
    }

    std::string vm_code(ast class_tree, const vm_marks *marks)
    {
        ast_mustbe_kind(class_tree, ast_class);
        vm_writer writer(marks);
        return writer.code_class(class_tree);
    }
}
