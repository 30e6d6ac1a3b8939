// The variables a Jack class declares, as symbol-table variable objects, in
// two scopes: the class's (statics and fields) and the current subroutine's
// (arguments and locals), searched subroutine first.
#ifndef FRONTEND_SYMBOL_TABLE_H
#define FRONTEND_SYMBOL_TABLE_H

#include "symbols/variables.h"
#include "frontend/source.h"

#include <map>
#include <string>

namespace Jack_Source
{
    class scope
    {
    public:
        struct entry
        {
            Lum_Symbol_Tables::symrec variable;
            position declared;
            mutable bool used = false;  // for the warning on unused locals
        };

        // Declares name in segment, at the next offset of that segment; null
        // when the name is declared in this scope already.
        const entry *declare(const std::string &name, const std::string &type, const std::string &segment,
                             const position &where);
        const entry *find(const std::string &name) const;

        // The next offset of a segment starts at first (a method's arguments
        // start at 1: argument 0 is the object).
        void start_segment_at(const std::string &segment, int first);
        void clear();

    private:
        std::map<std::string, entry> names_;
        std::map<std::string, int> next_offset_;
    };

    class symbol_table
    {
    public:
        scope class_scope;
        scope subroutine_scope;

        const scope::entry *find(const std::string &name) const
        {
            const scope::entry *e = subroutine_scope.find(name);
            return e != nullptr ? e : class_scope.find(name);
        }
    };
}

#endif
