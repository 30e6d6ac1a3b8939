#include "symbols/variables.h"
#include "iobuffer/iobuffer.h"

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace Lum_Symbol_Tables
{
    namespace
    {
        // The record behind a handle; made once, never changed or freed.
        class st_variable
        {
        public:
            st_variable(std::string n, std::string t, std::string s, int o)
                : name(std::move(n)), type(std::move(t)), segment(std::move(s)), offset(o)
            {
            }
            std::string name;
            std::string type;
            std::string segment;
            int offset;
            bool deleted = false;  // nothing sets it yet; checked so that a future delete stays safe
        };

        // The lower half of every handle, so that a handle of another kind,
        // or a stray pointer, is told apart from a variable object.
        const std::uint64_t handle_tag = 0x38A167B;

        // A program that makes more variables than this is stuck in a loop.
        const std::size_t table_limit = 1000000;

        bool initialised = false;
        std::vector<st_variable *> *variables = nullptr;

        symrec make_handle(std::size_t index)
        {
            const std::uint64_t bits = (static_cast<std::uint64_t>(index) << 32) | handle_tag;
            return reinterpret_cast<symrec>(static_cast<std::uintptr_t>(bits));
        }

        st_variable *get_variable(symrec handle, const char *caller)
        {
            if (handle == nullptr)
                Lum_IO_Buffers::fatal_error(-1, std::string("nullptr passed to ") + caller);
            const std::uint64_t bits = reinterpret_cast<std::uintptr_t>(handle);
            const auto index = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
            const std::size_t created = initialised ? variables->size() : 0;
            if (index < 0 || (bits & 0xFFFFFFFFu) != handle_tag || static_cast<std::size_t>(index) >= created)
                Lum_IO_Buffers::fatal_error(-1, std::string("Invalid symrec object passed to ") + caller);
            st_variable *variable = (*variables)[static_cast<std::size_t>(index)];
            if (variable->deleted)
                Lum_IO_Buffers::fatal_error(-1, std::string("Deleted variable passed to ") + caller);
            return variable;
        }

        [[noreturn]] void out_of_memory()
        {
            Lum_IO_Buffers::fatal_error(-1, "Failed to allocate memory required to create a variable object");
        }
    }

    symrec symrec_create(std::string name, std::string type, std::string segment, int offset)
    {
        if (!initialised)
        {
            variables = new (std::nothrow) std::vector<st_variable *>();
            if (variables == nullptr)
                out_of_memory();
            initialised = true;
        }
        if (variables->size() > table_limit)
            Lum_IO_Buffers::fatal_error(
                -1, "attempted to create more than 1,000,000 variable objects, the program is probably stuck in a loop");

        st_variable *variable =
            new (std::nothrow) st_variable(std::move(name), std::move(type), std::move(segment), offset);
        if (variable == nullptr)
            out_of_memory();

        // Nothing may be thrown across the library boundary: growing the
        // table fails the same way as allocating the record.
        const std::size_t index = variables->size();
        try
        {
            variables->push_back(variable);
        }
        catch (const std::bad_alloc &)
        {
            out_of_memory();
        }
        return make_handle(index);
    }

    std::string symrec_name(symrec variable)
    {
        return get_variable(variable, "symrec_name")->name;
    }

    std::string symrec_type(symrec variable)
    {
        return get_variable(variable, "symrec_type")->type;
    }

    std::string symrec_segment(symrec variable)
    {
        return get_variable(variable, "symrec_segment")->segment;
    }

    int symrec_offset(symrec variable)
    {
        return get_variable(variable, "symrec_offset")->offset;
    }

    void reset_variables()
    {
        if (!initialised)
            return;
        for (st_variable *variable : *variables)
            delete variable;
        delete variables;
        variables = nullptr;
        initialised = false;
    }
}
