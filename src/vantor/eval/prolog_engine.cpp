#include "eval/prolog_engine.hpp"

#include <SWI-Prolog.h>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <signal.h>

#include <chrono>
#include <clocale>
#include <future>
#include <thread>
#include <filesystem>
#include <mutex>
#include <string>

#include "eval/evaluate.hpp"

#ifndef VANTOR_SWIPL_EXECUTABLE
#define VANTOR_SWIPL_EXECUTABLE "swipl"
#endif

namespace vantor::eval::engine {

namespace {

// Loaded once into the engine as module vantor_eval. Load errors are
// gathered through a message hook that is active only while this thread
// loads a theory file (and swallows that load's warnings too). The previous
// theory file is unloaded before the next one loads. Goals are read
// from their text and run once under an inference limit, and an exception
// comes back as its printed message.
constexpr const char* kHelperSource = R"PL(
:- module(vantor_eval, []).
:- thread_local collecting/0, collected/1, guarded/0, halt_refused/0.
:- dynamic loaded/2.            % loaded(Role, File): theory or background
:- dynamic defined_in/2.        % defined_in(File, Name/Arity)
:- multifile user:message_hook/3.
:- dynamic user:message_hook/3.

user:message_hook(_Term, Kind, Lines) :-
    vantor_eval:collecting,
    vantor_eval:collect(Kind, Lines).

% halt/0,1 from a theory, its background or an example would end the host
% process: refused while this thread evaluates (halt then fails).
:- at_halt(vantor_eval:refuse_halt).
refuse_halt :-
    guarded, !,
    assertz(halt_refused),
    cancel_halt('a theory or an example called halt/0,1').
refuse_halt.

guarded(Goal) :-
    retractall(halt_refused),
    setup_call_cleanup(assertz(guarded), Goal, retractall(guarded)).

refused_text("halt/0,1 was called while evaluating a theory; it is refused, since it would end the host process").

collect(error, Lines) :- !,
    lines_text(Lines, Text),
    assertz(collected(Text)).
collect(warning, _).

lines_text(Lines, Text) :-
    with_output_to(string(Text0), print_message_lines(current_output, '', Lines)),
    split_string(Text0, "", "\n ", [Text]).

error_text(E, Text) :-
    (   catch('$messages':translate_message(E, Lines, []), _, fail)
    ->  lines_text(Lines, Text)
    ;   term_string(E, Text)
    ).

% Loads File into module user as the source of Role, replacing the file
% that held that role before. Unloading first, even when the file name is
% the same, makes the load fresh: reloading over a tabled predicate leaves
% the old table wrapper in a state where the new clauses run untabled.
load(Role, File, Errors) :-
    unload(Role),
    retractall(collected(_)),
    setup_call_cleanup(
        assertz(collecting),
        catch(guarded(load_files(user:File, [if(true)])), E, print_message(error, E)),
        retractall(collecting)),
    assertz(loaded(Role, File)),
    record_definitions(File),
    findall(T, retract(collected(T)), Errors0),
    (   halt_refused
    ->  refused_text(H), append(Errors0, [H], Errors)
    ;   Errors = Errors0
    ).

% unload_file/1 alone leaves a predicate that has been called answering
% with its old clauses; abolishing what the file defined removes them. A
% predicate belongs to one loaded file only (a theory that shares one with
% the background is loaded together with it), so nothing else is lost.
unload(Role) :-
    forall(retract(loaded(Role, File)),
           ( catch(unload_file(File), _, true),
             forall(retract(defined_in(File, PI)), catch(abolish(user:PI), _, true)) )).

% The predicates File gives clauses, read from its text: the engine's own
% record of a predicate's file stays with the first file that defined it.
record_definitions(File) :-
    setup_call_cleanup(open(File, read, S), catch(record_heads(S, File), _, true), close(S)).

record_heads(S, File) :-
    repeat,
    read_term(S, T, [syntax_errors(quiet)]),
    (   T == end_of_file
    ->  !
    ;   clause_head(T, Head),
        callable(Head), Head \= _:_,
        functor(Head, Name, Arity),
        \+ defined_in(File, Name/Arity),
        assertz(defined_in(File, Name/Arity)),
        fail
    ).

clause_head((:- _), _) :- !, fail.
clause_head((?- _), _) :- !, fail.
clause_head((Head :- _), Head) :- !.
clause_head(Head, Head).

% A source runs nothing while it loads: no directive (which could print,
% change operators or flags, or declare a predicate dynamic or tabled).
% Unreadable text counts as a directive: the caller then takes the path
% that reproduces the engine's own error.
free_of_directives(File) :-
    setup_call_cleanup(open(File, read, S),
                       \+ catch(next_directive(S), _, true),
                       close(S)).

next_directive(S) :-
    repeat,
    read_term(S, T, []),
    (   T == end_of_file
    ->  !, fail
    ;   directive(T)
    ->  !
    ;   fail
    ).

directive((:- _)).
directive((?- _)).

% The loaded background defines only static predicates of module user that
% no hook reads (term_expansion/2 is multifile, for one): loading a theory
% next to it then means what loading both as one file means.
plain_background :-
    loaded(background, File),
    \+ ( defined_in(File, Name/Arity),
         functor(Head, Name, Arity),
         (   predicate_property(user:Head, dynamic)
         ;   predicate_property(user:Head, multifile)
         ;   predicate_property(user:Head, tabled)
         ;   predicate_property(user:Head, imported_from(_))
         )
       ).

% The theory file can load on its own next to the loaded background: its
% only directives are the header's style checks and tables of its own
% predicates, and it defines no predicate the background defines.
separable_theory(File) :-
    setup_call_cleanup(open(File, read, S),
                       \+ catch(next_clash(S), _, true),
                       close(S)).

next_clash(S) :-
    repeat,
    read_term(S, T, []),
    (   T == end_of_file
    ->  !, fail
    ;   clash(T)
    ->  !
    ;   fail
    ).

clash((:- D)) :- !, \+ header_directive(D).
clash((?- _)) :- !.
clash((Head :- _)) :- !, background_defines(Head).
clash((_ --> _)) :- !.
clash(Head) :- background_defines(Head).

header_directive(style_check(_)).
header_directive(table(Name/Arity)) :-
    functor(Generic, Name, Arity),
    \+ background_defines(Generic).

background_defines(Head) :- \+ callable(Head), !.
background_defines(_:_) :- !.
background_defines(Head) :-
    loaded(background, File),
    functor(Head, Name, Arity),
    defined_in(File, Name/Arity).

prove(Text, Limit, Result) :-
    catch(guarded(prove_(Text, Limit, Result0)), E,
          ( error_text(E, M), Result0 = error(M) )),
    (   halt_refused
    ->  refused_text(H), Result = error(H)
    ;   Result = Result0
    ).

prove_(Text, Limit, Result) :-
    term_string(Goal, Text),
    (   call_with_inference_limit(user:Goal, Limit, R)
    ->  (   R == inference_limit_exceeded
        ->  Result = limit
        ;   Result = true
        )
    ;   Result = false
    ).
)PL";

std::mutex start_mutex;
bool started = false;
std::string start_failure;

predicate_t p_load, p_unload, p_prove, p_abolish, p_error_text;
predicate_t p_free_of_directives, p_plain_background, p_separable_theory;
atom_t a_true, a_false, a_limit;
functor_t f_error1;

constexpr int kCallFlags = PL_Q_NODEBUG | PL_Q_CATCH_EXCEPTION;

std::string text_of(term_t t) {
    char* s = nullptr;
    size_t len = 0;
    if (PL_get_nchars(t, &len, &s, CVT_ATOM | CVT_STRING | CVT_WRITEQ | REP_UTF8 | BUF_STACK)) {
        return std::string(s, len);
    }
    return "(unprintable Prolog term)";
}

// The pending exception of the last call, as the engine prints it; clears it.
std::string take_exception_text() {
    term_t ex = PL_exception(0);
    if (!ex) return "the Prolog engine reported failure without an exception";
    term_t copy = PL_copy_term_ref(ex);
    PL_clear_exception();
    term_t args = PL_new_term_refs(2);
    if (p_error_text && PL_put_term(args, copy) && PL_call_predicate(nullptr, kCallFlags, p_error_text, args)) {
        return text_of(args + 1);
    }
    PL_clear_exception();
    return text_of(copy);
}

std::string unavailable_message(const std::string& detail) {
    return "the SWI-Prolog engine could not be started (" + detail +
           "); install SWI-Prolog, e.g. `apt-get install swi-prolog-core` on Debian or Ubuntu";
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
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    });
    keeper.detach();
    return result.get();
}

}  // namespace

void ensure_started() {
    std::lock_guard<std::mutex> lock(start_mutex);
    if (started) return;
    if (!start_failure.empty()) throw PrologUnavailable(start_failure);
    int argc = 0;
    char** argv = nullptr;
    if (!PL_is_initialised(&argc, &argv)) {
        // The engine keeps argv; the host keeps its signal handlers and
        // terminal, and nothing is printed at start.
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
    {
        ThreadEngine attach;
        try {
            load_helper();
        } catch (const PrologUnavailable& e) {
            start_failure = e.what();
            throw;
        }
        p_load = PL_predicate("load", 3, "vantor_eval");
        p_unload = PL_predicate("unload", 1, "vantor_eval");
        p_free_of_directives = PL_predicate("free_of_directives", 1, "vantor_eval");
        p_plain_background = PL_predicate("plain_background", 0, "vantor_eval");
        p_separable_theory = PL_predicate("separable_theory", 1, "vantor_eval");
        p_prove = PL_predicate("prove", 3, "vantor_eval");
        p_error_text = PL_predicate("error_text", 2, "vantor_eval");
        p_abolish = PL_predicate("abolish_all_tables", 0, "user");
        a_true = PL_new_atom("true");
        a_false = PL_new_atom("false");
        a_limit = PL_new_atom("limit");
        f_error1 = PL_new_functor(PL_new_atom("error"), 1);
    }
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

namespace {

const char* role_name(Role role) { return role == Role::theory ? "theory" : "background"; }

// Runs a vantor_eval check on one file (or none); false when it fails or
// raises.
bool holds(predicate_t check, const std::string* path) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(path ? 1 : 0);
    bool ok = (!path || PL_put_chars(a, PL_ATOM | REP_UTF8, path->size(), path->data())) &&
              PL_call_predicate(nullptr, kCallFlags, check, a);
    if (!ok) PL_clear_exception();
    PL_discard_foreign_frame(frame);
    return ok;
}

}  // namespace

std::vector<std::string> load_source(Role role, const std::string& absolute_path) {
    std::vector<std::string> errors;
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(3);
    if (!PL_put_atom_chars(a, role_name(role)) ||
        !PL_put_chars(a + 1, PL_ATOM | REP_UTF8, absolute_path.size(), absolute_path.data()) ||
        !PL_call_predicate(nullptr, kCallFlags, p_load, a)) {
        errors.push_back(take_exception_text());
    } else {
        term_t list = PL_copy_term_ref(a + 2);
        term_t head = PL_new_term_ref();
        while (PL_get_list(list, head, list)) errors.push_back(text_of(head));
    }
    PL_discard_foreign_frame(frame);
    return errors;
}

void unload_source(Role role) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_ref();
    bool ok = PL_put_atom_chars(a, role_name(role)) && PL_call_predicate(nullptr, kCallFlags, p_unload, a);
    std::string failure = ok ? "" : take_exception_text();
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologError(failure);
}

bool free_of_directives(const std::string& absolute_path) { return holds(p_free_of_directives, &absolute_path); }

bool plain_background() { return holds(p_plain_background, nullptr); }

bool separable_theory(const std::string& absolute_path) { return holds(p_separable_theory, &absolute_path); }

void abolish_tables() {
    fid_t frame = PL_open_foreign_frame();
    term_t none = PL_new_term_refs(0);
    bool ok = PL_call_predicate(nullptr, kCallFlags, p_abolish, none);
    std::string failure = ok ? "" : take_exception_text();
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologError(failure);
}

Outcome prove(const std::string& goal_text, std::int64_t inference_limit) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(3);
    std::string failure;
    Outcome outcome = Outcome::not_proved;
    if (!PL_put_chars(a, PL_STRING | REP_UTF8, goal_text.size(), goal_text.data()) ||
        !PL_put_int64(a + 1, inference_limit) ||
        !PL_call_predicate(nullptr, kCallFlags, p_prove, a)) {
        failure = take_exception_text();
    } else {
        atom_t result;
        if (PL_get_atom(a + 2, &result)) {
            if (result == a_true) outcome = Outcome::proved;
            else if (result == a_limit) outcome = Outcome::limit_exceeded;
            else outcome = Outcome::not_proved;
        } else if (PL_is_functor(a + 2, f_error1)) {
            term_t message = PL_new_term_ref();
            PL_get_arg(1, a + 2, message);
            failure = text_of(message);
            if (failure.empty()) failure = "error while proving " + goal_text;
        } else {
            failure = "unexpected answer from the Prolog engine: " + text_of(a + 2);
        }
    }
    PL_discard_foreign_frame(frame);
    if (!failure.empty()) throw PrologError(failure);
    return outcome;
}

}  // namespace vantor::eval::engine
