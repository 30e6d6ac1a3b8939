// A live run: the machine on a thread of its own, and the thread-safe
// control between it and the server. The server asks (run, pause, step,
// restart, speed, the key held) and takes what the page shows (the screen,
// the text, the state); the machine looks at the control only at its
// checkpoints, a few hundred thousand steps apart at full speed, so that a
// live run keeps the speed of a headless one.
#ifndef SERVE_LIVE_CONTROL_H
#define SERVE_LIVE_CONTROL_H

#include "vm/machine.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vm_serve
{
    enum class run_state
    {
        waiting, // for the first page: the run starts when one connects
        running,
        paused,
        ended,
    };
    const char *state_name(run_state state);

    // What a step is when the run is paused: one VM command, or, where the
    // program carries Jack places, one Jack statement (the commands up to
    // the next place).
    enum class step_unit
    {
        vm_command,
        jack_statement,
    };

    struct live_settings
    {
        uint64_t step_limit = UINT64_MAX; // of each run, as --steps
        bool stats = false;               // the statistics on standard error after each run
        std::FILE *text_copy = nullptr;   // the text goes here too (vmrun: standard output)
        step_unit unit = step_unit::vm_command;
    };

    // What the page's status line and report pane show.
    struct live_status
    {
        run_state state = run_state::waiting;
        uint64_t run = 0;  // counts the runs: 1 for the first, one more each restart
        uint64_t steps = 0;
        double steps_per_second = 0;
        bool waiting_for_key = false;
        std::string report; // on pause: where the run stands; at the end: its report
        int exit_status = -1; // at the end
    };

    using screen_words = std::array<int16_t, 8192>;

    class live_control
    {
    public:
        live_control(const vm_runner::program &p, live_settings settings);
        live_control(const live_control &) = delete;
        live_control &operator=(const live_control &) = delete;
        ~live_control();

        // --- The server's side; every call returns at once. ---

        // A controlling page came or went. The first starts the run; one
        // that goes releases its key.
        void attach();
        void detach();
        void run();
        void pause();
        void step();
        void restart();
        void set_speed(uint32_t steps_per_second); // 0: as fast as it goes
        void hold_key(int16_t code);
        // SIGINT or SIGTERM: the run ends with status 130 or 143.
        void quit(vm_runner::run_status status, const char *signal_name);

        // The screen when it changed since `version`, which it advances.
        bool take_screen(uint64_t &version, screen_words &out);
        // The text printed since the last call (the page keeps the rest),
        // and the run that printed it; from_start: the run's latest 64 KiB
        // of text instead, for a page that has just come.
        std::string take_text(uint64_t &run, bool from_start = false);
        // The status when it changed since `version`, which it advances. The
        // machine publishes it on every change of state and a few times a
        // second while it runs.
        bool take_status(uint64_t &version, live_status &out);

        // --- The machine's thread ---

        // Runs the program, again on each restart, until quit(); returns
        // vmrun's exit status.
        int run_machine();
        // The RAM at the end of the last run that ended (empty before), for
        // --screen; once run_machine has returned.
        const std::vector<int16_t> &final_memory() const { return final_memory_; }

    private:
        class hooks;
        friend class hooks;
        using clock = std::chrono::steady_clock;

        // Both need mutex_ held.
        void publish_screen(const vm_runner::machine &m);
        void publish_status(run_state state, uint64_t steps, double steps_per_second, std::string report = "",
                            bool waiting_for_key = false, int exit_status = -1);
        static ssize_t write_text(void *cookie, const char *bytes, size_t size);

        const vm_runner::program &p_;
        const live_settings settings_;

        std::mutex mutex_;
        std::condition_variable changed_; // every control change notifies it
        // Raised by every control change; the machine looks at the rest only
        // when it is up, and keeps it up while paused.
        std::atomic<bool> attention_{false};
        std::atomic<int16_t> held_key_{0};
        std::atomic<int16_t> tapped_key_{0}; // the last key pressed, until the machine has seen it
        bool started_ = false;
        bool paused_ = false;
        uint64_t steps_asked_ = 0;
        bool restart_ = false;
        bool quit_ = false;
        vm_runner::run_status quit_status_ = vm_runner::status_interrupted;
        std::string quit_signal_;
        uint32_t speed_ = 0;
        // Keys pressed, oldest first, for Keyboard's reads: a tap that is
        // over before the machine looks still counts.
        struct press
        {
            int16_t code;
            clock::time_point when;
        };
        std::deque<press> presses_;

        screen_words screen_{};      // the last screen published
        uint64_t screen_version_ = 0;
        std::string text_;           // printed, not yet taken
        std::string history_;        // the run's latest text, taken or not
        live_status status_;
        uint64_t status_version_ = 0;

        std::FILE *text_stream_ = nullptr;
        std::vector<int16_t> final_memory_;
    };
}

#endif
