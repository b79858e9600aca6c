// Loading a source file into module user for a role (theory or
// background), bounded by the time limit and, when asked, checked by the
// sandbox (prolog/loading.pl, prolog/sandbox.pl); and the checks that let a
// background stay loaded between evaluations.
#include <SWI-Prolog.h>

#include <optional>
#include <string>

#include "engine/engine_calls.hpp"
#include "engine/errors.hpp"
#include "engine/prolog_engine.hpp"

namespace vantor::engine {

using namespace calls;

namespace {

const char* role_name(Role role) { return role == Role::theory ? "theory" : "background"; }

bool put_origin(term_t t, const std::optional<Origin>& origin) {
    if (!origin) return PL_put_atom_chars(t, "none");
    term_t args = PL_new_term_refs(2);
    return put_text(args, PL_ATOM, origin->name) && PL_put_integer(args + 1, origin->skip) &&
           PL_cons_functor_v(t, PL_new_functor(PL_new_atom("origin"), 2), args);
}

}  // namespace

LoadResult load_source(Role role, const std::string& absolute_path, const EvalSettings& settings,
                       const std::optional<Origin>& origin, bool may_be_facts) {
    LoadResult result;
    bool interrupted = false;
    fid_t frame = PL_open_foreign_frame();
    term_t a = PL_new_term_refs(7);
    if (!PL_put_atom_chars(a, role_name(role)) || !put_text(a + 1, PL_ATOM, absolute_path) ||
        !put_origin(a + 2, origin) || !PL_put_float(a + 3, settings.time_limit) ||
        !put_bool(a + 4, settings.sandbox) || !put_bool(a + 5, may_be_facts) ||
        !PL_call_predicate(nullptr, kCallFlags, helpers.load, a)) {
        result.errors.push_back(take_exception_text());
    } else {
        atom_t stopped;
        if (PL_get_atom(a + 6, &stopped)) {
            result.timed_out = stopped == helpers.a_time;
            interrupted = stopped == helpers.a_interrupt;
        } else {
            term_t list = PL_copy_term_ref(a + 6);
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
    bool ok = PL_put_atom_chars(a, role_name(role)) && PL_call_predicate(nullptr, kCallFlags, helpers.unload, a);
    std::string failure = ok ? "" : take_exception_text();
    PL_discard_foreign_frame(frame);
    if (!ok) throw PrologError(failure);
    if (role == Role::theory) run(helpers.forget_sandbox_checks);
}


bool free_of_directives(const std::string& absolute_path) { return holds(helpers.free_of_directives, &absolute_path); }

bool plain_background() { return holds(helpers.plain_background, nullptr); }

bool separable_theory(const std::string& absolute_path) { return holds(helpers.separable_theory, &absolute_path); }

}  // namespace vantor::engine
