// The node model: the two tables, handles, and the questions about kinds.
#include "ast/nodes.h"
#include "iobuffer/iobuffer.h"

using Lum_IO_Buffers::fatal_error;

namespace Jack_Compiler
{
    ast the_empty_ast = nullptr;
    ann the_empty_ann = nullptr;

    // Owned by the process: entries are only appended and never freed, so
    // handles stay valid and shared subtrees need no ownership tracking.
    object_table<ast_node> ast_nodes;
    object_table<ann_node> ann_nodes;

    namespace
    {

        uintptr_t handle_bits(size_t index, uint32_t tag)
        {
            return (static_cast<uintptr_t>(index) << 32) | tag;
        }

        template <typename Handle>
        bool valid_handle(Handle h, uint32_t tag, size_t table_size)
        {
            if (h == nullptr)
                return true;
            const int32_t index = handle_index(h);
            return static_cast<uint32_t>(handle_tag(h)) == tag && index >= 0 &&
                   static_cast<size_t>(index) < table_size;
        }

        const char *const kind_names[] = {
            "ast_alpha", "ast_empty", "ast_class", "ast_class_var_decs", "ast_var_dec", "ast_subr_decs",
            "ast_subr", "ast_constructor", "ast_function", "ast_method", "ast_param_list",
            "ast_subr_body", "ast_var_decs", "ast_statements", "ast_statement", "ast_let",
            "ast_let_array", "ast_if", "ast_if_else", "ast_while", "ast_do", "ast_return",
            "ast_return_expr", "ast_expr_list", "ast_expr", "ast_term", "ast_int", "ast_string",
            "ast_bool", "ast_null", "ast_this", "ast_unary_op", "ast_var", "ast_array_index",
            "ast_call_as_function", "ast_call_as_method", "ast_subr_call", "ast_infix_op",
            "ast_annotation", "ast_oops", "ast_omega"};
        static_assert(sizeof kind_names / sizeof kind_names[0] == ast_omega - ast_alpha + 1,
                      "one name per kind");

    }

    static bool is_list_kind(ast_kind k)
    {
        switch (k)
        {
        case ast_class_var_decs:
        case ast_subr_decs:
        case ast_param_list:
        case ast_var_decs:
        case ast_statements:
        case ast_expr_list:
            return true;
        default:
            return false;
        }
    }

    bool kind_compatible(ast_kind actual, ast_kind wanted)
    {
        return actual == wanted || (actual == ast_empty && is_list_kind(wanted)) ||
               (wanted == ast_let && actual == ast_let_array) || (wanted == ast_if && actual == ast_if_else);
    }

    int32_t handle_index(const void *handle)
    {
        return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle) >> 32));
    }

    int32_t handle_tag(const void *handle)
    {
        return static_cast<int32_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)));
    }

    bool tables_initialised = false;

    void initialise_tables()
    {
        if (tables_initialised)
            return;
        tables_initialised = true;
        the_empty_ann = new_ann_node(new ann_node({}, {}, {}));
        the_empty_ast = new_node(new ast_vector_node(ast_empty, the_empty_ann, {}));
    }

    bool valid_ast_checked(ast t)
    {
        initialise();
        return valid_handle(t, ast_tag, ast_nodes.size());
    }

    bool valid_ann_checked(ann a)
    {
        initialise();
        return valid_handle(a, ann_tag, ann_nodes.size());
    }

    ast_node *get_node_checked(ast t, const char *caller)
    {
        initialise();
        if (t == nullptr)
            return ast_nodes[0];
        if (!valid_handle(t, ast_tag, ast_nodes.size()))
            fatal_error(1, std::string(caller) + " passed an invalid ast");
        return ast_nodes[handle_index(t)];
    }

    ast new_node(ast_node *node)
    {
        initialise();
        const size_t n = ast_nodes.size();
        if (n > object_limit)
            fatal_error(-1, "attempted to create more than 1,000,000 nodes, the program is probably stuck in a loop");
        ast_nodes.push_back(node);
        return reinterpret_cast<ast>(handle_bits(n, ast_tag));
    }

    ann_node *get_ann_node(ann a, const char *caller)
    {
        initialise();
        if (a == nullptr)
            return ann_nodes[0];
        if (!valid_handle(a, ann_tag, ann_nodes.size()))
            fatal_error(1, std::string(caller) + " passed an invalid ann");
        return ann_nodes[handle_index(a)];
    }

    ann new_ann_node(ann_node *set)
    {
        initialise();
        const size_t n = ann_nodes.size();
        if (n > object_limit)
            fatal_error(-1, "attempted to create more than 1,000,000 annotation nodes, the program is probably stuck in a loop");
        ann_nodes.push_back(set);
        return reinterpret_cast<ann>(handle_bits(n, ann_tag));
    }

    ast_kind ast_node_kind(ast t)
    {
        return get_node(t, "ast_node_kind")->kind;
    }

    std::string ast_kind_to_string(ast_kind k)
    {
        if (k < ast_alpha || k > ast_omega)
            fatal_error(1, "ast_kind_to_string was passed unknown kind value");
        return kind_names[k - ast_alpha];
    }

    bool ast_have_kind(ast t, ast_kind k)
    {
        return kind_compatible(get_node(t, "ast_have_kind")->kind, k);
    }

    namespace
    {
        // The blocks nodes are taken from, and the free end of the last one.
        std::vector<char *> *node_blocks = nullptr;
        char *block_free = nullptr;
        std::size_t block_left = 0;
        const std::size_t node_block_size = std::size_t(1) << 20;
    }

    void *ast_node::operator new(std::size_t size)
    {
        const std::size_t align = alignof(std::max_align_t);
        size = (size + align - 1) / align * align;
        if (size > block_left)
        {
            if (node_blocks == nullptr)
                node_blocks = new std::vector<char *>();
            block_free = static_cast<char *>(::operator new(node_block_size));
            node_blocks->push_back(block_free);
            block_left = node_block_size;
        }
        void *node = block_free;
        block_free += size;
        block_left -= size;
        return node;
    }

    void release_node_memory()
    {
        if (node_blocks != nullptr)
            for (char *block : *node_blocks)
                ::operator delete(block);
        delete node_blocks;
        node_blocks = nullptr;
        block_free = nullptr;
        block_left = 0;
    }

    void ast_mustbe_kind(ast t, ast_kind k)
    {
        const ast_kind actual = get_node(t, "ast_mustbe_kind")->kind;
        if (!kind_compatible(actual, k))
            fatal_error(1, "cannot use node of kind " + ast_kind_to_string(actual) + " as a node of kind " +
                               ast_kind_to_string(k));
    }

    ast create_empty()
    {
        initialise();
        return the_empty_ast;
    }

    ast create_empty(ann a)
    {
        initialise();
        if (get_ann_node(a, "create empty")->is_empty)
            return the_empty_ast;
        return new_node(new ast_vector_node(ast_empty, a, {}));
    }

    void reset_tree_library()
    {
        if (tables_initialised)
        {
            for (ast_node *node : ast_nodes)
                delete node;
            release_node_memory();
            for (ann_node *set : ann_nodes)
                delete set;
            ast_nodes.clear();
            ann_nodes.clear();
            tables_initialised = false;
        }
        the_empty_ast = nullptr;
        the_empty_ann = nullptr;
        reset_xml_reader();
    }
}
