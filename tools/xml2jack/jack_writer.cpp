#include "tools/xml2jack/jack_writer.h"
#include "iobuffer/iobuffer.h"

#include <vector>

using namespace Jack_Compiler;
using Lum_IO_Buffers::fatal_error;

namespace Jack_Source
{
    namespace
    {
        class writer
        {
        public:
            std::string out;

            void class_dec(ast c);

        private:
            // Line-level output.
            void line(int level, const std::string &text);
            void annotation_lines(int level, ann a);
            void statements(int level, ast list);
            void statement(int level, ast s);
            void block(int level, const std::string &head, ast body, const std::string &tail);
            void subroutine(int level, ast subr);
            void var_dec_line(int level, const std::string &keyword, ast dec);

            // Text inside a line; warnings and errors of the nodes met are
            // kept and written as line comments above the line.
            std::string inline_ann(ann a);
            std::string expression(ast e);
            std::string term(ast t);
            std::string call(ast c);
            std::string expression_list(ast list);

            std::vector<std::string> notes_;
        };

        [[noreturn]] void unwritable(const std::string &what, const std::string &text)
        {
            fatal_error(1, "xml2jack: " + what + " cannot be written in Jack: \"" + text + "\"");
        }

        std::string comment(const std::string &text)
        {
            if (text.find("*/") != std::string::npos)
                unwritable("a comment holding \"*/\"", text);
            return "/** " + text + " */";
        }

        // Warnings and errors may span lines: each line is a line comment.
        void note_lines(std::vector<std::string> &into, const std::string &label, const std::string &text)
        {
            size_t start = 0;
            for (;;)
            {
                size_t end = text.find_first_of("\r\n", start);
                into.push_back("// " + label + ": " + text.substr(start, end - start));
                if (end == std::string::npos)
                    return;
                start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
            }
        }

        void writer::line(int level, const std::string &text)
        {
            const std::string indent(4 * level, ' ');
            for (const std::string &note : notes_)
                out += indent + note + "\n";
            notes_.clear();
            out += indent + text + "\n";
        }

        void writer::annotation_lines(int level, ann a)
        {
            const std::string indent(4 * level, ' ');
            for (int i = 0; i < size_of_ann_comments(a); i++)
                out += indent + comment(get_ann_comments(a, i)) + "\n";
            std::vector<std::string> lines;
            for (int i = 0; i < size_of_ann_warnings(a); i++)
                note_lines(lines, "warning", get_ann_warnings(a, i));
            for (int i = 0; i < size_of_ann_errors(a); i++)
                note_lines(lines, "error", get_ann_errors(a, i));
            for (const std::string &l : lines)
                out += indent + l + "\n";
        }

        std::string writer::inline_ann(ann a)
        {
            std::string text;
            for (int i = 0; i < size_of_ann_comments(a); i++)
                text += comment(get_ann_comments(a, i)) + " ";
            for (int i = 0; i < size_of_ann_warnings(a); i++)
                note_lines(notes_, "warning", get_ann_warnings(a, i));
            for (int i = 0; i < size_of_ann_errors(a); i++)
                note_lines(notes_, "error", get_ann_errors(a, i));
            return text;
        }

        void writer::var_dec_line(int level, const std::string &keyword, ast dec)
        {
            annotation_lines(level, get_ann(dec));
            line(level, keyword + " " + get_var_dec_type(dec) + " " + get_var_dec_name(dec) + ";");
        }

        void writer::class_dec(ast c)
        {
            annotation_lines(0, get_ann(c));
            line(0, "class " + get_class_class_name(c) + " {");
            bool anything = false;
            const std::pair<ast, const char *> sections[] = {{get_class_statics(c), "static"},
                                                            {get_class_fields(c), "field"}};
            for (const auto &section : sections)
            {
                annotation_lines(1, get_ann(section.first));
                for (int i = 0; i < size_of_class_var_decs(section.first); i++)
                {
                    var_dec_line(1, section.second, get_class_var_decs(section.first, i));
                    anything = true;
                }
            }
            const ast subroutines = get_class_subr_decs(c);
            annotation_lines(1, get_ann(subroutines));
            for (int i = 0; i < size_of_subr_decs(subroutines); i++)
            {
                if (anything)
                    out += "\n";
                subroutine(1, get_subr_decs(subroutines, i));
                anything = true;
            }
            line(0, "}");
        }

        void writer::subroutine(int level, ast wrapper)
        {
            annotation_lines(level, get_ann(wrapper));
            const ast s = get_subr_subr(wrapper);
            annotation_lines(level, get_ann(s));
            std::string keyword, vtype, name;
            ast params, body;
            switch (ast_node_kind(s))
            {
            case ast_constructor:
                keyword = "constructor", vtype = get_constructor_vtype(s), name = get_constructor_name(s);
                params = get_constructor_param_list(s), body = get_constructor_subr_body(s);
                break;
            case ast_function:
                keyword = "function", vtype = get_function_vtype(s), name = get_function_name(s);
                params = get_function_param_list(s), body = get_function_subr_body(s);
                break;
            default:
                keyword = "method", vtype = get_method_vtype(s), name = get_method_name(s);
                params = get_method_param_list(s), body = get_method_subr_body(s);
                break;
            }
            std::string head = keyword + " " + vtype + " " + name + "(" + inline_ann(get_ann(params));
            for (int i = 0; i < size_of_param_list(params); i++)
            {
                const ast p = get_param_list(params, i);
                head += (i > 0 ? ", " : "") + inline_ann(get_ann(p)) + get_var_dec_type(p) + " " + get_var_dec_name(p);
            }
            line(level, head + ") {");

            // A body built without declarations is a bare statement list.
            if (ast_node_kind(body) == ast_subr_body)
            {
                annotation_lines(level + 1, get_ann(body));
                const ast decs = get_subr_body_decs(body);
                annotation_lines(level + 1, get_ann(decs));
                for (int i = 0; i < size_of_var_decs(decs); i++)
                    var_dec_line(level + 1, "var", get_var_decs(decs, i));
                body = get_subr_body_body(body);
            }
            statements(level + 1, body);
            line(level, "}");
        }

        void writer::statements(int level, ast list)
        {
            annotation_lines(level, get_ann(list));
            for (int i = 0; i < size_of_statements(list); i++)
                statement(level, get_statements(list, i));
        }

        void writer::block(int level, const std::string &head, ast body, const std::string &tail)
        {
            line(level, head + " {");
            statements(level + 1, body);
            if (!tail.empty())
                line(level, tail);
        }

        void writer::statement(int level, ast wrapper)
        {
            annotation_lines(level, get_ann(wrapper));
            const ast s = get_statement_statement(wrapper);
            annotation_lines(level, get_ann(s));
            switch (ast_node_kind(s))
            {
            case ast_let:
                line(level, "let " + term(get_let_var(s)) + " = " + expression(get_let_expr(s)) + ";");
                return;
            case ast_let_array:
                line(level, "let " + term(get_let_array_var(s)) + "[" + expression(get_let_array_index(s)) +
                                "] = " + expression(get_let_array_expr(s)) + ";");
                return;
            case ast_if:
                block(level, "if (" + expression(get_if_condition(s)) + ")", get_if_if_true(s), "}");
                return;
            case ast_if_else:
                block(level, "if (" + expression(get_if_else_condition(s)) + ")", get_if_else_if_true(s), "");
                block(level, "} else", get_if_else_if_false(s), "}");
                return;
            case ast_while:
                block(level, "while (" + expression(get_while_condition(s)) + ")", get_while_body(s), "}");
                return;
            case ast_do:
                line(level, "do " + call(get_do_call(s)) + ";");
                return;
            case ast_return:
                line(level, "return;");
                return;
            case ast_return_expr:
                line(level, "return " + expression(get_return_expr(s)) + ";");
                return;
            case ast_statements:
                statements(level, s);
                return;
            default:
                fatal_error(1, "xml2jack: a statement cannot be a node of kind " + ast_kind_to_string(ast_node_kind(s)));
            }
        }

        std::string writer::expression(ast e)
        {
            std::string text = inline_ann(get_ann(e));
            for (int i = 0; i < size_of_expr(e); i++)
            {
                const ast element = get_expr(e, i);
                if (i % 2 == 0)
                    text += term(element);
                else
                    text += " " + inline_ann(get_ann(element)) + get_infix_op_op(element) + " ";
            }
            return text;
        }

        std::string writer::term(ast t)
        {
            std::string text = inline_ann(get_ann(t));
            switch (ast_node_kind(t))
            {
            case ast_term:
                return text + term(get_term_term(t));
            case ast_expr:
                return text + "(" + expression(t) + ")";
            case ast_int:
            {
                // Folding leaves negative constants, which Jack has no literal
                // for: they are written as operators on a positive constant.
                const long value = get_int_constant(t);
                if (value == -32768)
                    return text + "~32767";
                return text + (value < 0 ? "-" + std::to_string(-value) : std::to_string(value));
            }
            case ast_string:
            {
                const std::string s = get_string_constant(t);
                if (s.find_first_of("\"\r\n") != std::string::npos)
                    unwritable("a string constant holding a double quote or a line break", s);
                return text + "\"" + s + "\"";
            }
            case ast_bool:
                return text + (get_bool_t_or_f(t) ? "true" : "false");
            case ast_null:
                return text + "null";
            case ast_this:
                return text + "this";
            case ast_var:
                return text + get_var_name(t);
            case ast_unary_op:
                return text + get_unary_op_op(t) + term(get_unary_op_term(t));
            case ast_array_index:
                return text + term(get_array_index_var(t)) + "[" + expression(get_array_index_index(t)) + "]";
            case ast_call_as_function:
            case ast_call_as_method:
                return text + call(t);
            default:
                fatal_error(1, "xml2jack: a term cannot be a node of kind " + ast_kind_to_string(ast_node_kind(t)));
            }
        }

        std::string writer::call(ast c)
        {
            std::string text = inline_ann(get_ann(c));
            ast subr_call;
            if (ast_node_kind(c) == ast_call_as_function)
            {
                text += get_call_as_function_class_name(c) + ".";
                subr_call = get_call_as_function_subr_call(c);
            }
            else
            {
                // A call on this is written as a plain name.
                const ast object = get_call_as_method_var(c);
                if (ast_node_kind(object) == ast_var)
                    text += term(object) + ".";
                else
                    text += inline_ann(get_ann(object));
                subr_call = get_call_as_method_subr_call(c);
            }
            return text + inline_ann(get_ann(subr_call)) + get_subr_call_subr_name(subr_call) + "(" +
                   expression_list(get_subr_call_expr_list(subr_call)) + ")";
        }

        std::string writer::expression_list(ast list)
        {
            std::string text = inline_ann(get_ann(list));
            for (int i = 0; i < size_of_expr_list(list); i++)
                text += (i > 0 ? ", " : "") + expression(get_expr_list(list, i));
            return text;
        }
    }

    std::string jack_text(ast class_tree)
    {
        writer w;
        w.class_dec(class_tree);
        return w.out;
    }
}
