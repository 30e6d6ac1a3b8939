#include "vm/fusion.h"

namespace vm_runner
{
    namespace
    {
        // The base of a push's source (0 for a constant), -1 for any
        // other command.
        int source_kind(const instruction &in)
        {
            switch (in.op)
            {
            case opcode::push_constant: return 0;
            case opcode::push_local: return 1;
            case opcode::push_argument: return 2;
            case opcode::push_this: return 3;
            case opcode::push_that: return 4;
            case opcode::push_fixed: return fixed_base;
            default: return -1;
            }
        }

        // The base of a pop's destination, -1 for any other command.
        int target_kind(const instruction &in)
        {
            switch (in.op)
            {
            case opcode::pop_local: return 1;
            case opcode::pop_argument: return 2;
            case opcode::pop_this: return 3;
            case opcode::pop_that: return 4;
            case opcode::pop_fixed: return fixed_base;
            default: return -1;
            }
        }

        // The library's arithmetic that the loop works out itself.
        bool arithmetic(const instruction &in)
        {
            return in.op == opcode::call_multiply || in.op == opcode::call_divide || in.op == opcode::call_min ||
                   in.op == opcode::call_max;
        }

        bool binary(const instruction &in)
        {
            switch (in.op)
            {
            case opcode::add:
            case opcode::sub:
            case opcode::eq:
            case opcode::gt:
            case opcode::lt:
            case opcode::bit_and:
            case opcode::bit_or: return true;
            default: return false;
            }
        }
    }

    std::vector<instruction> fuse(const program &p)
    {
        const std::vector<instruction> &code = p.code;
        std::vector<instruction> fused = code;
        instruction none{};  // past the end: an end_of_function, which fuses with nothing
        none.op = opcode::end_of_function;
        auto at = [&](size_t pc) -> const instruction & { return pc < code.size() ? code[pc] : none; };
        for (size_t pc = 0; pc < code.size(); ++pc)
        {
            const instruction &c = code[pc];
            instruction f = c;
            // A call and the function command it reaches; the call at
            // call_pc.
            auto call_of = [&](instruction &f, size_t call_pc) {
                const instruction &call = code[call_pc];
                const int entry = p.functions[static_cast<size_t>(call.big)].entry;
                f.small = call.small;
                f.big = call.big;
                f.target = code[static_cast<size_t>(entry)].small;
                f.next = entry + 1;
                // A method's first two commands, `push argument 0; pop
                // pointer 0`, as the call's too.
                const instruction &push = at(static_cast<size_t>(entry) + 1), &pop = at(static_cast<size_t>(entry) + 2);
                f.operation = push.op == opcode::push_argument && push.small == 0 && pop.op == opcode::pop_fixed &&
                              pop.small == 3;
            };
            if (c.op == opcode::call)
            {
                f.op = opcode::fused_call;
                call_of(f, pc);
                fused[pc] = f;
                continue;
            }
            const int first = source_kind(c);
            if (target_kind(c) >= 0 && source_kind(at(pc + 1)) >= 0)
            {
                f.op = opcode::fused_pop_push;
                f.target = static_cast<uint16_t>(target_kind(c));
                f.first = static_cast<uint16_t>(source_kind(at(pc + 1)));
                f.a = at(pc + 1).small;
                fused[pc] = f;
                continue;
            }
            if (first < 0)
                continue;
            f.first = static_cast<uint16_t>(first);
            f.a = c.small;
            const instruction &next = at(pc + 1), &third = at(pc + 2), &fourth = at(pc + 3), &fifth = at(pc + 4);
            const int second = source_kind(next);
            if (second >= 0 && binary(third))
            {
                f.second = static_cast<uint16_t>(second);
                f.b = next.small;
                f.operation = static_cast<uint8_t>(third.op);
                const int target = target_kind(fourth);
                if (target >= 0)
                {
                    f.op = opcode::fused_assign;
                    f.target = static_cast<uint16_t>(target);
                    f.small = fourth.small;
                }
                else if (fourth.op == opcode::if_go_to)
                {
                    f.op = opcode::fused_branch;
                    f.big = fourth.big;
                }
                else if (fourth.op == opcode::bit_not && fifth.op == opcode::if_go_to)
                {
                    f.op = opcode::fused_branch_not;
                    f.big = fifth.big;
                }
                else
                {
                    f.op = opcode::fused_expression;
                }
            }
            else if (second >= 0 && arithmetic(third))
            {
                f.op = opcode::fused_arithmetic2;
                f.second = static_cast<uint16_t>(second);
                f.b = next.small;
                f.operation = static_cast<uint8_t>(third.op);
                f.big = third.big;
            }
            else if (second >= 0 && third.op == opcode::call)
            {
                f.op = opcode::fused_push2_call;
                f.second = static_cast<uint16_t>(second);
                f.b = next.small;
                call_of(f, pc + 2);
            }
            else if (second >= 0)
            {
                f.op = opcode::fused_push2;
                f.second = static_cast<uint16_t>(second);
                f.b = next.small;
            }
            else if (target_kind(next) >= 0)
            {
                f.op = opcode::fused_move;
                f.target = static_cast<uint16_t>(target_kind(next));
                f.small = next.small;
            }
            else if (binary(next))
            {
                f.op = opcode::fused_apply;
                f.operation = static_cast<uint8_t>(next.op);
            }
            else if (next.op == opcode::call)
            {
                f.op = opcode::fused_push_call;
                call_of(f, pc + 1);
            }
            else if (arithmetic(next))
            {
                f.op = opcode::fused_arithmetic;
                f.operation = static_cast<uint8_t>(next.op);
                f.big = next.big;
                f.target = third.op == opcode::return_;  // and the return after it
            }
            else if (next.op == opcode::return_)
            {
                f.op = opcode::fused_return;
            }
            else
                continue;
            fused[pc] = f;
        }
        return fused;
    }
}
