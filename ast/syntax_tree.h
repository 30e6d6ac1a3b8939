// The syntax tree of one Jack class.
//
// Callers name nodes and annotation sets only through handles: 64-bit values
// holding a table index in the high half and a per-type tag in the low half,
// checked on every use and never dereferenced. Nodes and annotation sets are
// immutable and live until the process ends, so a tree is a directed acyclic
// graph of handles and passes may share unchanged subtrees freely.
//
// Every misuse (an invalid handle, a node of the wrong kind, an index out of
// range) ends the program through Lum_IO_Buffers::fatal_error with a message
// that begins with the name of the operation that found it.
#ifndef AST_SYNTAX_TREE_H
#define AST_SYNTAX_TREE_H

#include <string>
#include <vector>

namespace Jack_Compiler
{
    // Handle of a tree node; null means the shared empty node.
    typedef struct _ast *ast;
    // Handle of an annotation set; null means the shared empty set.
    typedef struct _ann *ann;

    enum ast_kind
    {
        ast_alpha = 4000,  // lower bound, never a node
        ast_empty = 4001,
        ast_class = 4002,
        ast_class_var_decs = 4003,
        ast_var_dec = 4004,
        ast_subr_decs = 4005,
        ast_subr = 4006,
        ast_constructor = 4007,
        ast_function = 4008,
        ast_method = 4009,
        ast_param_list = 4010,
        ast_subr_body = 4011,
        ast_var_decs = 4012,
        ast_statements = 4013,
        ast_statement = 4014,
        ast_let = 4015,
        ast_let_array = 4016,
        ast_if = 4017,
        ast_if_else = 4018,
        ast_while = 4019,
        ast_do = 4020,
        ast_return = 4021,
        ast_return_expr = 4022,
        ast_expr_list = 4023,
        ast_expr = 4024,
        ast_term = 4025,
        ast_int = 4026,
        ast_string = 4027,
        ast_bool = 4028,
        ast_null = 4029,
        ast_this = 4030,
        ast_unary_op = 4031,
        ast_var = 4032,
        ast_array_index = 4033,
        ast_call_as_function = 4034,
        ast_call_as_method = 4035,
        ast_subr_call = 4036,
        ast_infix_op = 4037,
        ast_annotation = 4038,  // never a node
        ast_oops = 4039,        // never a node
        ast_omega = 4040        // upper bound, never a node
    };

    // ---- Kinds ----------------------------------------------------------

    ast_kind ast_node_kind(ast t);
    std::string ast_kind_to_string(ast_kind k);
    // Whether t may stand where a node of kind k is expected: its own kind,
    // an empty node for a list kind other than ast_expr, an ast_let_array for
    // an ast_let and an ast_if_else for an ast_if.
    bool ast_have_kind(ast t, ast_kind k);
    void ast_mustbe_kind(ast t, ast_kind k);

    ast create_empty();
    ast create_empty(ann a);  // a new empty node when a has entries

    // ---- Annotation sets ------------------------------------------------
    // Immutable: adding or deleting gives a new set (or the shared empty set
    // when nothing is left); empty strings are never stored.

    ann create_ann();
    ann create_ann(std::vector<std::string> comments, std::vector<std::string> warnings,
                   std::vector<std::string> errors);
    ann get_ann(ast t);

    ann add_ann_comments(ann a, std::string comment);
    ann add_ann_warnings(ann a, std::string warning);
    ann add_ann_errors(ann a, std::string error);

    ann delete_ann_comments(ann a, int i);
    ann delete_ann_warnings(ann a, int i);
    ann ann_delete_errors(ann a, int i);

    int size_of_ann_comments(ann a);
    int size_of_ann_warnings(ann a);
    int size_of_ann_errors(ann a);

    std::string get_ann_comments(ann a, int i);
    std::string get_ann_warnings(ann a, int i);
    std::string get_ann_errors(ann a, int i);

    // ---- Constructors and accessors, one group per kind -------------------
    // Every constructor has a form without the annotation argument, meaning
    // the shared empty set. Accessors require exactly their own kind.

    // class: statics and fields hold ast_var_dec lists; an empty child
    // becomes a new empty list of the right kind.
    ast create_class(ann a, std::string class_name, ast statics, ast fields, ast subr_decs);
    ast create_class(std::string class_name, ast statics, ast fields, ast subr_decs);
    std::string get_class_class_name(ast t);
    ast get_class_statics(ast t);
    ast get_class_fields(ast t);
    ast get_class_subr_decs(ast t);

    // class_var_decs: ast_var_dec elements; nested ast_var_decs lists are
    // opened and empty nodes dropped.
    ast create_class_var_decs(ann a, std::vector<ast> elements);
    ast create_class_var_decs(std::vector<ast> elements);
    int size_of_class_var_decs(ast t);
    ast get_class_var_decs(ast t, int i);

    // var_dec: the constructor takes the name before the segment.
    ast create_var_dec(ann a, std::string name, std::string segment, int offset, std::string type);
    ast create_var_dec(std::string name, std::string segment, int offset, std::string type);
    std::string get_var_dec_segment(ast t);
    std::string get_var_dec_name(ast t);
    int get_var_dec_offset(ast t);
    std::string get_var_dec_type(ast t);

    // subr_decs: ast_subr elements.
    ast create_subr_decs(ann a, std::vector<ast> elements);
    ast create_subr_decs(std::vector<ast> elements);
    int size_of_subr_decs(ast t);
    ast get_subr_decs(ast t, int i);

    // subr: wraps an ast_constructor, ast_function or ast_method.
    ast create_subr(ann a, ast subr);
    ast create_subr(ast subr);
    ast get_subr_subr(ast t);

    // constructor, function, method: an empty param_list becomes a new empty
    // ast_param_list, an empty subr_body a new empty ast_statements.
    ast create_constructor(ann a, std::string vtype, std::string name, ast param_list, ast subr_body);
    ast create_constructor(std::string vtype, std::string name, ast param_list, ast subr_body);
    std::string get_constructor_vtype(ast t);
    std::string get_constructor_name(ast t);
    ast get_constructor_param_list(ast t);
    ast get_constructor_subr_body(ast t);

    ast create_function(ann a, std::string vtype, std::string name, ast param_list, ast subr_body);
    ast create_function(std::string vtype, std::string name, ast param_list, ast subr_body);
    std::string get_function_vtype(ast t);
    std::string get_function_name(ast t);
    ast get_function_param_list(ast t);
    ast get_function_subr_body(ast t);

    ast create_method(ann a, std::string vtype, std::string name, ast param_list, ast subr_body);
    ast create_method(std::string vtype, std::string name, ast param_list, ast subr_body);
    std::string get_method_vtype(ast t);
    std::string get_method_name(ast t);
    ast get_method_param_list(ast t);
    ast get_method_subr_body(ast t);

    // param_list: ast_var_dec elements.
    ast create_param_list(ann a, std::vector<ast> elements);
    ast create_param_list(std::vector<ast> elements);
    int size_of_param_list(ast t);
    ast get_param_list(ast t, int i);

    // subr_body: empty decs become a new empty ast_var_decs, an empty body a
    // new empty ast_statements.
    ast create_subr_body(ann a, ast decs, ast body);
    ast create_subr_body(ast decs, ast body);
    ast get_subr_body_decs(ast t);
    ast get_subr_body_body(ast t);

    // var_decs: ast_var_dec elements; nested ast_var_decs lists are opened
    // and empty nodes dropped.
    ast create_var_decs(ann a, std::vector<ast> elements);
    ast create_var_decs(std::vector<ast> elements);
    int size_of_var_decs(ast t);
    ast get_var_decs(ast t, int i);

    // statements: ast_statement elements; nested ast_statements lists are
    // opened and empty nodes dropped.
    ast create_statements(ann a, std::vector<ast> elements);
    ast create_statements(std::vector<ast> elements);
    int size_of_statements(ast t);
    ast get_statements(ast t, int i);

    ast create_statement(ann a, ast statement);
    ast create_statement(ast statement);
    ast get_statement_statement(ast t);

    ast create_let(ann a, ast var, ast expr);
    ast create_let(ast var, ast expr);
    ast get_let_var(ast t);
    ast get_let_expr(ast t);

    ast create_let_array(ann a, ast var, ast index, ast expr);
    ast create_let_array(ast var, ast index, ast expr);
    ast get_let_array_var(ast t);
    ast get_let_array_index(ast t);
    ast get_let_array_expr(ast t);

    // if, if_else, while: an empty statement list becomes a new empty
    // ast_statements.
    ast create_if(ann a, ast condition, ast if_true);
    ast create_if(ast condition, ast if_true);
    ast get_if_condition(ast t);
    ast get_if_if_true(ast t);

    ast create_if_else(ann a, ast condition, ast if_true, ast if_false);
    ast create_if_else(ast condition, ast if_true, ast if_false);
    ast get_if_else_condition(ast t);
    ast get_if_else_if_true(ast t);
    ast get_if_else_if_false(ast t);  // reports itself as "get_if_else_if_else"

    ast create_while(ann a, ast condition, ast body);
    ast create_while(ast condition, ast body);
    ast get_while_condition(ast t);
    ast get_while_body(ast t);

    ast create_do(ann a, ast call);
    ast create_do(ast call);
    ast get_do_call(ast t);

    ast create_return(ann a);
    ast create_return();

    ast create_return_expr(ann a, ast expr);
    ast create_return_expr(ast expr);
    ast get_return_expr(ast t);

    // expr_list: ast_expr elements.
    ast create_expr_list(ann a, std::vector<ast> elements);
    ast create_expr_list(std::vector<ast> elements);
    int size_of_expr_list(ast t);
    ast get_expr_list(ast t, int i);

    // expr: an odd number of elements, ast_term and ast_infix_op alternating.
    ast create_expr(ann a, std::vector<ast> elements);
    ast create_expr(std::vector<ast> elements);
    ast create_expr(ann a, ast term);
    ast create_expr(ast term);
    ast create_expr(ann a, ast lhs, ast op, ast rhs);
    ast create_expr(ast lhs, ast op, ast rhs);
    int size_of_expr(ast t);
    ast get_expr(ast t, int i);

    ast create_term(ann a, ast term);
    ast create_term(ast term);
    ast get_term_term(ast t);

    ast create_int(ann a, int constant);
    ast create_int(int constant);
    int get_int_constant(ast t);

    ast create_string(ann a, std::string constant);
    ast create_string(std::string constant);
    std::string get_string_constant(ast t);

    ast create_bool(ann a, bool t_or_f);
    ast create_bool(bool t_or_f);
    bool get_bool_t_or_f(ast t);

    ast create_null(ann a);
    ast create_null();

    ast create_this(ann a);
    ast create_this();

    ast create_unary_op(ann a, std::string op, ast term);
    ast create_unary_op(std::string op, ast term);
    std::string get_unary_op_op(ast t);
    ast get_unary_op_term(ast t);

    // var: the constructor takes the name before the segment.
    ast create_var(ann a, std::string name, std::string segment, int offset, std::string type);
    ast create_var(std::string name, std::string segment, int offset, std::string type);
    std::string get_var_segment(ast t);
    std::string get_var_name(ast t);
    int get_var_offset(ast t);
    std::string get_var_type(ast t);

    ast create_array_index(ann a, ast var, ast index);
    ast create_array_index(ast var, ast index);
    ast get_array_index_var(ast t);
    ast get_array_index_index(ast t);

    ast create_call_as_function(ann a, std::string class_name, ast subr_call);
    ast create_call_as_function(std::string class_name, ast subr_call);
    std::string get_call_as_function_class_name(ast t);
    ast get_call_as_function_subr_call(ast t);

    ast create_call_as_method(ann a, std::string class_name, ast var, ast subr_call);
    ast create_call_as_method(std::string class_name, ast var, ast subr_call);
    std::string get_call_as_method_class_name(ast t);
    ast get_call_as_method_var(ast t);
    ast get_call_as_method_subr_call(ast t);

    // subr_call: an empty expr_list becomes a new empty ast_expr_list.
    ast create_subr_call(ann a, std::string subr_name, ast expr_list);
    ast create_subr_call(std::string subr_name, ast expr_list);
    std::string get_subr_call_subr_name(ast t);
    ast get_subr_call_expr_list(ast t);

    ast create_infix_op(ann a, std::string op);
    ast create_infix_op(std::string op);
    std::string get_infix_op_op(ast t);

    // ---- The XML tree form ----------------------------------------------

    // Writes tree into the output stream, indented by step_width spaces a
    // level; 0 or less gives one line. Bad nodes become error elements.
    void ast_print_as_xml(ast tree, int step_width);
    // The same bytes, returned instead of written.
    std::string ast_xml_text(ast tree, int step_width);
    // The length of that text and the number of tags in it, without keeping
    // it: what a program needs to know of a text it may never use.
    struct xml_text_size
    {
        size_t bytes;
        size_t tags;
    };
    xml_text_size ast_xml_measure(ast tree, int step_width);

    // Reads one class tree from standard input; every error ends the program.
    ast ast_parse_xml();
    // Reads one class tree from text, exactly as from standard input.
    ast ast_parse_xml(const std::string &text);

    // ---- Process-wide state ---------------------------------------------

    // Frees every node and annotation set and forgets the XML reader's state,
    // as the end of a process would, so that a program doing the work of
    // several processes (jackc, the fuzz targets) gives each its own tables
    // and its own node limit. Every handle made before becomes invalid.
    void reset_tree_library();
}

#endif
