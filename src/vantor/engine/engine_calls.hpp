// What the engine's own files share: the helper module's predicates, the
// flags every call uses, and turning terms and exceptions into text.
// Internal to engine/; callers use prolog_engine.hpp.
#pragma once

#include <SWI-Prolog.h>

#include <string>
#include <string_view>

namespace vantor::engine::calls {

// Calls catch exceptions (they come back as text) and never start the
// debugger.
inline constexpr int kCallFlags = PL_Q_NODEBUG | PL_Q_CATCH_EXCEPTION;

// The predicates, atoms and functors of module vantor_eval, looked up once
// when the engine starts.
struct Helpers {
    predicate_t load, unload, prove, abolish, error_text, restore_state, rule_problem;
    predicate_t free_of_directives, plain_background, separable_theory, forget_sandbox_checks;
    predicate_t set_args, facts_program, prove_each, prove_some, example_shape;
    atom_t a_true, a_false, a_limit, a_time, a_interrupt, a_table_space;
    functor_t f_error1, f_refused1, f_unsafe1;
};
extern Helpers helpers;

// A term as text (atoms and strings as they are, other terms quoted).
std::string text_of(term_t t);

// The pending exception of the last call, as the engine prints it; clears it.
std::string take_exception_text();

bool put_text(term_t t, int kind, const std::string& text);
bool put_bool(term_t t, bool value);

// Runs a vantor_eval predicate of no arguments; throws PrologError.
void run(predicate_t predicate);

// Runs a vantor_eval check on one file (or none); false when it fails or
// raises.
bool holds(predicate_t check, const std::string* path);

// True when `text` plainly holds at most one clause: outside quotes no
// clause end (a "." before layout) but possibly the last, no comment and no
// character code or radix number (whose quote the scan cannot follow). The
// engine's quick reader, which stops at the first clause end, then reads all
// of it; other texts are read term by term.
bool plainly_one_term(std::string_view text);

// The message of PrologUnavailable, with what to install.
std::string unavailable_message(const std::string& detail);

}  // namespace vantor::engine::calls
