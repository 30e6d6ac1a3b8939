// The checked VM program in the form the interpreter runs: one flat array of
// fixed-size instructions with every jump and call target resolved and every
// segment access reduced to a base register or a fixed address, so that a
// step is a load and a dispatch.
#ifndef TOOLS_VMRUN_PROGRAM_H
#define TOOLS_VMRUN_PROGRAM_H

#include <cstdint>
#include <string>
#include <vector>

namespace vm_runner
{
    enum class opcode : uint8_t
    {
#define VM_OPCODE(name) name,
#include "vm/opcodes.def"
#undef VM_OPCODE
    };

    // The base of a fixed address in the fused code: a word past the end of
    // what programs reach, which holds 0 for the whole run.
    const uint16_t fixed_base = 32767;

    // A return address is a value of the runner's own; it is written into
    // the frame and checked on return, so that a program that overwrote it
    // faults instead of jumping somewhere.
    inline int16_t return_token(int return_pc)
    {
        return static_cast<int16_t>(return_pc & 0x7fff);
    }

    struct instruction
    {
        opcode op;
        uint8_t operation = 0; // fused only
        uint16_t small;
        int32_t big;
        uint16_t first = 0, second = 0, target = 0, a = 0, b = 0; // fused only
        int32_t next = 0; // fused_call: the callee's first instruction after its function command
    };

    // Where a command came from, for reports.
    struct source_place
    {
        int file;  // index into program::files
        int line;  // 1-based
    };

    // Where a command came from in the Jack source, from the "//@" marks
    // of its VM file: the mark before it.
    struct jack_place
    {
        int file = -1;  // index into program::jack_files; -1: no mark
        int line = 0;
        int column = 0;
    };

    // A function table entry. Functions of the files and of the library share
    // one table, so that a call, from VM code or from the library, finds the
    // same function by the same index.
    struct function_entry
    {
        std::string name;
        int entry = -1;   // first instruction (its "function" command) when defined in the files
        int library = -1; // index into the library's table when provided by the library
        bool defined() const { return entry >= 0; }
    };

    struct program
    {
        std::vector<std::string> files;          // the paths, in load order
        std::vector<std::string> texts;          // their contents, for quoting a command in a report
        std::vector<instruction> code;
        std::vector<instruction> fused;          // the same code with runs fused (vm/fusion.h), or empty
        std::vector<source_place> places;        // one per instruction
        std::vector<jack_place> jack_places;     // one per instruction, or none when no file has marks
        std::vector<std::string> jack_files;     // the Jack files the marks name, beside their VM files
        std::vector<std::string> undefined;      // the names called that nobody defines (--allow-undefined)
        std::vector<function_entry> functions;   // the files' own first, then the library's not replaced
        std::vector<int> library_functions;      // library index -> function index (replaced or not)
        std::vector<int> function_of;            // instruction -> function index, for reports
        int sys_init = -1;                       // function index of Sys.init
        int main_main = -1;                      // function index of Main.main, -1 when the files lack it
        int statics = 0;                         // words of statics in all
    };

    // The command of instruction pc as its file has it, without comment and
    // surrounding blanks, for reports.
    std::string command_text(const program &p, int pc);

    // The Jack place of instruction pc; file -1 when it has none.
    inline jack_place jack_place_of(const program &p, int pc)
    {
        return pc >= 0 && static_cast<size_t>(pc) < p.jack_places.size() ? p.jack_places[pc] : jack_place{};
    }
}

#endif
