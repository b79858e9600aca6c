// The process's embedded SWI-Prolog engine, as the evaluator uses it.
#pragma once

#include <signal.h>

#include <cstdint>
#include <string>
#include <vector>

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

// Loads (or reloads) a source file into module user, replacing what the
// previously loaded theory file defined. Returns the error messages the load
// reported (empty when it loaded cleanly); warnings are dropped.
std::vector<std::string> load_theory_file(const std::string& absolute_path);

// Drops every tabled answer, so no theory sees another's tables.
void abolish_tables();

enum class Outcome { proved, not_proved, limit_exceeded };

// Reads `goal_text` as a term and runs it once in module user under an
// inference limit. Throws PrologError with the engine's message when the
// text does not parse or the goal raises.
Outcome prove(const std::string& goal_text, std::int64_t inference_limit);

}  // namespace vantor::eval::engine
