#include "engine/swi_batch.hpp"

#include <SWI-Prolog.h>

#include <functional>

#include "engine/engine_calls.hpp"
#include "engine/errors.hpp"

namespace vantor::engine {

using namespace calls;

namespace {

// Texts with, for each, whether the quick reader may read it.
bool put_texts(term_t texts, term_t plains, const std::vector<std::string>& items) {
    term_t item = PL_new_term_ref();
    PL_put_nil(texts);
    PL_put_nil(plains);
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        if (!put_text(item, PL_STRING, *it) || !PL_cons_list(texts, item, texts) ||
            !put_bool(item, plainly_one_term(*it)) || !PL_cons_list(plains, item, plains)) {
            return false;
        }
    }
    return true;
}

// bad(Index, Problem) as ArgumentsRefused.
[[noreturn]] void throw_refused(term_t bad) {
    term_t index = PL_new_term_ref(), problem = PL_new_term_ref();
    std::int64_t at = 0;
    if (!PL_get_arg(1, bad, index) || !PL_get_int64(index, &at) || !PL_get_arg(2, bad, problem)) {
        throw PrologError("unexpected answer from the Prolog engine: " + text_of(bad));
    }
    throw ArgumentsRefused(static_cast<std::size_t>(at), text_of(problem));
}

// Runs `predicate` on (Texts, Plains, Extra..., Result); returns Result's
// argument for ok/1 (or nothing for ok), throws for bad/2.
std::string call_reading(predicate_t predicate, const std::vector<std::string>& items, int arity,
                         const std::function<bool(term_t)>& put_extra) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(arity);
    bool ok = put_texts(a, a + 1, items) && put_extra(a + 2) &&
              PL_call_predicate(nullptr, kCallFlags, predicate, a);
    try {
        if (!ok) throw PrologError(take_exception_text());
        term_t result = a + arity - 1;
        std::string out;
        if (PL_is_functor(result, PL_new_functor(PL_new_atom("bad"), 2))) throw_refused(result);
        if (term_t value = PL_new_term_ref(); PL_get_arg(1, result, value)) out = text_of(value);
        PL_discard_foreign_frame(frame);
        return out;
    } catch (...) {
        PL_discard_foreign_frame(frame);
        throw;
    }
}

Outcome outcome_of_code(int code) {
    switch (code) {
        case 1: return Outcome::proved;
        case 2: return Outcome::limit_exceeded;
        case 3: return Outcome::time_exceeded;
        case 4: return Outcome::space_exceeded;
        default: return Outcome::not_proved;
    }
}

// The answer of prove_each/prove_some: the outcome list, or why not.
std::vector<Outcome> outcomes_of(term_t answer, const std::string& name) {
    std::vector<Outcome> out;
    term_t list = PL_copy_term_ref(answer), head = PL_new_term_ref();
    int code = 0;
    while (PL_get_list(list, head, list) && PL_get_integer(head, &code)) out.push_back(outcome_of_code(code));
    if (PL_get_nil(list)) return out;
    atom_t why;
    if (PL_get_atom(answer, &why) && why == helpers.a_interrupt) throw Interrupted();
    term_t message = PL_new_term_ref();
    if (PL_is_functor(answer, helpers.f_unsafe1) && PL_get_arg(1, answer, message)) {
        throw PrologError("the sandbox refuses the goals of " + name + ": " + text_of(message));
    }
    if (PL_is_functor(answer, helpers.f_error1) && PL_get_arg(1, answer, message)) {
        throw PrologError("error while proving " + name + ": " + text_of(message));
    }
    throw PrologError("unexpected answer from the Prolog engine: " + text_of(answer));
}

// Calls `predicate` with (Name, [Positions,] Limit, Seconds, Sandbox, Result).
std::vector<Outcome> run_batch(predicate_t predicate, const std::string& name,
                               const std::vector<std::size_t>* positions, std::int64_t inference_limit,
                               const EvalSettings& settings) {
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(positions ? 6 : 5);
    term_t next = a + 1;
    bool ok = put_text(a, PL_ATOM, name);
    if (positions) {
        term_t item = PL_new_term_ref();
        PL_put_nil(next);
        for (auto it = positions->rbegin(); ok && it != positions->rend(); ++it) {
            ok = PL_put_int64(item, static_cast<std::int64_t>(*it) + 1) && PL_cons_list(next, item, next);
        }
        ++next;
    }
    ok = ok && PL_put_int64(next, inference_limit) && PL_put_float(next + 1, settings.time_limit) &&
         put_bool(next + 2, settings.sandbox) && PL_call_predicate(nullptr, kCallFlags, predicate, a);
    try {
        if (!ok) throw PrologError("error while proving " + name + ": " + take_exception_text());
        std::vector<Outcome> out = outcomes_of(next + 3, name);
        PL_discard_foreign_frame(frame);
        return out;
    } catch (...) {
        PL_discard_foreign_frame(frame);
        throw;
    }
}

}  // namespace

void define_clauses(const char* module_name, const std::vector<const char*>& clauses, const char* what) {
    fid_t frame = PL_open_foreign_frame();
    predicate_t term_string = PL_predicate("term_string", 2, "system");
    predicate_t assertz = PL_predicate("assertz", 1, "system");
    for (const char* clause : clauses) {
        term_t a = PL_new_term_refs(2);
        term_t module = PL_new_term_ref();
        term_t qualified = PL_new_term_ref();
        // term_string(Clause, Text), assertz(Module:Clause)
        const bool ok = PL_put_chars(a + 1, PL_STRING | REP_UTF8, static_cast<size_t>(-1), clause) &&
                        PL_call_predicate(nullptr, kCallFlags, term_string, a) &&
                        PL_put_atom_chars(module, module_name) &&
                        PL_cons_functor(qualified, PL_new_functor(PL_new_atom(":"), 2), module, a) &&
                        PL_call_predicate(nullptr, kCallFlags, assertz, qualified);
        if (!ok) {
            std::string message = std::string(what) + ": " + take_exception_text();
            PL_discard_foreign_frame(frame);
            throw PrologError(message);
        }
    }
    PL_discard_foreign_frame(frame);
}

void set_goal_arguments(const std::vector<std::string>& argument_texts) {
    call_reading(helpers.set_args, argument_texts, 3, [](term_t) { return true; });
}

std::string facts_program(const std::vector<std::string>& fact_texts, const std::string& name, int arity) {
    return call_reading(helpers.facts_program, fact_texts, 5, [&](term_t extra) {
        return put_text(extra, PL_ATOM, name) && PL_put_integer(extra + 1, arity);
    });
}

std::vector<Outcome> prove_each(const std::string& name, std::int64_t inference_limit,
                                const EvalSettings& settings) {
    return run_batch(helpers.prove_each, name, nullptr, inference_limit, settings);
}

std::vector<Outcome> prove_some(const std::string& name, const std::vector<std::size_t>& positions,
                                std::int64_t inference_limit, const EvalSettings& settings) {
    return run_batch(helpers.prove_some, name, &positions, inference_limit, settings);
}

}  // namespace vantor::engine
