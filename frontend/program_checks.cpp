#include "frontend/program_checks.h"

#include <map>
#include <set>
#include <string>

namespace Jack_Source
{
    namespace
    {
        struct library_subroutine
        {
            const char *class_name;
            const char *name;
            int words;  // a method's object counts
        };

        // The standard library's functions, from the table the VM runs.
        const library_subroutine library[] = {
#define VM_LIBRARY(class_name, name, words) {#class_name, #name, words},
#include "vm/library_functions.def"
#undef VM_LIBRARY
        };

        // The library's subroutines that are not functions.
        std::string library_kind(const std::string &class_name, const std::string &name)
        {
            if (name == "new" && (class_name == "String" || class_name == "Array"))
                return "constructor";
            static const std::set<std::string> methods = {
                "Array.dispose",     "String.dispose",       "String.length",   "String.charAt",
                "String.setCharAt",  "String.appendChar",    "String.eraseLastChar",
                "String.intValue",   "String.setInt"};
            return methods.count(class_name + "." + name) != 0 ? "method" : "function";
        }

        bool is_library_class(const std::string &name)
        {
            for (const library_subroutine &s : library)
                if (name == s.class_name)
                    return true;
            return false;
        }

        // A subroutine a call may reach: of a class compiled, else of the
        // library (whose functions a class of the same name may leave out).
        struct target
        {
            bool found = false;
            bool checkable = true;  // false: the class could not be read whole
            std::string kind;
            int parameters = 0;
            const class_summary *declared_in = nullptr;
            position where;
        };

        std::string count_of(int n, const char *what)
        {
            return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
        }

        class checker
        {
        public:
            checker(const std::vector<const class_summary *> &classes, diagnostics &diags, bool whole_program)
                : classes_(classes), diags_(diags), whole_program_(whole_program)
            {
            }

            void run()
            {
                for (const class_summary *c : classes_)
                    check_class_name(*c);
                for (const class_summary *c : classes_)
                {
                    for (const call_site &call : c->calls)
                        check_call(*c, call);
                    if (whole_program_)
                        for (const typed_variable &v : c->variables)
                            if (!known_class(v.type))
                                diags_.report(diagnostic_id::unknown_type, *c->src, v.where, {v.type, v.name});
                }
            }

        private:
            void check_class_name(const class_summary &c)
            {
                if (c.name.empty())
                    return;
                if (whole_program_)
                {
                    const std::string &file = c.src->name();
                    const size_t slash = file.rfind('/');
                    const std::string base = file.substr(slash == std::string::npos ? 0 : slash + 1);
                    if (base != c.name + ".jack")
                        diags_.report(diagnostic_id::class_not_file, *c.src, c.where, {c.name, base});
                }
                const auto first = by_name_.emplace(c.name, &c);
                if (!first.second)
                {
                    diagnostic &d = diags_.report(diagnostic_id::class_twice, *c.src, c.where, {c.name});
                    diags_.note(d, diagnostic_id::class_defined_here, *first.first->second->src,
                                first.first->second->where, {c.name});
                }
            }

            bool known_class(const std::string &name) const
            {
                return by_name_.count(name) != 0 || is_library_class(name);
            }

            target find(const std::string &class_name, const std::string &name) const
            {
                target t;
                const auto compiled = by_name_.find(class_name);
                if (compiled != by_name_.end())
                {
                    if (const subroutine_summary *s = compiled->second->find(name))
                    {
                        t.found = true;
                        t.kind = s->kind;
                        t.parameters = s->parameters;
                        t.declared_in = compiled->second;
                        t.where = s->where;
                        return t;
                    }
                    t.checkable = compiled->second->complete;
                }
                for (const library_subroutine &s : library)
                    if (class_name == s.class_name && name == s.name)
                    {
                        t.found = true;
                        t.checkable = true;
                        t.kind = library_kind(class_name, name);
                        t.parameters = s.words - (t.kind == "method" ? 1 : 0);
                        return t;
                    }
                return t;
            }

            void check_call(const class_summary &c, const call_site &call)
            {
                const source &src = *c.src;
                if (call.how == call_site::through_variable &&
                    (call.class_name == "int" || call.class_name == "char" || call.class_name == "boolean"))
                {
                    diags_.report(diagnostic_id::method_on_primitive, src, call.where, {call.variable, call.class_name});
                    return;
                }
                if (!known_class(call.class_name))
                {
                    // A variable's unknown type is reported at its declaration.
                    if (whole_program_ && call.how == call_site::through_class &&
                        warned_.insert({&c, call.class_name}).second)
                        diags_.report(diagnostic_id::unknown_class, src, call.where, {call.class_name});
                    return;
                }
                const target t = find(call.class_name, call.subroutine);
                if (!t.found)
                {
                    if (t.checkable)
                        diags_.report(diags_.undefined_allowed() ? diagnostic_id::no_such_subroutine_allowed
                                                                 : diagnostic_id::no_such_subroutine,
                                      src, call.where, {call.class_name, call.subroutine});
                    return;
                }
                diagnostic *d = nullptr;
                if (call.how == call_site::through_class && t.kind == "method")
                    d = &diags_.report(diagnostic_id::method_as_function, src, call.where,
                                       {call.class_name, call.subroutine});
                else if (call.how != call_site::through_class && t.kind != "method")
                    d = &diags_.report(diagnostic_id::function_as_method, src, call.where,
                                       {call.class_name, call.subroutine, t.kind});
                else if (call.how == call_site::on_this && call.in_function)
                    d = &diags_.report(diagnostic_id::method_call_in_function, src, call.where, {call.subroutine});
                else if (call.arguments != t.parameters)
                    d = &diags_.report(diagnostic_id::argument_count, src, call.where,
                                       {call.class_name, call.subroutine, count_of(t.parameters, "argument"),
                                        std::to_string(call.arguments)});
                if (d != nullptr && t.declared_in != nullptr)
                    diags_.note(*d, diagnostic_id::subroutine_declared_here, *t.declared_in->src, t.where,
                                {call.class_name, call.subroutine});
            }

            const std::vector<const class_summary *> &classes_;
            diagnostics &diags_;
            bool whole_program_;
            std::map<std::string, const class_summary *> by_name_;
            std::set<std::pair<const class_summary *, std::string>> warned_;
        };
    }

    void check_program(const std::vector<const class_summary *> &classes, diagnostics &diags, bool whole_program)
    {
        if (diags.checking())
            checker(classes, diags, whole_program).run();
    }
}
