// The process's embedded SWI-Prolog engine, as the evaluator uses it.
#pragma once

#include <signal.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/prover.hpp"

namespace vantor::engine {

// Starts the engine on first use (throws PrologUnavailable when it cannot).
void ensure_started();

// Gives the calling thread a Prolog engine for the lifetime of the object
// (a no-op on threads that already have one).
class ThreadEngine {
public:
    ThreadEngine();
    ~ThreadEngine();
    ThreadEngine(const ThreadEngine&) = delete;
    ThreadEngine& operator=(const ThreadEngine&) = delete;

private:
    bool attached_ = false;
    stack_t saved_altstack_{};
};

// A loaded source file plays one of two roles; loading a file for a role
// unloads the file that played it before.
enum class Role { theory, background };

// Where the text of a combined file comes from: after its first `skip`
// lines it is the user's file `name` (sandbox refusals name that file's line).
struct Origin {
    std::string name;
    int skip = 0;
};

struct LoadResult {
    // The error messages the load reported (warnings are dropped).
    std::vector<std::string> errors;
    // The load ran past the time bound (and was stopped).
    bool timed_out = false;
};

// Loads (or reloads) a source file into module user for `role`, bounded by
// `settings`. `may_be_facts`: the file's text has no ":-", "?-" or "-->",
// so it is first tried as plain facts (see loading.pl). Throws Interrupted.
LoadResult load_source(Role role, const std::string& absolute_path, const EvalSettings& settings,
                       const std::optional<Origin>& origin = std::nullopt, bool may_be_facts = false);

// Removes the clauses of the file that plays `role`, if any.
void unload_source(Role role);

// Puts the engine back as it was before the first evaluation: removes every
// predicate of module user that was not there then and is not the loaded
// background's (what directives and goals asserted), and restores the
// flags, operators, character conversions and the calling thread's global
// variables; no later evaluation sees what this one changed.
void restore_state();

// The file holds clauses only: reading it runs no directive. False too when
// it cannot be read or parsed.
bool free_of_directives(const std::string& absolute_path);

// The loaded background defines static predicates of module user only, none
// of them a hook, dynamic or tabled.
bool plain_background();

// The theory file defines no predicate of the loaded background and runs no
// directive but style checks and tables of its own predicates, so it can be
// loaded on its own next to the background.
bool separable_theory(const std::string& absolute_path);

// Drops every tabled answer, so no theory sees another's tables.
void abolish_tables();

// Why a rule text (as written to the theory file, final "." included) is
// not exactly one clause, or nothing when it is.
std::optional<std::string> rule_problem(const std::string& rule_text);

// The predicate of an example text read as exactly one fact (no clause,
// directive or module), by the engine's reader. Throws RefusedInput saying
// why it is not one.
struct ExampleShape {
    std::string name;
    int arity = 0;
};
ExampleShape example_shape(const std::string& text);

// Reads `goal_text` as a term and runs it once in module user under an
// inference limit and the time bound. Throws ValueError when the example
// calls a built-in or library predicate, PrologError with the engine's
// message when the text does not parse, the goal raises or the sandbox
// refuses it, Interrupted when the host interrupts it.
Outcome prove(const std::string& goal_text, std::int64_t inference_limit, const EvalSettings& settings);

// While an object lives (on the thread that takes Ctrl-C, the host's main
// thread), SIGINT also stops the engine's current load or goal: a handler
// chained in front of the host's records it and wakes the watchdog, which
// stops the goal, then calls the host's handler as before. A pending stop
// from an earlier call is forgotten when it is made.
class SigintStopsEngine {
public:
    SigintStopsEngine();
    ~SigintStopsEngine();
    SigintStopsEngine(const SigintStopsEngine&) = delete;
    SigintStopsEngine& operator=(const SigintStopsEngine&) = delete;

private:
    bool installed_ = false;
};

// Asks the engine to stop its current load or goal, or the next one armed
// (async-signal-safe).
void request_stop() noexcept;

}  // namespace vantor::engine
