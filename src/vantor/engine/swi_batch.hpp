// Proving one goal name over many argument tuples in a single call into
// SWI-Prolog: the arguments are read once (kept in a global variable of the
// calling thread's engine), then every goal is built from them as a term, so
// a batch costs one call and no text parsing per goal. Each goal runs as a
// single prove() would: under the inference limit, the time bound and, when
// asked, the sandbox.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/prover.hpp"

namespace vantor::engine {

// Asserts the clause texts into `module` (a helper module of ours). Throws
// PrologError, prefixed with `what`, when one does not read or assert.
void define_clauses(const char* module, const std::vector<const char*>& clauses, const char* what);

// Argument tuples as texts with their parentheses ("(a,b)"; "" for none).
// Throws ArgumentsRefused naming the first that does not read as exactly
// one argument list.
void set_goal_arguments(const std::vector<std::string>& argument_texts);

// Proves name(Args) in module user for every tuple of the last
// set_goal_arguments call on this thread, each once under `settings`.
// Throws PrologError (a goal raised, or the sandbox refuses it), Interrupted.
std::vector<Outcome> prove_each(const std::string& name, std::int64_t inference_limit,
                                const EvalSettings& settings);

// The same for the tuples at `positions` (0-based, in that order) only.
std::vector<Outcome> prove_some(const std::string& name, const std::vector<std::size_t>& positions,
                                std::int64_t inference_limit, const EvalSettings& settings);

// Facts of name/arity as a program text: each text must read as exactly one
// fact of that predicate and is written back by the engine. Throws
// ArgumentsRefused naming the first that does not.
std::string facts_program(const std::vector<std::string>& fact_texts, const std::string& name, int arity);

}  // namespace vantor::engine
