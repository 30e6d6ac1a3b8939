#include "serve/live_control.h"

#include <cstring>
#include <memory>
#include <thread>

namespace vm_serve
{
    using namespace vm_runner;
    using std::chrono::milliseconds;

    const char *state_name(run_state state)
    {
        switch (state)
        {
        case run_state::waiting:
            return "waiting";
        case run_state::running:
            return "running";
        case run_state::paused:
            return "paused";
        case run_state::ended:
            return "ended";
        }
        return "";
    }

    namespace
    {
        // Steps between checkpoints at full speed adapt to keep them 2 to 8
        // ms apart: that is how long a pause or a key takes to reach the
        // machine at most, and checkpoints half a millisecond apart already
        // cost a headless run's speed a few per cent (bench/run).
        const uint64_t fewest_steps = 1 << 12, most_steps = 1 << 22;
        const auto checkpoints_near = milliseconds(2), checkpoints_far = milliseconds(8);
        const auto screen_period = milliseconds(16); // at most about 60 screens a second
        const auto status_period = milliseconds(250);
        // The text the page has not taken yet is kept to this much, the
        // latest; a page that reads slowly loses the oldest text, never the
        // machine's time.
        const size_t text_kept = 1 << 20;
        const auto typed_ahead = milliseconds(250);
        const size_t presses_kept = 16;
        const size_t history_kept = 1 << 16;
    }

    // The hooks of one run; they live on the machine's thread.
    class live_control::hooks : public live_hooks
    {
    public:
        explicit hooks(live_control &c) : c_(c), window_start_(clock::now()) {}

        uint64_t checkpoint(machine &m) override
        {
            const clock::time_point now = clock::now();
            if (now - last_checkpoint_ < checkpoints_near)
                interval_ = std::min(interval_ * 2, most_steps);
            else if (now - last_checkpoint_ > checkpoints_far)
                interval_ = std::max(interval_ / 2, fewest_steps);
            last_checkpoint_ = now;
            refresh(m, now);
            if (!c_.attention_.load(std::memory_order_acquire) && speed_ == 0)
                return interval_;
            return slow_checkpoint(m);
        }

        int16_t next_key(machine &m) override
        {
            std::unique_lock<std::mutex> lock(c_.mutex_);
            c_.publish_screen(m);
            c_.publish_status(run_state::running, m.steps(), 0, "", true);
            // A press counts if it came while the read waits or just before
            // it began (keys typed quickly while the last one was echoed); an
            // older one was meant for something else, as is a key that was
            // already held.
            const clock::time_point stale = clock::now() - typed_ahead;
            while (!c_.presses_.empty() && c_.presses_.front().when < stale)
                c_.presses_.pop_front();
            c_.changed_.wait(lock, [&] { return c_.quit_ || c_.restart_ || !c_.presses_.empty(); });
            end_if_asked(m, lock);
            const int16_t key = c_.presses_.front().code;
            c_.presses_.pop_front();
            c_.changed_.wait(lock, [&] {
                return c_.quit_ || c_.restart_ || c_.held_key_.load() != key || !c_.presses_.empty();
            });
            end_if_asked(m, lock);
            m.ram()[keyboard_address] = c_.held_key_.load();
            c_.publish_status(run_state::running, m.steps(), 0);
            m.event_now();
            pace_from_ = clock::time_point();
            return key;
        }

        void wait(machine &m, int ms) override
        {
            std::unique_lock<std::mutex> lock(c_.mutex_);
            c_.publish_screen(m);
            c_.changed_.wait_until(lock, clock::now() + milliseconds(ms), [&] { return c_.quit_ || c_.restart_; });
            end_if_asked(m, lock);
            // A program that waits between moves runs only a few hundred
            // steps a wait: the checkpoint comes right after each, or the
            // key held, a pause or a step would wait for hundreds of waits.
            m.event_now();
            pace_from_ = clock::time_point();
        }

    private:
        // The key held into the keyboard word, the text out; the screen and
        // the status to the page when their time has come.
        void refresh(machine &m, clock::time_point now)
        {
            // A key pressed and already released since the last look is
            // still seen once.
            const int16_t tapped = c_.tapped_key_.exchange(0, std::memory_order_relaxed);
            m.ram()[keyboard_address] = tapped != 0 ? tapped : c_.held_key_.load(std::memory_order_relaxed);
            m.flush_text();
            if (now >= next_screen_)
            {
                std::lock_guard<std::mutex> lock(c_.mutex_);
                c_.publish_screen(m);
                next_screen_ = now + screen_period;
                if (now >= next_status_)
                {
                    c_.publish_status(run_state::running, m.steps(), speed_now(m, now));
                    next_status_ = now + status_period;
                }
            }
        }

        // Pause, step, restart, quit and a paced speed.
        uint64_t slow_checkpoint(machine &m)
        {
            std::unique_lock<std::mutex> lock(c_.mutex_);
            bool was_paused = false;
            for (;;)
            {
                end_if_asked(m, lock);
                if (!c_.paused_)
                    break;
                if (c_.steps_asked_ > 0)
                {
                    // A Jack statement goes on, one command at a time, until
                    // the place changes.
                    const jack_place here = m.place();
                    if (c_.settings_.unit == step_unit::jack_statement && here.file >= 0)
                    {
                        if (!stepping_)
                        {
                            stepping_ = true;
                            step_from_ = here;
                            return 1;
                        }
                        if (here.file == step_from_.file && here.line == step_from_.line &&
                            here.column == step_from_.column)
                            return 1;
                        stepping_ = false;
                        c_.steps_asked_ = 0;
                        continue;
                    }
                    // Still paused: attention stays up, so that the next
                    // checkpoint, one step on, stops again.
                    --c_.steps_asked_;
                    return 1;
                }
                if (!was_paused || c_.status_.steps != m.steps() || c_.status_.state != run_state::paused)
                {
                    c_.publish_screen(m);
                    c_.publish_status(run_state::paused, m.steps(), 0, m.where());
                }
                was_paused = true;
                c_.changed_.wait(lock);
            }
            c_.attention_.store(false, std::memory_order_release);
            if (was_paused || c_.status_.state != run_state::running)
            {
                c_.publish_status(run_state::running, m.steps(), 0);
                pace_from_ = clock::time_point();
            }
            if (c_.speed_ != speed_)
            {
                speed_ = c_.speed_;
                pace_from_ = clock::time_point();
            }
            if (speed_ == 0)
                return interval_;
            // Paced: the steps since pace_from_ take their share of the
            // clock; the machine sleeps off any lead, in slices a hundredth
            // of a second long, and a change of control cuts the sleep short.
            const clock::time_point now = clock::now();
            if (pace_from_ == clock::time_point() || now - due(m) > milliseconds(100))
            {
                pace_from_ = now;
                pace_steps_ = m.steps();
            }
            const clock::time_point until = due(m);
            if (until > now)
                c_.changed_.wait_until(lock, until, [&] { return c_.attention_.load(); });
            return std::max<uint64_t>(1, std::min<uint64_t>(interval_, speed_ / 100));
        }

        clock::time_point due(const machine &m) const
        {
            const double seconds = static_cast<double>(m.steps() - pace_steps_) / speed_;
            return pace_from_ + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
        }

        // A quit or a restart ends the run here; the lock is given up first,
        // since ending the run unwinds to run_machine.
        void end_if_asked(machine &m, std::unique_lock<std::mutex> &lock)
        {
            if (c_.quit_)
            {
                const std::string what = "interrupted by " + c_.quit_signal_ + ": " + std::to_string(m.steps()) +
                                         " steps ran";
                const run_status status = c_.quit_status_;
                lock.unlock();
                m.interrupt(status, what);
            }
            if (c_.restart_)
            {
                lock.unlock();
                m.interrupt(status_interrupted, "restarted from the page");
            }
        }

        double speed_now(const machine &m, clock::time_point now)
        {
            const double seconds = std::chrono::duration<double>(now - window_start_).count();
            const double rate = seconds > 0 ? static_cast<double>(m.steps() - window_steps_) / seconds : 0;
            window_start_ = now;
            window_steps_ = m.steps();
            return rate;
        }

        live_control &c_;
        uint64_t interval_ = 1 << 16;
        bool stepping_ = false;  // a Jack statement's step is under way
        jack_place step_from_;
        clock::time_point last_checkpoint_;
        clock::time_point next_screen_, next_status_;
        clock::time_point window_start_;
        uint64_t window_steps_ = 0;
        uint32_t speed_ = 0;
        clock::time_point pace_from_;
        uint64_t pace_steps_ = 0;
    };

    live_control::live_control(const program &p, live_settings settings) : p_(p), settings_(settings)
    {
        // The program's text reaches the page through a stream of its own,
        // which the machine writes and flushes as it writes standard output.
        cookie_io_functions_t io{};
        io.write = &live_control::write_text;
        text_stream_ = fopencookie(this, "w", io);
        if (text_stream_ != nullptr)
            std::setvbuf(text_stream_, nullptr, _IONBF, 0);
    }

    live_control::~live_control()
    {
        if (text_stream_ != nullptr)
            std::fclose(text_stream_);
    }

    ssize_t live_control::write_text(void *cookie, const char *bytes, size_t size)
    {
        live_control &c = *static_cast<live_control *>(cookie);
        if (c.settings_.text_copy != nullptr)
        {
            std::fwrite(bytes, 1, size, c.settings_.text_copy);
            std::fflush(c.settings_.text_copy);
        }
        std::lock_guard<std::mutex> lock(c.mutex_);
        c.text_.append(bytes, size);
        if (c.text_.size() > text_kept)
            c.text_.erase(0, c.text_.size() - text_kept / 2);
        c.history_.append(bytes, size);
        if (c.history_.size() > 2 * history_kept)
            c.history_.erase(0, c.history_.size() - history_kept);
        return static_cast<ssize_t>(size);
    }

    void live_control::attach()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = true;
        changed_.notify_all();
    }

    void live_control::detach()
    {
        hold_key(0);
    }

    void live_control::run()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = false;
        steps_asked_ = 0;
        attention_ = true;
        changed_.notify_all();
    }

    void live_control::pause()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        paused_ = true;
        attention_ = true;
        changed_.notify_all();
    }

    void live_control::step()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // A step while running pauses first; while paused it runs one step
        // (settings_.unit) and pauses again. Steps asked faster than they run
        // are not queued beyond one.
        if (paused_)
            steps_asked_ = 1;
        paused_ = true;
        attention_ = true;
        changed_.notify_all();
    }

    void live_control::restart()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_)
            return;
        restart_ = true;
        paused_ = false;
        steps_asked_ = 0;
        attention_ = true;
        changed_.notify_all();
    }

    void live_control::set_speed(uint32_t steps_per_second)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        speed_ = steps_per_second;
        attention_ = true;
        changed_.notify_all();
    }

    void live_control::hold_key(int16_t code)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held_key_ = code;
        if (code != 0)
            tapped_key_ = code;
        if (code != 0 && presses_.size() < presses_kept)
            presses_.push_back({code, clock::now()});
        changed_.notify_all();
    }

    void live_control::quit(run_status status, const char *signal_name)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (quit_)
            return;
        quit_ = true;
        quit_status_ = status;
        quit_signal_ = signal_name;
        attention_ = true;
        changed_.notify_all();
    }

    bool live_control::take_screen(uint64_t &version, screen_words &out)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (version == screen_version_)
            return false;
        out = screen_;
        version = screen_version_;
        return true;
    }

    std::string live_control::take_text(uint64_t &run, bool from_start)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        run = status_.run;
        std::string text;
        text.swap(text_);
        if (from_start)
            text = history_.substr(history_.size() > history_kept ? history_.size() - history_kept : 0);
        return text;
    }

    bool live_control::take_status(uint64_t &version, live_status &out)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (version == status_version_)
            return false;
        out = status_;
        version = status_version_;
        return true;
    }

    void live_control::publish_screen(const machine &m)
    {
        const int16_t *words = m.memory() + screen_base;
        if (std::memcmp(words, screen_.data(), sizeof screen_) == 0)
            return;
        std::memcpy(screen_.data(), words, sizeof screen_);
        ++screen_version_;
    }

    void live_control::publish_status(run_state state, uint64_t steps, double steps_per_second, std::string report,
                                      bool waiting_for_key, int exit_status)
    {
        status_.state = state;
        status_.steps = steps;
        status_.steps_per_second = steps_per_second;
        status_.report = std::move(report);
        status_.waiting_for_key = waiting_for_key;
        status_.exit_status = exit_status;
        ++status_version_;
    }

    int live_control::run_machine()
    {
        for (;;)
        {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [&] { return started_ || quit_; });
                if (quit_)
                    return quit_status_;
                restart_ = false;
                presses_.clear();
                ++status_.run;
                text_.clear();
                history_.clear();
                publish_status(paused_ ? run_state::paused : run_state::running, 0, 0);
                attention_ = true; // the first checkpoint sees a pause asked before the start
            }
            hooks h(*this);
            run_options options;
            options.step_limit = settings_.step_limit;
            options.text_output = text_stream_;
            options.live = &h;
            const clock::time_point start = clock::now();
            auto m = std::make_unique<machine>(p_, options);
            const run_status status = m->run();
            const double seconds = std::chrono::duration<double>(clock::now() - start).count();
            std::unique_lock<std::mutex> lock(mutex_);
            if (restart_ && !quit_)
                continue;
            publish_screen(*m);
            publish_status(run_state::ended, m->steps(), seconds > 0 ? m->steps() / seconds : 0, m->report(), false,
                           status);
            lock.unlock();
            std::fputs(m->report().c_str(), stderr);
            if (settings_.stats)
                std::fprintf(stderr, "steps: %llu\ncalls: %llu\ndeepest stack: %d\nheap in use: %d\ntime: %.3f\n"
                                     "steps per second: %.0f\n",
                             static_cast<unsigned long long>(m->steps()), static_cast<unsigned long long>(m->calls()),
                             m->deepest_stack(), m->heap_in_use(), seconds, seconds > 0 ? m->steps() / seconds : 0.0);
            std::fflush(stderr);
            lock.lock();
            final_memory_.assign(m->memory(), m->memory() + ram_size);
            changed_.wait(lock, [&] { return restart_ || quit_; });
            if (quit_)
                return quit_status_;
        }
    }
}
