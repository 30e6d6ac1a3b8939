#include "frontend/symbol_table.h"

namespace Jack_Source
{
    const scope::entry *scope::declare(const std::string &name, const std::string &type, const std::string &segment,
                                       const position &where)
    {
        if (names_.count(name) != 0)
            return nullptr;
        int &offset = next_offset_[segment];
        const entry e{Lum_Symbol_Tables::symrec_create(name, type, segment, offset), where, false};
        offset++;
        return &names_.emplace(name, e).first->second;
    }

    const scope::entry *scope::find(const std::string &name) const
    {
        const auto found = names_.find(name);
        return found == names_.end() ? nullptr : &found->second;
    }

    void scope::start_segment_at(const std::string &segment, int first)
    {
        next_offset_[segment] = first;
    }

    void scope::clear()
    {
        names_.clear();
        next_offset_.clear();
    }
}
