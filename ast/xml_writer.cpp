// Writes a tree in the XML tree form through the output stream.
//
// The writer never stops the program because of a bad node: an invalid
// handle, the empty node or a kind it has no element for becomes an error
// element in the output and the rest of the tree is written as usual.
#include "ast/nodes.h"
#include "iobuffer/error_context.h"
#include "iobuffer/iobuffer.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

using Lum_IO_Buffers::pop_error_context;
using Lum_IO_Buffers::push_error_context;
using Lum_IO_Buffers::write_to_output;

namespace Jack_Compiler
{
    namespace
    {
        // The text is gathered and handed to the output stream in pieces of
        // about this size: the bytes are those of one write per tag, at a
        // fraction of the calls. Every piece is handed over before anything
        // can end the program, and the piece that crosses the output volume
        // limit is handed over on its own, so the output stops exactly where
        // one write per piece would stop it.
        const size_t chunk_size = 65536;
        // Text that is only counted needs no more than a few pages at a time.
        const size_t counted_chunk_size = 4096;

        // An element name and its length, known where the name is written.
        // The name is held in a fixed block of bytes, so that it is copied
        // into the text by one fixed-size move rather than a call.
        struct tag
        {
            static const size_t longest = 16;

            constexpr tag() : text{}, size(0) {}
            template <size_t N>
            constexpr tag(const char (&literal)[N]) : text{}, size(N - 1)
            {
                static_assert(N - 1 <= longest, "element names are at most 16 bytes");
                for (size_t i = 0; i + 1 < N; i++)
                    text[i] = literal[i];
            }
            char text[longest + 1];  // terminated, for the error contexts
            size_t size;
        };

        // The element of each kind that has one, by kind; no name for the
        // empty node and for the kinds that are never nodes.
        constexpr tag name_of_element(ast_kind k)
        {
            switch (k)
            {
            case ast_class: return "class";
            case ast_class_var_decs: return "class-var-decs";
            case ast_var_dec: return "var-dec";
            case ast_subr_decs: return "subr-decs";
            case ast_subr: return "subr";
            case ast_constructor: return "constructor";
            case ast_function: return "function";
            case ast_method: return "method";
            case ast_param_list: return "param-list";
            case ast_subr_body: return "subr-body";
            case ast_var_decs: return "var-decs";
            case ast_statements: return "statements";
            case ast_statement: return "statement";
            case ast_let: return "let";
            case ast_let_array: return "let-array";
            case ast_if: return "if";
            case ast_if_else: return "if-else";
            case ast_while: return "while";
            case ast_do: return "do";
            case ast_return: return "return";
            case ast_return_expr: return "return-expr";
            case ast_expr_list: return "expr-list";
            case ast_expr: return "expr";
            case ast_term: return "term";
            case ast_int: return "int";
            case ast_string: return "string";
            case ast_bool: return "bool";
            case ast_null: return "null";
            case ast_this: return "this";
            case ast_unary_op: return "unary-op";
            case ast_var: return "var";
            case ast_array_index: return "array-index";
            case ast_call_as_function: return "call-as-function";
            case ast_call_as_method: return "call-as-method";
            case ast_subr_call: return "subr-call";
            case ast_infix_op: return "op";
            default: return tag();
            }
        }

        // The names by kind, made once, so that a node's name is looked up
        // rather than built.
        struct element_names
        {
            tag by_kind[ast_omega - ast_alpha + 1];
        };

        constexpr element_names make_element_names()
        {
            element_names names{};
            for (int k = ast_alpha; k <= ast_omega; k++)
                names.by_kind[k - ast_alpha] = name_of_element(static_cast<ast_kind>(k));
            return names;
        }

        constexpr element_names all_element_names = make_element_names();
        constexpr tag no_element;

        const tag &element_name(ast_kind k)
        {
            return k >= ast_alpha && k <= ast_omega ? all_element_names.by_kind[k - ast_alpha] : no_element;
        }

        // The error context pushed around each element of a list kind.
        const char *list_context(ast_kind k)
        {
            switch (k)
            {
            case ast_class_var_decs: return "printing class-var-decs index: ";
            case ast_subr_decs: return "printing subr-decs index: ";
            case ast_param_list: return "printing param-list index: ";
            case ast_var_decs: return "printing var-decs index: ";
            case ast_statements: return "printing statements index: ";
            case ast_expr_list: return "printing expr-list index: ";
            case ast_expr: return "printing expr index: ";
            default: return nullptr;
            }
        }

        // The children of a node that is not a list, in field order, into
        // out; returns how many there are.
        int children_of(ast_node *n, ast out[3])
        {
            switch (n->kind)
            {
            case ast_class:
            {
                const ast_class_node *c = static_cast<ast_class_node *>(n);
                out[0] = c->statics;
                out[1] = c->fields;
                out[2] = c->subr_decs;
                return 3;
            }
            case ast_constructor:
                out[0] = static_cast<ast_constructor_node *>(n)->param_list;
                out[1] = static_cast<ast_constructor_node *>(n)->subr_body;
                return 2;
            case ast_function:
                out[0] = static_cast<ast_function_node *>(n)->param_list;
                out[1] = static_cast<ast_function_node *>(n)->subr_body;
                return 2;
            case ast_method:
                out[0] = static_cast<ast_method_node *>(n)->param_list;
                out[1] = static_cast<ast_method_node *>(n)->subr_body;
                return 2;
#define CHILDREN(node_class, count)                                 \
    for (int i = 0; i < count; i++)                                 \
        out[i] = static_cast<node_class *>(n)->child[i];            \
    return count
            case ast_subr: CHILDREN(ast_subr_node, 1);
            case ast_subr_body: CHILDREN(ast_subr_body_node, 2);
            case ast_statement: CHILDREN(ast_statement_node, 1);
            case ast_let: CHILDREN(ast_let_node, 2);
            case ast_let_array: CHILDREN(ast_let_array_node, 3);
            case ast_if: CHILDREN(ast_if_node, 2);
            case ast_if_else: CHILDREN(ast_if_else_node, 3);
            case ast_while: CHILDREN(ast_while_node, 2);
            case ast_do: CHILDREN(ast_do_node, 1);
            case ast_return_expr: CHILDREN(ast_return_expr_node, 1);
            case ast_term: CHILDREN(ast_term_node, 1);
            case ast_array_index: CHILDREN(ast_array_index_node, 2);
            case ast_unary_op: CHILDREN(ast_unary_op_node, 1);
            case ast_call_as_function: CHILDREN(ast_call_as_function_node, 1);
            case ast_call_as_method: CHILDREN(ast_call_as_method_node, 2);
            case ast_subr_call: CHILDREN(ast_subr_call_node, 1);
#undef CHILDREN
            default:
                return 0;
            }
        }

        // Where the writer stands: one link per node being written, kept in
        // the frames of the recursion. The error contexts that describe this
        // position matter only to a fatal error report, so they are pushed
        // onto the real stack only when one is about to be made, instead of
        // building and sanitising a string for every tag. Only naming a kind
        // outside the enumeration can end the program while a tree is
        // written (the volume limit reports no contexts), so the contexts of
        // annotation elements, where nothing can fail, are never needed.
        struct position
        {
            const position *parent;  // the node whose element holds this one
            const char *list_text;   // this node's list context, if it is a list element
            int index;
            const ast_node *node;    // set once the node's element is open
            const char *element;
        };

        // Pushes the contexts of every node on the way to p, then p's own list
        // context: those the writer would hold on starting to write p.
        void push_contexts_to(const position &p)
        {
            if (p.parent != nullptr)
            {
                push_contexts_to(*p.parent);
                push_error_context("print_ast(" + ast_kind_to_string(p.parent->node->kind) + ")");
                push_error_context(std::string("printing xml tag: ") + p.parent->element);
            }
            if (p.list_text != nullptr)
                push_error_context(p.list_text + std::to_string(p.index));
        }

        // Bytes that stand for themselves in a text value: everything but the
        // five markup characters and the control bytes. Bytes 128 to 255 are
        // kept as they are, so UTF-8 text survives a round trip untouched.
        bool plain(unsigned char c)
        {
            return c >= 32 && c != 127 && c != '"' && c != '&' && c != '\'' && c != '<' && c != '>';
        }

        // The text being gathered, written through a pointer: its room is
        // checked once a piece rather than once a byte, and it is never kept
        // terminated. Its bytes are left uninitialised until written, so a
        // small tree touches no more memory than its text.
        class text_buffer
        {
        public:
            explicit text_buffer(size_t capacity) : bytes(new char[capacity]), capacity(capacity) {}

            size_t size() const { return used; }
            bool empty() const { return used == 0; }
            const char *data() const { return bytes.get(); }
            void clear() { used = 0; }

            void append(char c)
            {
                *room_for(1) = c;
                used++;
            }

            void append(const char *p, size_t n)
            {
                std::memcpy(room_for(n), p, n);
                used += n;
            }

            template <size_t N>
            void append_literal(const char (&literal)[N])
            {
                append(literal, N - 1);
            }

            void append(const tag &name)
            {
                std::memcpy(room_for(tag::longest), name.text, tag::longest);
                used += name.size;
            }

            // Indentation, thirty-two blanks a store; the stores may run up
            // to 31 bytes past the blanks asked for, into room the next piece
            // overwrites.
            void append_blanks(size_t n)
            {
                static const char blanks[] = "                                ";
                char *p = room_for(n + 32);
                for (size_t i = 0; i < n; i += 32)
                    std::memcpy(p + i, blanks, 32);
                used += n;
            }

        private:
            char *room_for(size_t n)
            {
                if (__builtin_expect(capacity - used < n, 0))
                    grow(n);
                return bytes.get() + used;
            }

            [[gnu::noinline]] void grow(size_t n)
            {
                const size_t larger = std::max(capacity * 2, used + n);
                std::unique_ptr<char[]> moved(new char[larger]);
                std::memcpy(moved.get(), bytes.get(), used);
                bytes = std::move(moved);
                capacity = larger;
            }

            std::unique_ptr<char[]> bytes;  // the text is the first used bytes
            size_t capacity;
            size_t used = 0;
        };

        // The recursion runs once per tree level, so only what every level
        // needs stays in node(); the rest is kept out of its frame.
        class xml_writer
        {
        public:
            // Where the text goes: to the output stream (ast_print_as_xml),
            // kept whole (ast_xml_text) or only counted (ast_xml_measure);
            // the volume limit applies to the output stream alone.
            enum class destination { output, kept, counted };

            xml_writer(int step_width, destination to)
                : step(step_width > 0 ? static_cast<size_t>(step_width) : 0), where(to),
                  room(to == destination::output ? volume_left() : static_cast<size_t>(-1)),
                  chunk(to == destination::counted ? counted_chunk_size : chunk_size), text(chunk + 1024)
            {
            }

            void node(ast t, size_t depth, position &here);

            [[gnu::noinline]] void flush()
            {
                if (where == destination::kept)
                    return;
                if (where == destination::counted)
                {
                    // Values have their "<" escaped, so every one left opens a tag.
                    counted.bytes += text.size();
                    counted.tags += static_cast<size_t>(std::count(text.data(), text.data() + text.size(), '<'));
                }
                else if (!text.empty())
                    write_to_output(std::string(text.data(), text.size()));
                text.clear();
                if (where == destination::output)
                    room = volume_left();
            }

            std::string take()
            {
                return std::string(text.data(), text.size());
            }

            xml_text_size total()
            {
                flush();
                return counted;
            }

        private:
            static size_t volume_left()
            {
                const long long left = Lum_IO_Buffers::output_volume_left();
                return left < 0 ? 0 : static_cast<size_t>(left);
            }

            // Called after each piece a write of its own would have handed
            // over (an indentation, "<", a tag name, a value, a line end):
            // the piece that takes the text past the volume left goes out
            // with what came before it, and ends the program there.
            void piece_written()
            {
                if (__builtin_expect(text.size() > room, 0))
                    flush();
            }

            // A line that ends at most n bytes on stays within the volume
            // left, so none of its pieces can cross the limit: it is written
            // without the checks between them (checked false).
            bool line_fits(size_t n) const
            {
                return n <= room - text.size();
            }

            template <bool checked>
            void piece()
            {
                if (checked)
                    piece_written();
            }

            template <bool checked>
            void indent(size_t depth)
            {
                text.append_blanks(depth * step);
                piece<checked>();
            }

            template <bool checked>
            void end_line()
            {
                if (step != 0)
                {
                    text.append('\n');
                    piece<checked>();
                }
                if (text.size() >= chunk)
                    flush();
            }

            // Element names are fixed words of letters and hyphens, which
            // escaping would leave as they are.
            template <bool checked, bool closing>
            void tag_line(const tag &name, size_t depth)
            {
                indent<checked>(depth);
                if (closing)
                    text.append_literal("</");
                else
                    text.append('<');
                piece<checked>();
                text.append(name);
                piece<checked>();
                text.append('>');
                piece<checked>();
                end_line<checked>();
            }

            template <bool closing>
            [[gnu::noinline]] void tag_line(const tag &name, size_t depth)
            {
                if (line_fits(depth * step + name.size + 4))
                    tag_line<false, closing>(name, depth);
                else
                    tag_line<true, closing>(name, depth);
            }

            void open_tag(const tag &name, size_t depth)
            {
                tag_line<false>(name, depth);
            }

            void close_tag(const tag &name, size_t depth)
            {
                tag_line<true>(name, depth);
            }

            // A text element's line: its open tag and close tag are one piece
            // each, the value between them is one more. An escaped byte
            // takes at most six.
            void string_tag(const tag &name, const std::string &value, size_t depth)
            {
                if (line_fits(depth * step + 2 * name.size + 6 + 6 * value.size()))
                    string_line<false>(name, value, depth);
                else
                    string_line<true>(name, value, depth);
            }

            template <bool checked>
            void string_line(const tag &name, const std::string &value, size_t depth)
            {
                start_text_element<checked>(name, depth);
                escaped(value);
                end_text_element<checked>(name);
            }

            void int_tag(const tag &name, int value, size_t depth)
            {
                if (line_fits(depth * step + 2 * name.size + 6 + 11))
                    int_line<false>(name, value, depth);
                else
                    int_line<true>(name, value, depth);
            }

            template <bool checked>
            void int_line(const tag &name, int value, size_t depth)
            {
                start_text_element<checked>(name, depth);
                char digits[16];
                text.append(digits, static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits));
                end_text_element<checked>(name);
            }

            template <bool checked>
            void start_text_element(const tag &name, size_t depth)
            {
                indent<checked>(depth);
                text.append('<');
                text.append(name);
                text.append('>');
                piece<checked>();
            }

            template <bool checked>
            void end_text_element(const tag &name)
            {
                piece<checked>();
                text.append_literal("</");
                text.append(name);
                text.append('>');
                piece<checked>();
                end_line<checked>();
            }

            void escaped(const std::string &value);
            [[gnu::noinline]] void annotations(ann a, size_t depth);
            [[gnu::noinline]] void leading_fields(ast_node *n, size_t depth);
            [[gnu::noinline]] void error_element(ast t, ast_node *n, size_t depth, const position &here);

            // Declarations and uses of variables carry the same four fields,
            // which the form orders segment, name, offset, type.
            template <typename Variable>
            void variable_fields(const Variable *v, size_t depth)
            {
                string_tag("var-segment", v->segment, depth);
                string_tag("var-name", v->name, depth);
                int_tag("var-offset", v->offset, depth);
                string_tag("var-type", v->type, depth);
            }

            template <typename Subroutine>
            void subroutine_fields(const Subroutine *s, size_t depth)
            {
                string_tag("vtype", s->vtype, depth);
                string_tag("name", s->name, depth);
            }

            const size_t step;
            const destination where;
            xml_text_size counted{0, 0};
            size_t room;  // bytes the output stream takes before the volume limit
            const size_t chunk;  // the text is handed on once it is this long
            text_buffer text;
        };

        void xml_writer::escaped(const std::string &value)
        {
            const char *p = value.data();
            const char *const end = p + value.size();
            while (p != end)
            {
                const char *run = p;
                while (p != end && plain(static_cast<unsigned char>(*p)))
                    p++;
                text.append(run, static_cast<size_t>(p - run));
                if (p == end)
                    break;
                switch (*p)
                {
                case '"': text.append_literal("&quot;"); break;
                case '&': text.append_literal("&amp;"); break;
                case '\'': text.append_literal("&apos;"); break;
                case '<': text.append_literal("&lt;"); break;
                case '>': text.append_literal("&gt;"); break;
                default:
                {
                    char digits[4];
                    text.append_literal("&#");
                    const char *digits_end =
                        std::to_chars(digits, digits + sizeof digits, static_cast<unsigned char>(*p)).ptr;
                    text.append(digits, static_cast<size_t>(digits_end - digits));
                    text.append(';');
                }
                }
                p++;
            }
        }

        void xml_writer::annotations(ann a, size_t depth)
        {
            if (a == the_empty_ann)
                return;
            if (!valid_ann(a))
            {
                string_tag("error",
                           "Error - found invalid ann node id (ann node: [" + std::to_string(handle_index(a)) + "," +
                               std::to_string(handle_tag(a)) + "]) !",
                           depth);
                return;
            }
            const ann_node *set = get_ann_node(a, "print_ann");
            if (set->comments.empty() && set->warnings.empty() && set->errors.empty())
                return;
            open_tag("annotation", depth);
            for (const std::string &entry : set->comments)
                string_tag("ann-comment", entry, depth + 1);
            for (const std::string &entry : set->warnings)
                string_tag("ann-warning", entry, depth + 1);
            for (const std::string &entry : set->errors)
                string_tag("ann-error", entry, depth + 1);
            close_tag("annotation", depth);
        }

        // The annotation element and the text fields of a node: in every
        // kind they come before its children.
        void xml_writer::leading_fields(ast_node *n, size_t depth)
        {
            if (n->annotations != the_empty_ann)
                annotations(n->annotations, depth);
            switch (n->kind)
            {
            case ast_class:
                string_tag("class-name", static_cast<ast_class_node *>(n)->class_name, depth);
                break;
            case ast_var_dec:
                variable_fields(static_cast<ast_var_dec_node *>(n), depth);
                break;
            case ast_var:
                variable_fields(static_cast<ast_var_node *>(n), depth);
                break;
            case ast_constructor:
                subroutine_fields(static_cast<ast_constructor_node *>(n), depth);
                break;
            case ast_function:
                subroutine_fields(static_cast<ast_function_node *>(n), depth);
                break;
            case ast_method:
                subroutine_fields(static_cast<ast_method_node *>(n), depth);
                break;
            case ast_int:
                int_tag("ic", static_cast<ast_int_node *>(n)->value, depth);
                break;
            case ast_string:
                string_tag("sc", static_cast<ast_string_node *>(n)->value, depth);
                break;
            case ast_bool:
                string_tag("tf", static_cast<ast_bool_node *>(n)->value ? "true" : "false", depth);
                break;
            case ast_infix_op:
                string_tag("i-op", static_cast<ast_infix_op_node *>(n)->value, depth);
                break;
            case ast_unary_op:
                string_tag("op", static_cast<ast_unary_op_node *>(n)->name, depth);
                break;
            case ast_call_as_function:
                string_tag("class-name", static_cast<ast_call_as_function_node *>(n)->name, depth);
                break;
            case ast_call_as_method:
                string_tag("class-name", static_cast<ast_call_as_method_node *>(n)->name, depth);
                break;
            case ast_subr_call:
                string_tag("subr-name", static_cast<ast_subr_call_node *>(n)->name, depth);
                break;
            default:
                break;
            }
        }

        // What stands in place of a node that has no element of its own: an
        // invalid handle (n is null), the empty node or an unknown kind.
        void xml_writer::error_element(ast t, ast_node *n, size_t depth, const position &here)
        {
            if (n == nullptr)
            {
                string_tag("error",
                           "Error - found invalid ast node id (ast node: [" + std::to_string(handle_index(t)) + "," +
                               std::to_string(handle_tag(t)) + "]) !",
                           depth);
                return;
            }
            if (n->kind == ast_empty)
            {
                string_tag("empty", "Error - found an empty node !", depth);
                return;
            }
            if (n->kind < ast_alpha || n->kind > ast_omega)
            {
                // Naming this kind ends the program: the report shows the
                // contexts of the way here, after all the text written so far.
                flush();
                push_contexts_to(here);
            }
            string_tag("error", "Error - found a node with an unknown node kind (" + ast_kind_to_string(n->kind) + ") !",
                       depth);
        }

        // here comes from the caller with the node's place in its parent;
        // the node and its element are filled in once the element is open.
        void xml_writer::node(ast t, size_t depth, position &here)
        {
            ast_node *n = valid_ast(t) ? get_node(t, "print_ast") : nullptr;
            const tag &element = n != nullptr ? element_name(n->kind) : no_element;
            if (element.size == 0)
            {
                error_element(t, n, depth, here);
                return;
            }

            here.node = n;
            here.element = element.text;
            open_tag(element, depth);
            leading_fields(n, depth + 1);
            if (const char *list_text = list_context(n->kind))
            {
                const std::vector<ast> &elements = static_cast<ast_vector_node *>(n)->elements;
                position child{&here, list_text, 0, nullptr, nullptr};
                for (size_t i = 0; i < elements.size(); i++)
                {
                    child.index = static_cast<int>(i);
                    node(elements[i], depth + 1, child);
                }
            }
            else
            {
                ast children[3];
                const int count = children_of(n, children);
                position child{&here, nullptr, 0, nullptr, nullptr};
                for (int i = 0; i < count; i++)
                    node(children[i], depth + 1, child);
            }
            close_tag(element, depth);
        }
    }

    namespace
    {
        // Writes tree to a writer of the given destination under the context
        // every report of the writer names; finish takes what the writer
        // made, before the context is gone.
        template <typename Finish>
        auto write_tree(ast tree, int step_width, xml_writer::destination to, Finish finish)
        {
            initialise();
            push_error_context("ast_print_as_xml()");
            xml_writer writer(step_width, to);
            position root{nullptr, nullptr, 0, nullptr, nullptr};
            writer.node(tree, 0, root);
            auto result = finish(writer);
            pop_error_context();
            return result;
        }
    }

    void ast_print_as_xml(ast tree, int step_width)
    {
        write_tree(tree, step_width, xml_writer::destination::output, [](xml_writer &writer) {
            writer.flush();
            return true;
        });
    }

    std::string ast_xml_text(ast tree, int step_width)
    {
        return write_tree(tree, step_width, xml_writer::destination::kept,
                          [](xml_writer &writer) { return writer.take(); });
    }

    xml_text_size ast_xml_measure(ast tree, int step_width)
    {
        return write_tree(tree, step_width, xml_writer::destination::counted,
                          [](xml_writer &writer) { return writer.total(); });
    }
}
