// The watchdog: one thread of ours, with a Prolog engine, that stops the
// goal or load in progress when its time bound passes or the host
// interrupts it. Stopping throws vantor_stop(Why) into the running thread
// with thread_signal/2, which the engine takes at its next inference and
// which also ends a sleep or other blocking call. Also here: Ctrl-C of the
// host reaching the engine (SigintStopsEngine, request_stop).
#include "engine/watchdog.hpp"

#include <SWI-Prolog.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <mutex>
#include <thread>

#include "engine/engine_calls.hpp"
#include "engine/errors.hpp"
#include "engine/prolog_engine.hpp"

namespace vantor::engine {

namespace {

using calls::unavailable_message;


// Written by the SIGINT handler, so lock-free atomics only.
std::atomic<bool> stop_requested{false};
std::atomic<int> wake_write_fd{-1};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void wake_watchdog() noexcept {
    int fd = wake_write_fd.load();
    if (fd >= 0) {
        char byte = 1;
        ssize_t ignored = ::write(fd, &byte, 1);  // a full pipe is already awake
        (void)ignored;
    }
}

class Watchdog {
public:
    // Starts the thread; the engine must be running.
    void start() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw PrologUnavailable(unavailable_message("no pipe for the watchdog thread"));
        }
        read_fd_ = fds[0];
        wake_write_fd.store(fds[1]);
        install_kick_handler();
        std::thread([this] { run(); }).detach();
    }

    // Waking the watchdog costs two thread switches, too much for every
    // goal: while evaluations run it looks every tick on its own, and only
    // an idle watchdog is woken.
    void arm(record_t target, double seconds) {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            armed_ = true;
            fired_ = false;
            target_ = target;
            target_thread_ = pthread_self();
            bounded_ = seconds > 0 && std::isfinite(seconds);
            if (bounded_) {
                budget_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
                deadline_ = Clock::now() + budget_;
            }
            wake = idle_;
            idle_ = false;
        }
        if (wake) wake_watchdog();
    }

    // The next goal of a batch, under the same arming: its own time from
    // now. True when a stop was sent since the last (re)arming.
    bool restart() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (bounded_) deadline_ = Clock::now() + budget_;
        const bool fired = fired_;
        fired_ = false;
        return fired;
    }

    // True when a stop was sent to the armed thread.
    bool disarm() {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
        last_armed_ = Clock::now();
        if (target_) PL_erase(target_);
        target_ = 0;
        return fired_;
    }

private:
    using Clock = std::chrono::steady_clock;

    void run() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        if (PL_thread_attach_engine(nullptr) < 0) return;
        for (;;) {
            int timeout_ms = check();
            pollfd wake{read_fd_, POLLIN, 0};
            ::poll(&wake, 1, timeout_ms);
            char drain[64];
            while (::read(read_fd_, drain, sizeof drain) > 0) {
            }
        }
    }

    // Stops the armed goal when due; returns how long to sleep (-1: until woken).
    int check() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!armed_) {
            // Idle after a second without goals: sleep until armed.
            if (Clock::now() - last_armed_ > std::chrono::seconds(1)) {
                idle_ = true;
                return -1;
            }
            return kTickMs;
        }
        if (fired_) return kTickMs;
        if (stop_requested.exchange(false)) {
            fire("interrupt");
            return kTickMs;
        }
        if (bounded_ && Clock::now() >= deadline_) fire("time");
        return kTickMs;
    }

    static constexpr int kTickMs = 50;

    void fire(const char* why) {
        fired_ = true;
        fid_t frame = PL_open_foreign_frame();
        term_t a = PL_new_term_refs(2);
        term_t reason = PL_new_term_ref();
        bool ok = PL_recorded(target_, a) && PL_put_atom_chars(reason, why) &&
                  PL_cons_functor(reason, PL_new_functor(PL_new_atom("vantor_stop"), 1), reason) &&
                  PL_cons_functor(a + 1, PL_new_functor(PL_new_atom("throw"), 1), reason) &&
                  PL_call_predicate(nullptr, PL_Q_NODEBUG | PL_Q_CATCH_EXCEPTION,
                                    PL_predicate("thread_signal", 2, "system"), a);
        if (!ok) PL_clear_exception();
        PL_discard_foreign_frame(frame);
        // The engine takes the stop at its next inference; a thread blocked
        // in a system call (sleep/1, a read) is woken by a signal, after
        // which the engine looks at its pending stops.
        if (ok && kick_signal_ > 0) pthread_kill(target_thread_, kick_signal_);
    }

    // A real-time signal nobody else uses, with a handler that does nothing
    // and without SA_RESTART, so that it interrupts the call it lands in.
    void install_kick_handler() {
        int candidate = SIGRTMIN + 6;
        if (candidate > SIGRTMAX) return;
        struct sigaction current {};
        if (sigaction(candidate, nullptr, &current) != 0) return;
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler != SIG_DFL) return;
        struct sigaction kick {};
        kick.sa_handler = [](int) {};
        sigemptyset(&kick.sa_mask);
        kick.sa_flags = 0;
        if (sigaction(candidate, &kick, nullptr) == 0) kick_signal_ = candidate;
    }

    std::mutex mutex_;
    pthread_t target_thread_{};
    int kick_signal_ = 0;
    int read_fd_ = -1;
    bool armed_ = false, fired_ = false, bounded_ = false, idle_ = true;
    Clock::time_point last_armed_{};
    record_t target_ = 0;
    Clock::time_point deadline_{};
    Clock::duration budget_{};
};

Watchdog watchdog;

foreign_t pl_arm(term_t thread, term_t seconds) {
    double limit = 0;
    if (!PL_get_float(seconds, &limit)) return PL_type_error("float", seconds);
    watchdog.arm(PL_record(thread), limit);
    return TRUE;
}

foreign_t pl_disarm(term_t fired) { return PL_unify_bool(fired, watchdog.disarm()); }

foreign_t pl_restart(term_t fired) { return PL_unify_bool(fired, watchdog.restart()); }

struct sigaction host_sigint{};
std::atomic<int> sigint_users{0};

void on_sigint(int sig, siginfo_t* info, void* context) {
    int saved_errno = errno;
    stop_requested.store(true);
    wake_watchdog();
    errno = saved_errno;
    if (host_sigint.sa_flags & SA_SIGINFO) {
        if (host_sigint.sa_sigaction) host_sigint.sa_sigaction(sig, info, context);
    } else if (host_sigint.sa_handler != SIG_DFL && host_sigint.sa_handler != SIG_IGN) {
        host_sigint.sa_handler(sig);
    }
}

}  // namespace

void start_watchdog() {
    PL_register_foreign_in_module("vantor_eval", "vantor_arm", 2, reinterpret_cast<pl_function_t>(pl_arm), 0);
    PL_register_foreign_in_module("vantor_eval", "vantor_disarm", 1, reinterpret_cast<pl_function_t>(pl_disarm), 0);
    PL_register_foreign_in_module("vantor_eval", "vantor_restart", 1, reinterpret_cast<pl_function_t>(pl_restart), 0);
    watchdog.start();
}

void request_stop() noexcept {
    stop_requested.store(true);
    wake_watchdog();
}

SigintStopsEngine::SigintStopsEngine() {
    stop_requested.store(false);
    if (sigint_users.fetch_add(1) != 0) return;
    struct sigaction current {};
    if (sigaction(SIGINT, nullptr, &current) != 0) return;
    if (!(current.sa_flags & SA_SIGINFO) && (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN)) {
        return;  // nothing of the host's to chain to; Ctrl-C keeps its meaning
    }
    host_sigint = current;
    struct sigaction chained {};
    chained.sa_sigaction = on_sigint;
    chained.sa_mask = current.sa_mask;
    chained.sa_flags = (current.sa_flags | SA_SIGINFO) & ~SA_RESETHAND;
    installed_ = sigaction(SIGINT, &chained, nullptr) == 0;
}

SigintStopsEngine::~SigintStopsEngine() {
    if (installed_) sigaction(SIGINT, &host_sigint, nullptr);
    sigint_users.fetch_sub(1);
}

}  // namespace vantor::engine
