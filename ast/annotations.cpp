// Annotation sets: immutable lists of comments, warnings and errors. Every
// change builds a new set, except that a result with no entries at all is the
// shared empty set, so comparing with the_empty_ann tells whether a set is
// empty.
#include "ast/nodes.h"
#include "iobuffer/iobuffer.h"

using Lum_IO_Buffers::fatal_error;

namespace Jack_Compiler
{
    namespace
    {
        typedef std::vector<std::string> list;

        // The list without its empty strings, with s appended unless empty.
        list copy_ann_vector_add(const list &v, const std::string &s)
        {
            list result;
            result.reserve(v.size() + 1);
            for (const std::string &entry : v)
                if (!entry.empty())
                    result.push_back(entry);
            if (!s.empty())
                result.push_back(s);
            return result;
        }

        // The list without its empty strings and without entry i (-1: none).
        list copy_ann_vector_del(const list &v, int i)
        {
            list result;
            result.reserve(v.size());
            for (size_t p = 0; p < v.size(); p++)
                if (static_cast<int>(p) != i && !v[p].empty())
                    result.push_back(v[p]);
            return result;
        }

        ann create_ann_or_empty(list c, list w, list e)
        {
            initialise();
            if (c.empty() && w.empty() && e.empty())
                return the_empty_ann;
            return new_ann_node(new ann_node(std::move(c), std::move(w), std::move(e)));
        }

        ann create_ann_add(const list &c, const list &w, const list &e, const std::string &c1,
                           const std::string &w1, const std::string &e1)
        {
            return create_ann_or_empty(copy_ann_vector_add(c, c1), copy_ann_vector_add(w, w1),
                                       copy_ann_vector_add(e, e1));
        }

        ann create_ann_del(const list &c, const list &w, const list &e, int ci, int wi, int ei)
        {
            return create_ann_or_empty(copy_ann_vector_del(c, ci), copy_ann_vector_del(w, wi),
                                       copy_ann_vector_del(e, ei));
        }

        bool out_of_range(const list &v, int i)
        {
            return i < 0 || static_cast<size_t>(i) >= v.size();
        }

        // The one list of a set that an operation works on.
        enum which { comments, warnings, errors };

        const list &entries(const ann_node *set, which w)
        {
            return w == comments ? set->comments : w == warnings ? set->warnings : set->errors;
        }

        ann add_entry(ann a, const std::string &s, which w, const char *caller)
        {
            const ann_node *set = get_ann_node(a, caller);
            return create_ann_add(set->comments, set->warnings, set->errors, w == comments ? s : "",
                                  w == warnings ? s : "", w == errors ? s : "");
        }

        ann delete_entry(ann a, int i, which w, const char *caller)
        {
            const ann_node *set = get_ann_node(a, caller);
            if (out_of_range(entries(set, w), i))
                fatal_error(1, std::string(caller) + " index is out of range");
            return create_ann_del(set->comments, set->warnings, set->errors, w == comments ? i : -1,
                                  w == warnings ? i : -1, w == errors ? i : -1);
        }

        std::string get_entry(ann a, int i, which w, const char *caller)
        {
            const list &v = entries(get_ann_node(a, caller), w);
            if (out_of_range(v, i))
                fatal_error(1, std::string(caller) + " index is out of range");
            return v[i];
        }

        int size_of_entries(ann a, which w, const char *caller)
        {
            return static_cast<int>(entries(get_ann_node(a, caller), w).size());
        }
    }

    ann create_ann()
    {
        initialise();
        return the_empty_ann;
    }

    ann create_ann(std::vector<std::string> comments, std::vector<std::string> warnings,
                   std::vector<std::string> errors)
    {
        return create_ann_add(comments, warnings, errors, "", "", "");
    }

    ann get_ann(ast t)
    {
        return get_node(t, "get_ann")->annotations;
    }

    ann add_ann_comments(ann a, std::string s) { return add_entry(a, s, comments, "add_ann_comments"); }
    ann add_ann_warnings(ann a, std::string s) { return add_entry(a, s, warnings, "add_ann_warnings"); }
    ann add_ann_errors(ann a, std::string s) { return add_entry(a, s, errors, "add_ann_errors"); }

    ann delete_ann_comments(ann a, int i) { return delete_entry(a, i, comments, "delete_ann_comments"); }
    ann delete_ann_warnings(ann a, int i) { return delete_entry(a, i, warnings, "delete_ann_warnings"); }
    // Named unlike its siblings, while it reports itself under the sibling's
    // pattern; callers rely on both.
    ann ann_delete_errors(ann a, int i) { return delete_entry(a, i, errors, "delete_ann_errors"); }

    int size_of_ann_comments(ann a) { return size_of_entries(a, comments, "size_of_ann_comments"); }
    int size_of_ann_warnings(ann a) { return size_of_entries(a, warnings, "size_of_ann_warnings"); }
    int size_of_ann_errors(ann a) { return size_of_entries(a, errors, "size_of_ann_errors"); }

    std::string get_ann_comments(ann a, int i) { return get_entry(a, i, comments, "get_ann_comments"); }
    std::string get_ann_warnings(ann a, int i) { return get_entry(a, i, warnings, "get_ann_warnings"); }
    std::string get_ann_errors(ann a, int i) { return get_entry(a, i, errors, "get_ann_errors"); }
}
