// Inside the tree library: the node and annotation set objects, the two
// tables that own them, and the checked lookups behind every handle. No
// public header includes this file.
#ifndef AST_NODES_H
#define AST_NODES_H

#include "ast/syntax_tree.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

namespace Jack_Compiler
{
    const uint32_t ast_tag = 239951;
    const uint32_t ann_tag = 2370951;

    // Tables refuse to grow past this many created objects: a pass that loops
    // while building nodes is stopped instead of exhausting memory.
    const size_t object_limit = 1000000;

    struct ast_node
    {
        ast_node(ast_kind k, ann a) : kind(k), annotations(a) {}
        virtual ~ast_node() {}
        // Nodes live as long as the table: they are taken from large blocks
        // one after the other, and the blocks go all at once when the table
        // is emptied (release_node_memory).
        static void *operator new(std::size_t size);
        static void operator delete(void *) noexcept {}
        ast_kind kind;
        ann annotations;
    };

    struct ast_vector_node : ast_node
    {
        ast_vector_node(ast_kind k, ann a, std::vector<ast> e) : ast_node(k, a), elements(std::move(e)) {}
        ~ast_vector_node() override {}
        std::vector<ast> elements;
    };

    struct ast_class_node : ast_node
    {
        ast_class_node(ann a, std::string n, ast s, ast f, ast d)
            : ast_node(ast_class, a), class_name(std::move(n)), statics(s), fields(f), subr_decs(d) {}
        ~ast_class_node() override {}
        std::string class_name;
        ast statics;
        ast fields;
        ast subr_decs;
    };

    // Declarations and uses of variables have the same four fields.
    template <ast_kind K>
    struct variable_node : ast_node
    {
        variable_node(ann a, std::string n, std::string s, int o, std::string t)
            : ast_node(K, a), name(std::move(n)), segment(std::move(s)), offset(o), type(std::move(t)) {}
        ~variable_node() override {}
        std::string name;
        std::string segment;
        int offset;
        std::string type;
    };
    using ast_var_dec_node = variable_node<ast_var_dec>;
    using ast_var_node = variable_node<ast_var>;

    // Constructors, functions and methods have the same four fields.
    template <ast_kind K>
    struct subroutine_node : ast_node
    {
        subroutine_node(ann a, std::string v, std::string n, ast p, ast b)
            : ast_node(K, a), vtype(std::move(v)), name(std::move(n)), param_list(p), subr_body(b) {}
        ~subroutine_node() override {}
        std::string vtype;
        std::string name;
        ast param_list;
        ast subr_body;
    };
    using ast_constructor_node = subroutine_node<ast_constructor>;
    using ast_function_node = subroutine_node<ast_function>;
    using ast_method_node = subroutine_node<ast_method>;

    // Nodes whose fields are only child handles, in field order. Which names
    // the fields have is fixed by the accessor table (ast/accessors.def).
    template <ast_kind K, int N>
    struct children_node : ast_node
    {
        template <typename... Children>
        children_node(ann a, Children... c) : ast_node(K, a), child{c...} {}
        ~children_node() override {}
        ast child[N > 0 ? N : 1];
    };
    using ast_subr_node = children_node<ast_subr, 1>;
    using ast_subr_body_node = children_node<ast_subr_body, 2>;
    using ast_statement_node = children_node<ast_statement, 1>;
    using ast_let_node = children_node<ast_let, 2>;
    using ast_let_array_node = children_node<ast_let_array, 3>;
    using ast_if_node = children_node<ast_if, 2>;
    using ast_if_else_node = children_node<ast_if_else, 3>;
    using ast_while_node = children_node<ast_while, 2>;
    using ast_do_node = children_node<ast_do, 1>;
    using ast_return_node = children_node<ast_return, 0>;
    using ast_return_expr_node = children_node<ast_return_expr, 1>;
    using ast_term_node = children_node<ast_term, 1>;
    using ast_null_node = children_node<ast_null, 0>;
    using ast_this_node = children_node<ast_this, 0>;
    using ast_array_index_node = children_node<ast_array_index, 2>;

    // Nodes holding one value of type T.
    template <ast_kind K, typename T>
    struct value_node : ast_node
    {
        value_node(ann a, T v) : ast_node(K, a), value(std::move(v)) {}
        ~value_node() override {}
        T value;
    };
    using ast_int_node = value_node<ast_int, int>;
    using ast_string_node = value_node<ast_string, std::string>;
    using ast_bool_node = value_node<ast_bool, bool>;
    using ast_infix_op_node = value_node<ast_infix_op, std::string>;

    // Nodes holding a name and child handles: the name, then the children.
    template <ast_kind K, int N>
    struct named_node : ast_node
    {
        template <typename... Children>
        named_node(ann a, std::string n, Children... c) : ast_node(K, a), name(std::move(n)), child{c...} {}
        ~named_node() override {}
        std::string name;
        ast child[N];
    };
    using ast_unary_op_node = named_node<ast_unary_op, 1>;
    using ast_call_as_function_node = named_node<ast_call_as_function, 1>;
    using ast_call_as_method_node = named_node<ast_call_as_method, 2>;
    using ast_subr_call_node = named_node<ast_subr_call, 1>;

    struct ann_node
    {
        ann_node(std::vector<std::string> c, std::vector<std::string> w, std::vector<std::string> e)
            : comments(std::move(c)), warnings(std::move(w)), errors(std::move(e)),
              is_empty(comments.empty() && warnings.empty() && errors.empty()) {}
        virtual ~ann_node() {}
        std::vector<std::string> comments;
        std::vector<std::string> warnings;
        std::vector<std::string> errors;
        bool is_empty;
    };

    extern ast the_empty_ast;
    extern ann the_empty_ann;

    // Sets the library up on first use; every constructor calls it, so the
    // test is inlined and the work is not.
    extern bool tables_initialised;
    void initialise_tables();
    inline void initialise()
    {
        if (!tables_initialised)
            initialise_tables();
    }

    // A table of objects that only grows, by realloc: the C library moves a
    // large block by remapping its pages instead of copying them into fresh
    // ones, so a table of a hundred thousand entries costs the pages of its
    // entries and no more, where a doubling vector would touch every page
    // twice over.
    template <typename Object>
    class object_table
    {
    public:
        std::size_t size() const { return count; }
        Object *operator[](std::size_t i) const { return entries[i]; }
        Object *const *begin() const { return entries; }
        Object *const *end() const { return entries + count; }

        void push_back(Object *object)
        {
            if (count == capacity)
                grow();
            entries[count++] = object;
        }

        // Forgets every entry and gives the memory back.
        void clear()
        {
            std::free(entries);
            entries = nullptr;
            count = capacity = 0;
        }

    private:
        void grow()
        {
            const std::size_t larger = capacity == 0 ? 1024 : capacity * 2;
            void *moved = std::realloc(entries, larger * sizeof(Object *));
            if (moved == nullptr)
                throw std::bad_alloc();
            entries = static_cast<Object **>(moved);
            capacity = larger;
        }

        Object **entries = nullptr;
        std::size_t count = 0;
        std::size_t capacity = 0;
    };

    // The node and annotation set tables; empty until the library is first
    // used. Entries are only appended, and a handle's upper half is its
    // index.
    extern object_table<ast_node> ast_nodes;
    extern object_table<ann_node> ann_nodes;

    // What get_node and valid_ast do when their inlined test does not
    // decide: the handle is null, invalid or the library not yet set up.
    ast_node *get_node_checked(ast t, const char *caller);
    bool valid_ast_checked(ast t);
    bool valid_ann_checked(ann a);

    // The node behind a handle; an invalid handle ends the program with
    // caller + " passed an invalid ast". Lookups happen for every node a
    // pass or the writer visits, so a valid handle is looked up in place.
    inline ast_node *get_node(ast t, const char *caller)
    {
        const uintptr_t bits = reinterpret_cast<uintptr_t>(t);
        const uint64_t index = static_cast<uint64_t>(bits) >> 32;
        if (static_cast<uint32_t>(bits) == ast_tag && index < ast_nodes.size())
            return ast_nodes[index];
        return get_node_checked(t, caller);
    }

    ast new_node(ast_node *node);
    ann_node *get_ann_node(ann a, const char *caller);
    ann new_ann_node(ann_node *set);

    // Whether a handle names a node (or set) without ending the program; the
    // writer turns bad handles into error elements instead.
    inline bool valid_ast(ast t)
    {
        const uintptr_t bits = reinterpret_cast<uintptr_t>(t);
        if (static_cast<uint32_t>(bits) == ast_tag && (static_cast<uint64_t>(bits) >> 32) < ast_nodes.size())
            return true;
        return valid_ast_checked(t);
    }
    inline bool valid_ann(ann a)
    {
        const uintptr_t bits = reinterpret_cast<uintptr_t>(a);
        if (static_cast<uint32_t>(bits) == ann_tag && (static_cast<uint64_t>(bits) >> 32) < ann_nodes.size())
            return true;
        return valid_ann_checked(a);
    }

    // The rule of ast_have_kind: a node of kind actual may stand where one of
    // kind wanted is expected.
    bool kind_compatible(ast_kind actual, ast_kind wanted);

    // The two halves of a handle as signed 32-bit numbers.
    // The reader takes standard input a byte at a time through the C
    // library instead of scanning the stream's buffer in place: the path of
    // every C library but glibc, which tests use to compare the two.
    void xml_read_stdin_bytewise(bool bytewise);

    // Frees the blocks the nodes were taken from; every node must have been
    // destroyed first.
    void release_node_memory();

    int32_t handle_index(const void *handle);
    int32_t handle_tag(const void *handle);

    // Forgets the XML reader's look-ahead (part of reset_tree_library).
    void reset_xml_reader();
}

#endif
