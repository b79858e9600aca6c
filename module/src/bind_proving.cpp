// Proved coverage of candidate rules and the set-cover selection over it.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/tuple.h>

#include <optional>

#include "bindings.hpp"
#include "py_proving.hpp"
#include "eval/fact_proving.hpp"
#include "run/proved_learning.hpp"
#include "eval/rule_coverage.hpp"
#include "learn/cover_selection.hpp"
#include "learn/search.hpp"
#include "learn/recursive_candidates.hpp"
#include "learn/threshold_candidates.hpp"
#include "data/files.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

using Covered = std::tuple<std::vector<std::int64_t>, std::vector<std::int64_t>, std::size_t>;

std::tuple<std::vector<Covered>, std::size_t> prove_rules(const std::vector<std::string>& rules,
                                                          const std::string& background,
                                                          const std::vector<std::string>& pos,
                                                          const std::vector<std::string>& neg,
                                                          const std::vector<std::string>& known_facts,
                                                          nb::handle time_limit, bool sandbox, nb::handle prove,
                                                          const std::string& prover) {
    const eval::EvalSettings settings = settings_from(time_limit, sandbox);
    const BatchProver chosen = learn::batch_prover_named(prover);
    eval::RuleProofs proofs;
    try {
        PyInterrupt interrupt;
        std::optional<PyProving> service;
        if (!prove.is_none()) service.emplace(prove);
        // Ctrl-C reaches Python's handler on the main thread only; there it
        // also stops the engine's goal.
        std::optional<engine::SigintStopsEngine> stops;
        if (on_main_thread()) stops.emplace();
        nb::gil_scoped_release release;
        proofs = service ? eval::prove_rules(rules, background, pos, neg, *service, interrupt, known_facts, settings,
                                             chosen)
                         : eval::prove_rules(rules, background, pos, neg, interrupt, known_facts, settings, chosen);
    } catch (const eval::Interrupted&) {
        if (PyErr_CheckSignals() < 0) throw nb::python_error();
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw nb::python_error();
    }
    std::vector<Covered> out;
    out.reserve(proofs.rules.size());
    for (learn::ProvedRule& r : proofs.rules) out.emplace_back(std::move(r.pos), std::move(r.neg), r.body_length);
    return {std::move(out), proofs.over_limit + proofs.over_time};
}

std::vector<learn::ProvedRule> proved_of(const std::vector<Covered>& rules) {
    std::vector<learn::ProvedRule> proved(rules.size());
    for (std::size_t i = 0; i < rules.size(); ++i) {
        proved[i].pos = std::get<0>(rules[i]);
        proved[i].neg = std::get<1>(rules[i]);
        proved[i].body_length = std::get<2>(rules[i]);
    }
    return proved;
}

// The candidates' rules as the positives form them: (rules, for each positive
// the indexes of the rules it formed). Sorts the caller's lists as the arity
// table sorts the core's.
std::tuple<std::vector<std::string>, std::vector<std::vector<std::uint32_t>>> formed_rules(
    BottomClauses<"Training_pos"> Training_pos, learn::LearnOptions options) {
    PyLearningHost py_host(options.quiet);
    std::vector<std::size_t> sorted;
    run::FormedRules formed = run_then_sort_host_lists(Training_pos, sorted, [&] {
        return run::formed_rules(Training_pos.set, options, py_host.host, sorted);
    });
    return {std::move(formed.rules), std::move(formed.rules_of_example)};
}

// (theory in Prolog form, whether selection had rules to choose from).
std::tuple<std::vector<std::string>, bool> select_proved(const std::vector<std::string>& rules,
                                                         const std::vector<Covered>& covered, std::size_t n_pos,
                                                         std::size_t n_neg, learn::LearnOptions options) {
    if (rules.size() != covered.size()) throw ValueError("rules and covered must have the same length");
    learn::CoverageTable table{rules, proved_of(covered)};
    nb::gil_scoped_release release;
    learn::Selection chosen = learn::select_from_table(table, n_pos, n_neg, options.selection);
    return {std::move(chosen.theory), chosen.announce};
}

// The proved theory of rules of known coverage (recursive: with its base
// case), and whether selection had rules to choose from.
std::tuple<std::vector<std::string>, bool> select_proved_theory(const std::vector<std::string>& rules,
                                                                const std::vector<Covered>& covered,
                                                                std::size_t n_pos, std::size_t n_neg,
                                                                learn::LearnOptions options) {
    if (rules.size() != covered.size()) throw ValueError("rules and covered must have the same length");
    learn::CoverageTable table{rules, proved_of(covered)};
    nb::gil_scoped_release release;
    learn::Selection chosen = run::select_proved(table, n_pos, n_neg, options.selection);
    return {std::move(chosen.theory), chosen.announce};
}

// One learning run with proved coverage: (theory, the five training
// measures, time_learn, work). `prove`, when given, proves every batch.
nb::tuple learn_proved(BottomClauses<"Training_pos"> Training_pos, BottomClauses<"Training_neg"> Training_neg,
                       PathText<"file"> file, learn::LearnOptions options, bool compare_numbers, nb::handle prove) {
    PyLearningHost py_host(options.quiet);
    std::optional<PyProving> service;
    if (!prove.is_none()) service.emplace(prove);
    eval::FactProving local(py_host.interrupt);
    std::vector<std::size_t> sorted;
    const run::ProvedRun run = run_then_sort_host_lists(Training_pos, sorted, [&] {
        return run::proved_learning(Training_pos.set, Training_neg.set, file.value, options, compare_numbers,
                                    service ? static_cast<ProvingService&>(*service) : local, py_host.host,
                                    sorted);
    });
    nb::dict work;
    work["candidates"] = run.candidates;
    work["rules formed"] = run.seconds_formed;
    work["proving"] = run.seconds_proving;
    work["selection"] = run.seconds_selection;
    work["prolog evaluation"] = run.seconds_prolog;
    return nb::make_tuple(list_of(run.hypothesis), measures_of(run.training), run.time_learn, work);
}

}  // namespace

void bind_proving(nb::module_& m) {
    m.def("_prove_rules", &prove_rules, "rules"_a, "background"_a, "pos"_a, "neg"_a,
          "known_facts"_a = std::vector<std::string>(), "time_limit"_a.none() = eval::kDefaultTimeLimit,
          "sandbox"_a = false, "prove"_a.none() = nb::none(), "prover"_a = "facts",
          "Covered positions of pos and neg for every rule as the engine proves them, with each "
          "rule's body length; and the number of goals cut short (out of inferences, past the "
          "time bound or out of table space). The background loads and each goal runs under "
          "time_limit (None: no bound) and sandbox, as in an evaluation; prover 'facts' answers "
          "from indexed facts where that is exact, 'engine' always proves in the engine.");
    m.def("_recursive_variants", &learn::recursive_variants, "rules"_a,
          "Recursive variants of rules: one body literal of the head's arity becomes a call of "
          "the target.");
    m.def(
        "_threshold_variants",
        [](const std::vector<std::string>& rules, const std::string& background, std::size_t per_position) {
            const std::string text = data::read_text_file(background);
            const learn::Thresholds thresholds =
                learn::numeric_thresholds(data::background_lines(text), per_position);
            nb::gil_scoped_release release;
            return learn::threshold_variants(rules, thresholds);
        },
        "rules"_a, "background"_a, "per_position"_a = 8,
        "Variants of rules with one threshold test (>=, =<) on a variable at a numeric argument "
        "position of the background.");
    m.def("_calls_own_predicate", &run::calls_own_predicate, "rule"_a,
          "Whether a body literal of the rule calls the head's predicate.");
    m.def("_with_variants", &run::with_variants, "rules"_a, "recursive"_a, "compare_numbers"_a, "background"_a,
          "The rules followed by their recursive variants (recursive) and their threshold tests over "
          "the background's numbers (compare_numbers).");
    m.def("_formed_rules", &formed_rules, "Training_pos"_a, "options"_a,
          "The rules the positives' bottom clauses form with the candidates, and which positive "
          "formed which.");
    m.def("_select_proved", &select_proved, "rules"_a, "covered"_a, "n_pos"_a, "n_neg"_a, "options"_a,
          "The theory the options' selection chooses from rules of known coverage.");
    m.def("_select_proved_theory", &select_proved_theory, "rules"_a, "covered"_a, "n_pos"_a, "n_neg"_a, "options"_a,
          "The same with recursive rules as candidates: a theory of such rules alone gets the best "
          "rule that does not call the target in front.");
    m.def("_learn_proved", &learn_proved, "Training_pos"_a, "Training_neg"_a, "file"_a, "options"_a,
          "compare_numbers"_a, "prove"_a.none() = nb::none(),
          "One learning run with proved coverage: (theory, training measures, time_learn, work). "
          "`prove`, when given, proves every batch.");
}

}  // namespace vantor::py
