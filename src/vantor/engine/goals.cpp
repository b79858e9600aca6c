// Proving one example goal (prolog/goals.pl): read as a term, refused when
// it is not a fact to prove, run once under the inference limit and the time
// bound; and checking that a rule text is exactly one clause.
#include <SWI-Prolog.h>

#include <optional>
#include <string>

#include "engine/engine_calls.hpp"
#include "engine/errors.hpp"
#include "engine/prolog_engine.hpp"

namespace vantor::engine {

using namespace calls;

std::optional<std::string> rule_problem(const std::string& rule_text) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(2);
    std::optional<std::string> problem;
    if (put_text(a, PL_STRING, rule_text) && PL_call_predicate(nullptr, kCallFlags, helpers.rule_problem, a)) {
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
        if (result == helpers.a_true) return Outcome::proved;
        if (result == helpers.a_false) return Outcome::not_proved;
        if (result == helpers.a_limit) return Outcome::limit_exceeded;
        if (result == helpers.a_time) return Outcome::time_exceeded;
        if (result == helpers.a_table_space) return Outcome::space_exceeded;
        if (result == helpers.a_interrupt) throw Interrupted();
    } else if (term_t message = PL_new_term_ref(); PL_get_arg(1, answer, message)) {
        std::string text = text_of(message);
        if (PL_is_functor(answer, helpers.f_refused1)) {
            throw RefusedInput("example '" + goal_text + "' is refused: " + text);
        }
        if (PL_is_functor(answer, helpers.f_unsafe1)) {
            throw PrologError("the sandbox refuses example '" + goal_text + "': " + text);
        }
        if (PL_is_functor(answer, helpers.f_error1)) {
            throw PrologError(text.empty() ? "error while proving " + goal_text : text);
        }
    }
    throw PrologError("unexpected answer from the Prolog engine: " + text_of(answer));
}

}  // namespace

Outcome prove(const std::string& goal_text, std::int64_t inference_limit, const EvalSettings& settings) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(6);
    if (!put_text(a, PL_STRING, goal_text) || !put_bool(a + 1, plainly_one_term(goal_text)) ||
        !PL_put_int64(a + 2, inference_limit) || !PL_put_float(a + 3, settings.time_limit) ||
        !put_bool(a + 4, settings.sandbox) ||
        !PL_call_predicate(nullptr, kCallFlags, helpers.prove, a)) {
        std::string failure = take_exception_text();
        PL_discard_foreign_frame(frame);
        throw PrologError(failure);
    }
    try {
        Outcome outcome = outcome_of(a + 5, goal_text);
        PL_discard_foreign_frame(frame);
        return outcome;
    } catch (...) {
        PL_discard_foreign_frame(frame);
        throw;
    }
}

ExampleShape example_shape(const std::string& text) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(3);
    bool ok = put_text(a, PL_STRING, text) && put_bool(a + 1, plainly_one_term(text)) &&
              PL_call_predicate(nullptr, kCallFlags, helpers.example_shape, a);
    std::string failure;
    ExampleShape shape;
    term_t part = PL_new_term_ref();
    int arity = 0;
    if (!ok) {
        failure = take_exception_text();
    } else if (PL_get_arg(1, a + 2, part) && PL_is_functor(a + 2, PL_new_functor(PL_new_atom("bad"), 1))) {
        failure = text_of(part);
    } else if (PL_get_arg(1, a + 2, part) && (shape.name = text_of(part), true) && PL_get_arg(2, a + 2, part) &&
               PL_get_integer(part, &arity)) {
        shape.arity = arity;
    } else {
        failure = "unexpected answer from the Prolog engine: " + text_of(a + 2);
    }
    PL_discard_foreign_frame(frame);
    if (!failure.empty()) throw RefusedInput(failure);
    return shape;
}

}  // namespace vantor::engine
