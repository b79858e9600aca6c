#include "engine/swi_batch.hpp"

#include <SWI-Prolog.h>

#include <iterator>
#include <mutex>

#include "engine/errors.hpp"

namespace vantor::engine {

namespace {

// Asserted into module vantor_batch on first use. Outcomes: 1 proved,
// 0 not proved, 2 out of inferences.
constexpr const char* kClauses[] = {
    "set_args(Texts) :- maplist(args_of, Texts, L), T =.. [args|L], nb_setval(vantor_goal_args, T)",
    "args_of(Text, Args) :- string_concat(\"x\", Text, S), term_string(T, S), T =.. [_|Args]",
    "prove_each(Name, Limit, Rs) :- nb_getval(vantor_goal_args, T), functor(T, _, N), "
    "numlist(1, N, Is), maplist(outcome(T, Name, Limit), Is, Rs)",
    "prove_some(Name, Is, Limit, Rs) :- nb_getval(vantor_goal_args, T), maplist(outcome(T, Name, Limit), Is, Rs)",
    "outcome(T, Name, Limit, I, R) :- arg(I, T, Args), G =.. [Name|Args], "
    "( call_with_inference_limit(user:G, Limit, X) -> ( X == inference_limit_exceeded -> R = 2 ; R = 1 ) ; R = 0 )",
};

constexpr int kFlags = PL_Q_NODEBUG | PL_Q_CATCH_EXCEPTION;

std::once_flag defined;
predicate_t p_set_args, p_prove_each, p_prove_some;

std::string pending_error(const char* what) {
    term_t ex = PL_exception(0);
    std::string text = what;
    char* s = nullptr;
    size_t len = 0;
    if (ex && PL_get_nchars(ex, &len, &s, CVT_WRITEQ | REP_UTF8 | BUF_STACK)) text += ": " + std::string(s, len);
    PL_clear_exception();
    return text;
}

void define_helpers() {
    define_clauses("vantor_batch", {std::begin(kClauses), std::end(kClauses)}, "could not define the batch prover");
    p_set_args = PL_predicate("set_args", 1, "vantor_batch");
    p_prove_each = PL_predicate("prove_each", 3, "vantor_batch");
    p_prove_some = PL_predicate("prove_some", 4, "vantor_batch");
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
                        PL_call_predicate(nullptr, kFlags, term_string, a) &&
                        PL_put_atom_chars(module, module_name) &&
                        PL_cons_functor(qualified, PL_new_functor(PL_new_atom(":"), 2), module, a) &&
                        PL_call_predicate(nullptr, kFlags, assertz, qualified);
        if (!ok) {
            std::string message = pending_error(what);
            PL_discard_foreign_frame(frame);
            throw PrologError(message);
        }
    }
    PL_discard_foreign_frame(frame);
}

void set_goal_arguments(const std::vector<std::string>& argument_texts) {
    std::call_once(defined, define_helpers);
    fid_t frame = PL_open_foreign_frame();
    term_t list = PL_new_term_ref();
    term_t item = PL_new_term_ref();
    PL_put_nil(list);
    bool ok = true;
    for (auto it = argument_texts.rbegin(); ok && it != argument_texts.rend(); ++it) {
        ok = PL_put_chars(item, PL_STRING | REP_UTF8, it->size(), it->data()) && PL_cons_list(list, item, list);
    }
    ok = ok && PL_call_predicate(nullptr, kFlags, p_set_args, list);
    std::string message = ok ? "" : pending_error("could not read the examples' arguments");
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologError(message);
}

namespace {

std::vector<Outcome> outcomes_of(term_t list) {
    std::vector<Outcome> out;
    term_t head = PL_new_term_ref();
    int value = 0;
    while (PL_get_list(list, head, list) && PL_get_integer(head, &value)) {
        out.push_back(value == 1 ? Outcome::proved : value == 2 ? Outcome::limit_exceeded : Outcome::not_proved);
    }
    return out;
}

// Calls `predicate` with (Name, [Positions,] Limit, Results).
std::vector<Outcome> run_batch(predicate_t predicate, const std::string& name,
                               const std::vector<std::size_t>* positions, std::int64_t inference_limit) {
    std::call_once(defined, define_helpers);
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(positions ? 4 : 3);
    term_t next = a + 1;
    bool ok = PL_put_chars(a, PL_ATOM | REP_UTF8, name.size(), name.data());
    if (positions) {
        term_t item = PL_new_term_ref();
        PL_put_nil(next);
        for (auto it = positions->rbegin(); ok && it != positions->rend(); ++it) {
            ok = PL_put_int64(item, static_cast<std::int64_t>(*it) + 1) && PL_cons_list(next, item, next);
        }
        ++next;
    }
    ok = ok && PL_put_int64(next, inference_limit) && PL_call_predicate(nullptr, kFlags, predicate, a);
    std::vector<Outcome> out;
    std::string message;
    if (ok) out = outcomes_of(PL_copy_term_ref(next + 1));
    else message = pending_error(("error while proving " + name).c_str());
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologError(message);
    return out;
}

}  // namespace

std::vector<Outcome> prove_each(const std::string& name, std::int64_t inference_limit) {
    return run_batch(p_prove_each, name, nullptr, inference_limit);
}

std::vector<Outcome> prove_some(const std::string& name, const std::vector<std::size_t>& positions,
                                std::int64_t inference_limit) {
    return run_batch(p_prove_some, name, &positions, inference_limit);
}

}  // namespace vantor::engine
