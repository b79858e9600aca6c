#include "eval/prolog_engine.hpp"

#include <SWI-Prolog.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cmath>
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
:- thread_local sandboxing/1, sandbox_checked/1, example_checked/2, loading_bounded/2, load_stopped/1.
:- dynamic loaded/2.            % loaded(Role, File): theory or background
:- dynamic defined_in/2.        % defined_in(File, Name/Arity)
:- dynamic baseline/1.          % predicates of user before any evaluation
:- multifile user:message_hook/3.
:- dynamic user:message_hook/3.
:- multifile user:term_expansion/2.
:- dynamic user:term_expansion/2.

user:message_hook(_Term, Kind, Lines) :-
    vantor_eval:collecting,
    vantor_eval:collect(Kind, Lines).

% halt/0,1 from a theory, its background, an example or a thread any of
% them started would end the host process: always refused (halt then
% fails, or the halting thread just ends).
:- at_halt(vantor_eval:refuse_halt).
refuse_halt :-
    (   guarded
    ->  assertz(halt_refused)
    ;   true
    ),
    cancel_halt('halt/0,1 called inside the embedded Prolog engine').

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

% What module user holds before any evaluation; everything else an
% evaluation leaves there (a background's or a goal's assertions, a
% theory's helpers) is removed when it ends.
record_baseline :-
    forall(( current_predicate(user:Name/Arity),
             functor(Head, Name, Arity),
             \+ predicate_property(user:Head, imported_from(_)) ),
           assertz(baseline(Name/Arity))).

sweep_user :-
    forall(( current_predicate(user:Name/Arity),
             \+ baseline(Name/Arity),
             functor(Head, Name, Arity),
             \+ predicate_property(user:Head, imported_from(_)),
             \+ ( loaded(background, File), defined_in(File, Name/Arity) ) ),
           catch(abolish(user:Name/Arity), _, true)).

% Runs Goal (once) with the watchdog armed: past Seconds, or on the host's
% interrupt, the watchdog throws vantor_stop(Why) into this thread.
% Outcome is true, false, stopped(time | interrupt) or error(E).
bounded(Goal, Seconds, Outcome) :-
    thread_self(Me),
    vantor_arm(Me, Seconds),
    catch(( call(Goal) -> Outcome0 = true ; Outcome0 = false ), E, true),
    vantor_disarm(Fired),
    (   Fired == true
    ->  absorb_stop
    ;   true
    ),
    (   var(E)
    ->  Outcome = Outcome0
    ;   E = vantor_stop(Why)
    ->  Outcome = stopped(Why)
    ;   Outcome = error(E)
    ).

% Loading runs a file's directives with the engine's signals held back, so
% no stop could reach them: each directive that is a goal (not a
% declaration the reader or compiler needs in place) runs in a thread of
% its own under the time bound while the load waits for it. Its failure or
% error is reported in the load as before; a stop ends the load.
user:term_expansion(Term, Out) :-
    vantor_eval:loading_bounded(File, Seconds),
    prolog_load_context(source, File),
    vantor_eval:expand(Term, Seconds, Out).

expand(Term, _, []) :-
    sandboxing(Origin),
    refusal(Term, Why), !,
    refuse(Term, Why, Origin).
expand((:- G), Seconds, Out) :-
    \+ in_place(G), !,
    stop_or_run(G, Seconds, Out).

stop_or_run(_, _, []) :- load_stopped(_), !.
stop_or_run(initialization(G), Seconds, (:- initialization(vantor_eval:run_directive(G, Seconds)))) :- !.
stop_or_run(initialization(G, When), Seconds, (:- initialization(vantor_eval:run_directive(G, Seconds), When))) :- !.
stop_or_run(G, Seconds, (:- vantor_eval:run_directive(G, Seconds))).

in_place(G) :- var(G), !.
in_place(G) :-
    callable(G),
    functor(G, Name, _),
    memberchk(Name, [dynamic, discontiguous, multifile, table, thread_local, op, set_prolog_flag,
                     style_check, module, use_module, ensure_loaded, include, encoding, meta_predicate,
                     public, license, expects_dialect, vantor_eval:run_directive]).

run_directive(_, _) :- load_stopped(_), !.
run_directive(G, Seconds) :-
    thread_self(Loader),
    thread_create(directive_worker(G, Seconds, Loader), Id, []),
    thread_get_message(Loader, vantor_directive(Id, Outcome, Halted)),
    thread_join(Id, _),
    (   Halted == true
    ->  assertz(halt_refused)
    ;   true
    ),
    (   Outcome = stopped(Why)
    ->  assertz(load_stopped(Why))
    ;   Outcome = error(E)
    ->  throw(E)
    ;   Outcome == true
    ).

directive_worker(G, Seconds, Loader) :-
    thread_self(Me),
    guarded(bounded(user:G, Seconds, Outcome)),
    (   halt_refused
    ->  Halted = true
    ;   Halted = false
    ),
    thread_send_message(Loader, vantor_directive(Me, Outcome, Halted)).

% A stop sent just as the goal ended is still queued for this thread: it is
% taken here, not in whatever this thread runs next.
absorb_stop :-
    catch(forall(between(1, 3, _), sleep(0)), vantor_stop(_), true).

% Facts of one predicate spread over a file are the rule in backgrounds
% written from tables; the warning the engine composes for each of them (and
% the hook then drops) would double the time of a large load.
load_quietly(File) :-
    setup_call_cleanup(style_check(-discontiguous),
                       load_files(user:File, [if(true)]),
                       style_check(+discontiguous)).

% Loads File into module user as the source of Role, replacing the file
% that held that role before. Unloading first, even when the file name is
% the same, makes the load fresh: reloading over a tabled predicate leaves
% the old table wrapper in a state where the new clauses run untabled.
% Origin is origin(Name, Skip) when the file's text after its first Skip
% lines is the user's file Name (named in sandbox refusals), or none.
load(Role, File, Origin, Seconds, Sandbox, Result) :-
    unload(Role),
    retractall(collected(_)),
    retractall(load_stopped(_)),
    setup_call_cleanup(
        ( assertz(collecting), assertz(loading_bounded(File, Seconds)), sandbox_on(Sandbox, Origin) ),
        catch(guarded(load_quietly(File)), E, print_message_text(E)),
        ( retractall(collecting), retractall(sandboxing(_)), retractall(loading_bounded(_, _)) )),
    (   retract(load_stopped(Why))
    ->  Outcome = stopped(Why)
    ;   Outcome = done
    ),
    assertz(loaded(Role, File)),
    record_definitions(File),
    (   Sandbox == true
    ->  refuse_defined_hooks(File, Origin)
    ;   true
    ),
    findall(T, retract(collected(T)), Errors0),
    (   halt_refused
    ->  refused_text(H), append(Errors0, [H], Errors)
    ;   Errors = Errors0
    ),
    (   Outcome = stopped(Why)
    ->  Result = Why
    ;   Result = Errors
    ).

% Clauses for hooks can slip past term expansion (the engine reads some of
% them itself); under the sandbox a file that defined one is refused.
refuse_defined_hooks(File, Origin) :-
    (   Origin = origin(Name, _)
    ->  true
    ;   Name = File
    ),
    forall(( defined_in(File, PI), PI = N/A, functor(Head, N, A),
             ( predicate_property(user:Head, multifile) ; engine_hook(N, A) ) ),
           ( format(string(Text), "~w: the sandbox refuses clauses for the hook ~q", [Name, PI]),
             assertz(collected(Text)) )).

print_message_text(E) :-
    error_text(E, Text),
    assertz(collected(Text)).

sandbox_on(true, Origin) :- !,
    use_module(library(sandbox), []),
    assertz(sandboxing(Origin)).
sandbox_on(_, _).

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

% --- The sandbox: while a source loads with it, every directive must be
% a declaration of the file's own predicates or a goal library(sandbox)
% accepts, and no clause may go into another module or extend a hook.
% Refused terms are dropped and reported as load errors naming their line.
refusal((:- D), Why) :- !, directive_refusal(D, Why).
refusal((?- D), Why) :- !, directive_refusal(D, Why).
refusal((Head :- _), Why) :- !, head_refusal(Head, Why).
refusal((Head --> _), Why) :- !, nonvar(Head), head_refusal(Head, Why).
refusal(Head, Why) :- head_refusal(Head, Why).

head_refusal(Head, "it is not a clause") :- \+ callable(Head), !.
head_refusal(_:_, "it adds a clause to another module") :- !.
head_refusal(Head, "it adds a clause to a hook or system predicate") :-
    (   predicate_property(user:Head, multifile)
    ;   predicate_property(system:Head, defined)
    ;   functor(Head, Name, Arity), engine_hook(Name, Arity)
    ), !.

% Hooks the engine calls by name in module user, whether or not a library
% has declared them yet (an undeclared one has no properties to test).
engine_hook(term_expansion, 2).
engine_hook(term_expansion, 4).
engine_hook(goal_expansion, 2).
engine_hook(goal_expansion, 4).
engine_hook(message_hook, 3).
engine_hook(portray, 1).
engine_hook(prolog_load_file, 2).
engine_hook(exception, 3).
engine_hook(file_search_path, 2).
engine_hook(library_directory, 1).
engine_hook(prolog_file_type, 2).
engine_hook(resource, 3).
engine_hook(expand_query, 4).
engine_hook(expand_answer, 2).
engine_hook(message_property, 2).
engine_hook(prolog_exception_hook, 4).
engine_hook(prolog_exception_hook, 5).
engine_hook(prolog_trace_interception, 4).

directive_refusal(D, "it is not a goal") :- \+ callable(D), !.
directive_refusal(D, _) :- declaration(D), !, fail.
directive_refusal(initialization(G), Why) :- !, goal_refusal(G, Why).
directive_refusal(initialization(G, _), Why) :- !, goal_refusal(G, Why).
directive_refusal(D, Why) :- goal_refusal(D, Why).

goal_refusal(G, Why) :-
    catch(( sandbox:safe_goal(user:G) -> fail ; Why = "it is not safe" ), E,
          ( error_text(E, Why) )).

declaration(style_check(_)).
declaration(D) :-
    D =.. [Kind, Indicators],
    memberchk(Kind, [dynamic, discontiguous, table]),
    own_indicators(Indicators).

own_indicators(Indicators) :- var(Indicators), !, fail.
own_indicators((A, B)) :- !, own_indicators(A), own_indicators(B).
own_indicators([]) :- !.
own_indicators([H|T]) :- !, own_indicators(H), own_indicators(T).
own_indicators(Name/Arity) :- atom(Name), integer(Arity),
    functor(Head, Name, Arity),
    \+ head_refusal(Head, _).

refuse(Term, Why, Origin) :-
    source_location(_, Line0),
    (   Origin = origin(Name, Skip)
    ->  Line is Line0 - Skip
    ;   prolog_load_context(source, Name), Line = Line0
    ),
    with_output_to(string(Shown), print(Term)),
    format(string(Text), "~w:~d: the sandbox refuses ~s: ~s", [Name, Line, Shown, Why]),
    assertz(collected(Text)).

% --- Checks that let a caller load a background once and keep it.

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

% --- Rule texts: each must read as exactly one clause.
rule_problem(Text, Problem) :-
    catch(read_all_terms(Text, Terms), E, true),
    (   nonvar(E)
    ->  error_text(E, M),
        format(string(Problem), "it does not read as a clause (~s)", [M])
    ;   Terms == []
    ->  Problem = "it holds no clause"
    ;   Terms = [T]
    ->  (   var(T)
        ->  Problem = "it is a variable, not a clause"
        ;   directive(T)
        ->  Problem = "it is a directive, not a clause"
        ;   clause_head(T, Head), \+ callable(Head)
        ->  Problem = "its head is not a predicate"
        )
    ;   length(Terms, N),
        format(string(Problem), "it holds ~d clauses; a rule text must be exactly one", [N])
    ).

read_all_terms(Text, Terms) :-
    setup_call_cleanup(open_string(Text, S), read_terms(S, Terms), close(S)).

read_terms(S, Terms) :-
    read_term(S, T, [module(user)]),
    (   T == end_of_file
    ->  Terms = []
    ;   Terms = [T|Rest],
        read_terms(S, Rest)
    ).

% --- Proving examples.

% An example is a fact to be proved from the background and the theory,
% never a command: a call of a built-in or library predicate is refused.
example_problem(Goal, _) :- var(Goal), !, fail.   % the engine reports it
example_problem(Goal, _) :- \+ callable(Goal), !, fail.
example_problem(_:_, "it names a module; examples are plain atoms") :- !.
example_problem(Goal, _) :-
    functor(Goal, Name, Arity),
    example_checked(Name, Arity), !,
    fail.
example_problem(Goal, _) :-
    \+ predicate_property(user:Goal, imported_from(_)), !,
    functor(Goal, Name, Arity),
    assertz(example_checked(Name, Arity)),
    fail.
example_problem(Goal, Problem) :-
    predicate_property(user:Goal, imported_from(_)),
    functor(Goal, Name, Arity),
    format(string(Problem), "~q is a built-in or library predicate, not one of the background or the theory",
           [Name/Arity]).

% Under the sandbox every clause an example can reach must be safe; checked
% once per predicate and theory.
sandbox_problem(Goal, Problem) :-
    functor(Goal, Name, Arity),
    \+ sandbox_checked(Name/Arity),
    functor(Generic, Name, Arity),
    catch(( sandbox:safe_goal(user:Generic) -> fail ; Problem = "it is not safe" ), E,
          error_text(E, Problem)), !.
sandbox_problem(Goal, _) :-
    functor(Goal, Name, Arity),
    assertz(sandbox_checked(Name/Arity)),
    fail.

% Checks hold for one theory (and its background) only.
forget_sandbox_checks :-
    retractall(sandbox_checked(_)),
    retractall(example_checked(_, _)).

prove(Text, Limit, Seconds, Sandbox, Result) :-
    catch(guarded(prove_(Text, Limit, Seconds, Sandbox, Result0)), E,
          ( error_text(E, M), Result0 = error(M) )),
    (   halt_refused
    ->  refused_text(H), Result = error(H)
    ;   Result = Result0
    ).

prove_(Text, Limit, Seconds, Sandbox, Result) :-
    term_string(Goal, Text),
    (   example_problem(Goal, Problem)
    ->  Result = refused(Problem)
    ;   Sandbox == true,
        sandbox_problem(Goal, Problem)
    ->  Result = unsafe(Problem)
    ;   bounded(call_with_inference_limit(user:Goal, Limit, R), Seconds, Outcome),
        outcome_result(Outcome, R, Result)
    ).

outcome_result(true, R, Result) :-
    (   R == inference_limit_exceeded
    ->  Result = limit
    ;   Result = true
    ).
outcome_result(false, _, false).
outcome_result(stopped(Why), _, Why).
outcome_result(error(E), _, Result) :-
    (   E = error(resource_error(table_space), _)
    ->  Result = table_space
    ;   throw(E)
    ).
)PL";

std::mutex start_mutex;
bool started = false;
std::string start_failure;

predicate_t p_load, p_unload, p_prove, p_abolish, p_error_text, p_sweep, p_rule_problem;
predicate_t p_free_of_directives, p_plain_background, p_separable_theory, p_forget_sandbox_checks;
atom_t a_true, a_false, a_limit, a_time, a_interrupt, a_table_space;
functor_t f_error1, f_refused1, f_unsafe1;

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

std::string unavailable_message(const std::string& detail);

// --- The watchdog: one thread of ours, with a Prolog engine, that stops
// the goal or load in progress when its time bound passes or the host
// interrupts it. Stopping throws vantor_stop(Why) into the running thread
// with thread_signal/2, which the engine takes at its next inference and
// which also ends a sleep or other blocking call.

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
                deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(seconds));
            }
            wake = idle_;
            idle_ = false;
        }
        if (wake) wake_watchdog();
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
};

Watchdog watchdog;

foreign_t pl_arm(term_t thread, term_t seconds) {
    double limit = 0;
    if (!PL_get_float(seconds, &limit)) return PL_type_error("float", seconds);
    watchdog.arm(PL_record(thread), limit);
    return TRUE;
}

foreign_t pl_disarm(term_t fired) { return PL_unify_bool(fired, watchdog.disarm()); }

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

std::string unavailable_message(const std::string& detail) {
    return "the SWI-Prolog engine could not be started (" + detail +
           "); install SWI-Prolog, e.g. `apt-get install swi-prolog-core` on Debian or Ubuntu";
}

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
    p_load = PL_predicate("load", 6, "vantor_eval");
    p_unload = PL_predicate("unload", 1, "vantor_eval");
    p_sweep = PL_predicate("sweep_user", 0, "vantor_eval");
    p_free_of_directives = PL_predicate("free_of_directives", 1, "vantor_eval");
    p_plain_background = PL_predicate("plain_background", 0, "vantor_eval");
    p_separable_theory = PL_predicate("separable_theory", 1, "vantor_eval");
    p_forget_sandbox_checks = PL_predicate("forget_sandbox_checks", 0, "vantor_eval");
    p_rule_problem = PL_predicate("rule_problem", 2, "vantor_eval");
    p_prove = PL_predicate("prove", 5, "vantor_eval");
    p_error_text = PL_predicate("error_text", 2, "vantor_eval");
    p_abolish = PL_predicate("abolish_all_tables", 0, "user");
    a_true = PL_new_atom("true");
    a_false = PL_new_atom("false");
    a_limit = PL_new_atom("limit");
    a_time = PL_new_atom("time");
    a_interrupt = PL_new_atom("interrupt");
    a_table_space = PL_new_atom("table_space");
    f_error1 = PL_new_functor(PL_new_atom("error"), 1);
    f_refused1 = PL_new_functor(PL_new_atom("refused"), 1);
    f_unsafe1 = PL_new_functor(PL_new_atom("unsafe"), 1);
    PL_register_foreign_in_module("vantor_eval", "vantor_arm", 2, reinterpret_cast<pl_function_t>(pl_arm), 0);
    PL_register_foreign_in_module("vantor_eval", "vantor_disarm", 1, reinterpret_cast<pl_function_t>(pl_disarm), 0);
}

// The helper module, its predicates and the engine-wide settings, loaded
// once with an engine attached to the calling thread.
void prepare_helpers() {
    ThreadEngine attach;
    try {
        load_helper();
        look_up_helpers();
        call_text("vantor_eval:record_baseline");
        call_text("set_prolog_flag(table_space, " + std::to_string(kTableSpaceBytes) + ")");
        watchdog.start();
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

namespace {

bool put_text(term_t t, int kind, const std::string& text) {
    return PL_put_chars(t, kind | REP_UTF8, text.size(), text.data());
}

bool put_bool(term_t t, bool value) { return PL_put_atom(t, value ? a_true : a_false); }

// Runs a vantor_eval predicate of no arguments; throws PrologError.
void run(predicate_t predicate) {
    fid_t frame = PL_open_foreign_frame();
    term_t none = PL_new_term_refs(0);
    bool ok = PL_call_predicate(nullptr, kCallFlags, predicate, none);
    std::string failure = ok ? "" : take_exception_text();
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologError(failure);
}

bool put_origin(term_t t, const std::optional<Origin>& origin) {
    if (!origin) return PL_put_atom_chars(t, "none");
    term_t args = PL_new_term_refs(2);
    return put_text(args, PL_ATOM, origin->name) && PL_put_integer(args + 1, origin->skip) &&
           PL_cons_functor_v(t, PL_new_functor(PL_new_atom("origin"), 2), args);
}

}  // namespace

LoadResult load_source(Role role, const std::string& absolute_path, const EvalSettings& settings,
                       const std::optional<Origin>& origin) {
    LoadResult result;
    bool interrupted = false;
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(6);
    if (!PL_put_atom_chars(a, role_name(role)) || !put_text(a + 1, PL_ATOM, absolute_path) ||
        !put_origin(a + 2, origin) || !PL_put_float(a + 3, settings.time_limit) ||
        !put_bool(a + 4, settings.sandbox) || !PL_call_predicate(nullptr, kCallFlags, p_load, a)) {
        result.errors.push_back(take_exception_text());
    } else {
        atom_t stopped;
        if (PL_get_atom(a + 5, &stopped)) {
            result.timed_out = stopped == a_time;
            interrupted = stopped == a_interrupt;
        } else {
            term_t list = PL_copy_term_ref(a + 5);
            term_t head = PL_new_term_ref();
            while (PL_get_list(list, head, list)) result.errors.push_back(text_of(head));
        }
    }
    PL_discard_foreign_frame(frame);
    if (interrupted) throw Interrupted();
    return result;
}

void unload_source(Role role) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_ref();
    bool ok = PL_put_atom_chars(a, role_name(role)) && PL_call_predicate(nullptr, kCallFlags, p_unload, a);
    std::string failure = ok ? "" : take_exception_text();
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologError(failure);
    if (role == Role::theory) run(p_forget_sandbox_checks);
}

void sweep_user_module() { run(p_sweep); }

bool free_of_directives(const std::string& absolute_path) { return holds(p_free_of_directives, &absolute_path); }

bool plain_background() { return holds(p_plain_background, nullptr); }

bool separable_theory(const std::string& absolute_path) { return holds(p_separable_theory, &absolute_path); }

void abolish_tables() { run(p_abolish); }

std::optional<std::string> rule_problem(const std::string& rule_text) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(2);
    std::optional<std::string> problem;
    if (put_text(a, PL_STRING, rule_text) && PL_call_predicate(nullptr, kCallFlags, p_rule_problem, a)) {
        problem = text_of(a + 1);
    } else if (PL_exception(0)) {
        problem = take_exception_text();
    }
    PL_discard_foreign_frame(frame);
    return problem;
}

namespace {

// The answer of prove/5 as an outcome; throws for refusals and errors.
Outcome outcome_of(term_t answer, const std::string& goal_text) {
    atom_t result;
    if (PL_get_atom(answer, &result)) {
        if (result == a_true) return Outcome::proved;
        if (result == a_false) return Outcome::not_proved;
        if (result == a_limit) return Outcome::limit_exceeded;
        if (result == a_time) return Outcome::time_exceeded;
        if (result == a_table_space) return Outcome::space_exceeded;
        if (result == a_interrupt) throw Interrupted();
    } else if (term_t message = PL_new_term_ref(); PL_get_arg(1, answer, message)) {
        std::string text = text_of(message);
        if (PL_is_functor(answer, f_refused1)) {
            throw RefusedInput("example '" + goal_text + "' is refused: " + text);
        }
        if (PL_is_functor(answer, f_unsafe1)) {
            throw PrologError("the sandbox refuses example '" + goal_text + "': " + text);
        }
        if (PL_is_functor(answer, f_error1)) {
            throw PrologError(text.empty() ? "error while proving " + goal_text : text);
        }
    }
    throw PrologError("unexpected answer from the Prolog engine: " + text_of(answer));
}

}  // namespace

Outcome prove(const std::string& goal_text, std::int64_t inference_limit, const EvalSettings& settings) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(5);
    if (!put_text(a, PL_STRING, goal_text) || !PL_put_int64(a + 1, inference_limit) ||
        !PL_put_float(a + 2, settings.time_limit) || !put_bool(a + 3, settings.sandbox) ||
        !PL_call_predicate(nullptr, kCallFlags, p_prove, a)) {
        std::string failure = take_exception_text();
        PL_discard_foreign_frame(frame);
        throw PrologError(failure);
    }
    try {
        Outcome outcome = outcome_of(a + 4, goal_text);
        PL_discard_foreign_frame(frame);
        return outcome;
    } catch (...) {
        PL_discard_foreign_frame(frame);
        throw;
    }
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

}  // namespace vantor::eval::engine
