// What the checks across classes need to know of one class: its
// subroutines, the calls it makes and the class types its variables name,
// each with its place in the source.
#ifndef FRONTEND_CLASS_SUMMARY_H
#define FRONTEND_CLASS_SUMMARY_H

#include "frontend/source.h"

#include <string>
#include <vector>

namespace Jack_Source
{
    struct subroutine_summary
    {
        std::string kind;  // "constructor", "function" or "method"
        std::string type;  // the return type
        std::string name;
        int parameters = 0;  // not counting a method's object
        position where;      // of the name
    };

    struct call_site
    {
        enum form
        {
            through_class,     // X.f(...), X naming no variable
            through_variable,  // v.f(...)
            on_this            // f(...)
        };
        form how = through_class;
        std::string class_name;  // X; the type of v; the calling class
        std::string variable;    // v
        std::string subroutine;  // f
        int arguments = 0;
        bool in_function = false;  // the call stands in a function
        position where;            // of the first name
    };

    // A variable declared with a class type.
    struct typed_variable
    {
        std::string type;
        std::string name;
        position where;
    };

    struct class_summary
    {
        const source *src = nullptr;
        std::string name;  // empty when the class header could not be read
        position where;    // of the name
        // False after a syntax error anywhere in the class: its list of
        // subroutines may then be short, and calls into it are not checked.
        bool complete = true;
        std::vector<subroutine_summary> subroutines;
        std::vector<call_site> calls;
        std::vector<typed_variable> variables;

        const subroutine_summary *find(const std::string &subroutine) const
        {
            for (const subroutine_summary &s : subroutines)
                if (s.name == subroutine)
                    return &s;
            return nullptr;
        }
    };
}

#endif
