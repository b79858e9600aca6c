// The process's embedded SWI-Prolog engine, as the evaluator uses it.
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>
#include <vector>

#include "eval/prover.hpp"

namespace vantor::eval::engine {

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

// Loads (or reloads) a source file into module user for `role`. Returns the
// error messages the load reported (empty when it loaded cleanly); warnings
// are dropped.
std::vector<std::string> load_source(Role role, const std::string& absolute_path);

// Removes the clauses of the file that plays `role`, if any.
void unload_source(Role role);

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


// Reads `goal_text` as a term and runs it once in module user under an
// inference limit. Throws PrologError with the engine's message when the
// text does not parse or the goal raises.
Outcome prove(const std::string& goal_text, std::int64_t inference_limit);

}  // namespace vantor::eval::engine
