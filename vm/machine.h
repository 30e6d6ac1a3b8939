// The machine a checked program runs on: the RAM, the interpreter's loop,
// the state of the standard library (heap, text grid, colour, keyboard), the
// step counting and the reports that end a run.
#ifndef TOOLS_VMRUN_MACHINE_H
#define TOOLS_VMRUN_MACHINE_H

#include "vm/instruments.h"
#include "vm/library.h"
#include "vm/live.h"
#include "vm/program.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vm_runner
{
    // How a run ended: the exit status of vmrun.
    enum run_status : int
    {
        status_halted = 0,      // Sys.halt, or Sys.init returned
        status_failed = 1,      // a fault or Sys.error
        status_step_limit = 2,  // --steps ran out
        status_input_ended = 3, // a key was wanted after the end of standard input
        status_interrupted = 130, // SIGINT, or a live run ended from its page
        status_terminated = 143,  // SIGTERM
    };

    // From step `step` on (once that many steps have run), key `code` is held.
    struct key_event
    {
        uint64_t step;
        int16_t code;
    };

    struct run_options
    {
        uint64_t step_limit = UINT64_MAX;
        std::vector<key_event> keys;          // in increasing step
        std::FILE *keyboard_input = nullptr;  // nullptr: no keys to read
        std::FILE *text_output = nullptr;     // nullptr: the text is kept, see machine::text()
        live_hooks *live = nullptr;           // nullptr: a headless run
    };

    // --check: every access through this or that must fall in a block the
    // allocator gave out and has not taken back, or in the screen or
    // keyboard.
    enum class heap_checks
    {
        off,
        on
    };

    const int ram_size = 32768;
    const int screen_base = 16384;
    const int keyboard_address = 24576;
    const int heap_base = 2048;
    const int heap_end = 16384; // one past the heap

    class machine
    {
    public:
        machine(const program &p, run_options options, heap_checks checks = heap_checks::off,
                run_instruments instruments = {});
        machine(const machine &) = delete;
        machine &operator=(const machine &) = delete;

        // Runs the program from the start to its end; the status says how it
        // ended and report() why, when it did not halt.
        run_status run();

        const std::string &report() const { return report_; }
        // Where the run stands: the command about to run and the call stack,
        // as a report shows them.
        // In Jack, where the program carries Jack places.
        std::string where() const;
        // The Jack place of the command about to run; file -1 for none.
        jack_place place() const { return jack_place_of(p_, pc_); }
        // The text printed and not yet written to options.text_output (all of
        // it when there is none).
        const std::string &text() const { return text_; }
        bool text_write_failed() const { return text_write_failed_; }
        // Whether the last byte of the text written to options.text_output
        // was a line feed (or nothing was written), so that what comes after
        // it on the same screen or file starts a line.
        bool text_ends_a_line() const { return last_text_byte_ == -1 || last_text_byte_ == '\n'; }

        uint64_t steps() const { return target_ - remaining_; }
        uint64_t calls() const { return calls_; }
        int deepest_stack() const { return max_sp_ - 256; }
        int heap_in_use() const { return taken_words; }
        const int16_t *memory() const { return ram_; }

        // --- For the library ---

        // A RAM word by its address; outside 0 to 24576 the run ends with a
        // fault naming the library function that reached it.
        int16_t read(int address);
        void write(int address, int16_t value);

        // Calls library function f the way VM code would: through the
        // program's function table, so that a function the files define is
        // the one that runs.
        int16_t call(library_index f, std::initializer_list<int16_t> arguments);

        // Main.main, through the function table (the library's Sys.init).
        int16_t call_main() { return call_function(p_.main_main, nullptr, 0); }

        // The RAM itself, for the library's drawing on the screen words.
        int16_t *ram() { return ram_; }

        // A library function given bad arguments: Sys.error(code), through the
        // function table.
        void error(int code);

        [[noreturn]] void fault(const std::string &what);
        [[noreturn]] void halt();
        [[noreturn]] void fail_with_error_code(int code);
        // Ends the run from outside the program (a signal, the live page).
        [[noreturn]] void interrupt(run_status status, const std::string &what) { stop(status, what); }
        // The interrupt that pending_interrupt asks for.
        [[noreturn]] void interrupted();

        // Brings the next event forward to the next step: a live run's
        // checkpoint then comes right after a library function that blocked.
        void event_now()
        {
            target_ -= remaining_;
            remaining_ = 0;
        }

        // Sys.wait: takes no time unless a live run paces it.
        void wait(int milliseconds)
        {
            if (options_.live != nullptr)
                options_.live->wait(*this, milliseconds);
        }

        // The next key of the keyboard input; the run ends with status 3 when
        // there is none. Flushes the text first.
        int16_t next_key();

        // Text output: one character of the stream beside the screen.
        void print_text(char c)
        {
            text_ += c;
            if (text_.size() >= 1 << 16 && options_.text_output != nullptr)
                flush_text();
        }
        void flush_text();

        // --check: whether the heap is checked (the program brings no
        // allocator of its own), and the allocator's word of each block it
        // gives out and takes back.
        bool heap_checked() const { return checking_; }
        void note_alloc(int address, int words);
        void note_free(int address);

        // After the run, under --profile: the steps of each call stack ran,
        // outermost frame first, and the calls of each function; under
        // --profile-lines the steps of each Jack line.
        const std::vector<profile_node> &profile() const { return profile_nodes_; }
        const std::vector<uint64_t> &calls_by_function() const { return calls_of_; }
        // (Jack place, steps) for every line that took steps.
        std::vector<std::pair<jack_place, uint64_t>> steps_by_line() const;
        const program &code() const { return p_; }

        // The library's state, kept outside the RAM.
        // The allocator's: the free blocks as (address, size) in address
        // order, and the size of each block given out by the address of its
        // size word (0 for none), with their sum.
        std::vector<std::pair<int, int>> free_blocks;
        std::vector<int> taken_size = std::vector<int>(heap_end, 0);
        int taken_words = 0;
        int cursor_row = 0, cursor_column = 0;
        bool colour_black = true;

    private:
        struct frame
        {
            int function;  // index into the program's function table
            int return_pc; // -1 when the library called it
            int16_t token; // the return address written into its frame
            int16_t lcl;   // LCL of its frame in the RAM (0 for a library function, which has none)
        };
        // The frames, with room given once for the deepest a run can go, so
        // that a call is a store and a bump; the pages are touched only as
        // the stack grows into them.
        class frame_stack
        {
        public:
            explicit frame_stack(size_t capacity) : frames_(new frame[capacity]), top_(frames_.get()) {}
            void push_back(const frame &f) { *top_++ = f; }
            void pop_back() { --top_; }
            frame &back() { return top_[-1]; }
            const frame &back() const { return top_[-1]; }
            size_t size() const { return static_cast<size_t>(top_ - frames_.get()); }
            // One past the innermost frame, and where it would stand with n
            // frames: the loop compares the two instead of counting.
            const frame *top() const { return top_; }
            const frame *with(size_t n) const { return frames_.get() + n; }
            bool empty() const { return top_ == frames_.get(); }
            void resize(size_t fewer) { top_ = frames_.get() + fewer; }
            frame &operator[](size_t i) { return frames_[i]; }
            const frame &operator[](size_t i) const { return frames_[i]; }

        private:
            std::unique_ptr<frame[]> frames_;
            frame *top_;
        };

        int16_t call_function(int function, const int16_t *arguments, int count);
        int16_t call_library(int library, const int16_t *arguments);
        void run_loop(size_t base);
        template <int kind> void run_loop_body(size_t base);
        void run_loop_plain(size_t base);
        void run_loop_checked(size_t base);
        void run_loop_instrumented(size_t base);
        // The instruments' view of a change of the frames: the steps since
        // the last change go to the frame that was innermost, and the trace
        // says who was called or returned.
        void frames_changed(uint64_t steps_now);
        int child_node(int parent, int function);
        void profile_leaf_call(int function, uint64_t steps_before);
        void trace_call(int function, const int16_t *arguments, int count, int call_pc);
        void trace_return(int function, int16_t value);
        void trace_step(int pc, int sp, uint64_t step);
        [[noreturn, gnu::cold, gnu::noinline]] void heap_fault(int address, int base_value);
        [[gnu::cold, gnu::noinline]] size_t frame_left_by_return(int lcl, int16_t return_address, size_t base);
        uint64_t next_event();
        [[noreturn]] void stop(run_status status, const std::string &what);
        std::string location() const;
        std::string call_stack() const;
        // "Main.jack:12:5" or, without the column, "Main.jack:12".
        std::string jack_position(const jack_place &place, bool column = true) const;
        std::string jack_source_lines(const jack_place &place) const;

        const program &p_;
        run_options options_;
        // The RAM starts 56 bytes into a 64-byte line, wherever the members
        // before it end: SP, LCL, ARG and THIS then share the end of one
        // line. Measured, the compute-bound loop ran an eighth slower with
        // the RAM at the start of a line, as it lay once the run options grew
        // by a pointer.
        [[maybe_unused]] alignas(64) char ram_lead_[56];
        int16_t ram_[ram_size];

        frame_stack frames_;
        int pc_ = -1; // the instruction running, or the call of the library running; -1 at the start
        run_status status_ = status_halted;
        // Steps: the loop counts remaining_ down to the next event (a key of
        // the script or the limit), which it reaches at step target_.
        uint64_t target_ = 0;
        uint64_t remaining_ = 0;
        size_t next_key_event_ = 0;
        uint64_t calls_ = 0;
        int max_sp_ = 256;
        int nesting_ = 0; // loops running inside library functions

        // --check: for each word, 0 when it is in no block, the block's
        // number + 1 when it is in a block given out, minus that when in one
        // taken back.
        struct heap_block
        {
            int address;  // its first word
            int words;
            jack_place given, freed;
        };
        bool checking_ = false;
        std::vector<int32_t> block_of_;
        std::vector<heap_block> blocks_;

        run_instruments instruments_;
        bool instrumented_ = false;
        std::vector<profile_node> profile_nodes_;
        std::vector<int> profile_stack_;  // the node of each frame
        uint64_t profile_mark_ = 0;       // the step of the last change of the frames
        std::vector<uint64_t> calls_of_;
        std::vector<int> line_of_pc_;     // instruction -> line number, -1 for none
        std::vector<jack_place> lines_;   // line number -> its place
        std::vector<uint64_t> line_steps_;
        uint64_t next_frame_ = 0;  // the step of a recording's next look at the screen

        std::string text_;
        bool text_write_failed_ = false;
        int last_text_byte_ = -1; // -1 while nothing was written
        std::string report_;
    };
}

#endif
