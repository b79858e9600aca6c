// Starting the process's engine: once, on a keeper thread that never ends,
// with the helper module (compiled in from prolog/*.pl) loaded and the
// watchdog running; and attaching an engine to each calling thread.
#include <SWI-Prolog.h>

#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "engine/engine_calls.hpp"
#include "engine/errors.hpp"
#include "engine/prolog_engine.hpp"
#include "engine/watchdog.hpp"

#ifndef VANTOR_SWIPL_EXECUTABLE
#define VANTOR_SWIPL_EXECUTABLE "swipl"
#endif

namespace vantor::engine {

namespace {

using namespace calls;

// The helper module vantor_eval: loading, the sandbox, goals and limits,
// the state kept between evaluations.
constexpr const char kHelperSource[] =
#include "prolog_helpers.inc"
    ;

std::mutex start_mutex;
bool started = false;
std::string start_failure;

// Runs a goal given as text; throws PrologUnavailable when it fails.
void call_text(const std::string& text) {
    fid_t frame = PL_open_foreign_frame();
    term_t goal = PL_new_term_ref();
    bool ok = PL_chars_to_term(text.c_str(), goal) && PL_call(goal, nullptr);
    std::string failure = ok ? "" : take_exception_text();
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologUnavailable(unavailable_message("setting up failed at " + text + ": " + failure));
}

void load_helper() {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(2);
    bool ok = PL_put_chars(a, PL_STRING | REP_UTF8, std::string(kHelperSource).size(), kHelperSource) &&
              PL_call_predicate(nullptr, kCallFlags, PL_predicate("open_string", 2, "system"), a);
    if (ok) {
        term_t opts = PL_new_term_ref();
        term_t item = PL_new_term_ref();
        term_t quiet = PL_new_term_ref();
        PL_put_nil(opts);
        ok = PL_put_atom_chars(quiet, "true") &&
             PL_cons_functor(item, PL_new_functor(PL_new_atom("silent"), 1), quiet) &&
             PL_cons_list(opts, item, opts) &&
             PL_cons_functor(item, PL_new_functor(PL_new_atom("stream"), 1), a + 1) &&
             PL_cons_list(opts, item, opts);
        term_t load = PL_new_term_refs(2);
        ok = ok && PL_put_atom_chars(load, "vantor_eval") && PL_put_term(load + 1, opts) &&
             PL_call_predicate(nullptr, kCallFlags, PL_predicate("load_files", 2, "system"), load);
        std::string failure = ok ? "" : take_exception_text();
        PL_call_predicate(nullptr, kCallFlags, PL_predicate("close", 1, "system"), a + 1);
        if (!ok) {
            PL_discard_foreign_frame(frame);
            throw PrologUnavailable(unavailable_message("its helper code did not load: " + failure));
        }
    } else {
        std::string failure = take_exception_text();
        PL_discard_foreign_frame(frame);
        throw PrologUnavailable(unavailable_message(failure));
    }
    PL_discard_foreign_frame(frame);
}

// The engine reads the working directory as it starts and refuses to start
// when that directory has been deleted. The thread that starts it then takes
// a working directory of its own (the root), leaving the process's alone;
// every file the evaluator hands the engine has an absolute name.
void move_out_of_a_deleted_directory() {
    char probe[PATH_MAX];
    if (::getcwd(probe, sizeof probe) != nullptr || errno != ENOENT) return;
    if (::unshare(CLONE_FS) == 0) (void)::chdir("/");
}

// The main Prolog thread takes what other Prolog threads ask of it (halt/1
// called in a thread created by a background asks it to halt, which the
// at_halt hook then refuses) instead of leaving them to time out.
void serve_signals() {
    term_t goal = PL_new_term_ref();
    if (PL_chars_to_term("repeat, catch(thread_get_message(_), _, true), fail", goal)) {
        PL_call(goal, nullptr);
    }
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

// The engine's first (main) Prolog thread must outlive every use: when the
// thread that initialised it ends, the engine's thread-exit cleanup frees it
// and later calls corrupt the heap. So it is started on a thread of its own
// that never ends and never takes a signal; every caller attaches an engine.
int start_in_keeper_thread(int argc, char** argv) {
    std::promise<int> started_ok;
    std::future<int> result = started_ok.get_future();
    std::thread keeper([&started_ok, argc, argv] {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, nullptr);
        move_out_of_a_deleted_directory();
        int ok = PL_initialise(argc, argv);
        started_ok.set_value(ok);  // the promise is gone after this
        if (!ok) return;
        serve_signals();
    });
    keeper.detach();
    return result.get();
}

}  // namespace

namespace {

// Starts the engine itself. The engine keeps argv; the host keeps its
// signal handlers and terminal, and nothing is printed at start.
void initialise_engine() {
    static char exe[] = VANTOR_SWIPL_EXECUTABLE;
    static char quiet[] = "-q";
    static char no_signals[] = "--no-signals";
    static char no_tty[] = "--no-tty";
    static char no_packs[] = "--no-packs";
    static char no_pce[] = "--no-pce";
    static char* args[] = {exe, quiet, no_signals, no_tty, no_packs, no_pce, nullptr};
    if (!std::filesystem::exists(exe)) {
        // The library finds its home without the executable; argv[0]
        // must still name something.
        static char fallback[] = "swipl";
        args[0] = fallback;
    }
    // The engine may set the C locale from the environment; the host's
    // number formatting must not change under it.
    std::string saved_locale = std::setlocale(LC_ALL, nullptr) ? std::setlocale(LC_ALL, nullptr) : "C";
    int ok = start_in_keeper_thread(6, args);
    std::setlocale(LC_ALL, saved_locale.c_str());
    if (!ok) {
        start_failure = unavailable_message("PL_initialise failed");
        throw PrologUnavailable(start_failure);
    }
}

void look_up_helpers() {
    Helpers& h = helpers;
    h.load = PL_predicate("load", 7, "vantor_eval");
    h.unload = PL_predicate("unload", 1, "vantor_eval");
    h.restore_state = PL_predicate("restore_state", 0, "vantor_eval");
    h.set_args = PL_predicate("set_args", 3, "vantor_eval");
    h.facts_program = PL_predicate("facts_program", 5, "vantor_eval");
    h.prove_each = PL_predicate("prove_each", 5, "vantor_eval");
    h.prove_some = PL_predicate("prove_some", 6, "vantor_eval");
    h.example_shape = PL_predicate("example_shape", 3, "vantor_eval");
    h.free_of_directives = PL_predicate("free_of_directives", 1, "vantor_eval");
    h.plain_background = PL_predicate("plain_background", 0, "vantor_eval");
    h.separable_theory = PL_predicate("separable_theory", 1, "vantor_eval");
    h.forget_sandbox_checks = PL_predicate("forget_sandbox_checks", 0, "vantor_eval");
    h.rule_problem = PL_predicate("rule_problem", 2, "vantor_eval");
    h.prove = PL_predicate("prove", 6, "vantor_eval");
    h.error_text = PL_predicate("error_text", 2, "vantor_eval");
    h.abolish = PL_predicate("abolish_all_tables", 0, "user");
    h.a_true = PL_new_atom("true");
    h.a_false = PL_new_atom("false");
    h.a_limit = PL_new_atom("limit");
    h.a_time = PL_new_atom("time");
    h.a_interrupt = PL_new_atom("interrupt");
    h.a_table_space = PL_new_atom("table_space");
    h.f_error1 = PL_new_functor(PL_new_atom("error"), 1);
    h.f_refused1 = PL_new_functor(PL_new_atom("refused"), 1);
    h.f_unsafe1 = PL_new_functor(PL_new_atom("unsafe"), 1);
}

// The helper module, its predicates and the engine-wide settings, loaded
// once with an engine attached to the calling thread.
void prepare_helpers() {
    ThreadEngine attach;
    try {
        load_helper();
        look_up_helpers();
        start_watchdog();
        call_text("set_prolog_flag(table_space, " + std::to_string(kTableSpaceBytes) + ")");
        call_text("vantor_eval:record_baseline");
    } catch (const PrologUnavailable& e) {
        start_failure = e.what();
        throw;
    }
}

}  // namespace

void ensure_started() {
    std::lock_guard<std::mutex> lock(start_mutex);
    if (started) return;
    if (!start_failure.empty()) throw PrologUnavailable(start_failure);
    int argc = 0;
    char** argv = nullptr;
    if (!PL_is_initialised(&argc, &argv)) initialise_engine();
    prepare_helpers();
    started = true;
}

ThreadEngine::ThreadEngine() {
    if (PL_thread_self() == -1) {
        sigaltstack(nullptr, &saved_altstack_);
        if (PL_thread_attach_engine(nullptr) < 0) {
            throw PrologError("could not attach a Prolog engine to this thread");
        }
        attached_ = true;
    }
}

ThreadEngine::~ThreadEngine() {
    if (!attached_) return;
    PL_thread_destroy_engine();
    // The engine gives the thread an alternate signal stack and frees it with
    // the engine, but leaves it registered: the host's next signal handler
    // (Python installs them with SA_ONSTACK) would then run on freed memory.
    stack_t now;
    if (sigaltstack(nullptr, &now) == 0 &&
        (now.ss_sp != saved_altstack_.ss_sp || now.ss_flags != saved_altstack_.ss_flags)) {
        stack_t restore = saved_altstack_;
        if (restore.ss_flags & SS_DISABLE) {
            restore.ss_sp = nullptr;
            restore.ss_size = 0;
            restore.ss_flags = SS_DISABLE;
        }
        sigaltstack(&restore, nullptr);
    }
}

}  // namespace vantor::engine
