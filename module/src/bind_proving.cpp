// Proved coverage of candidate rules and the set-cover selection over it.
#include <nanobind/stl/tuple.h>

#include "bindings.hpp"
#include "eval/rule_coverage.hpp"
#include "learn/cover_selection.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

using Covered = std::tuple<std::vector<std::int64_t>, std::vector<std::int64_t>, std::size_t>;

std::tuple<std::vector<Covered>, std::size_t> prove_rules(const std::vector<std::string>& rules,
                                                          const std::string& background,
                                                          const std::vector<std::string>& pos,
                                                          const std::vector<std::string>& neg) {
    eval::RuleProofs proofs;
    {
        PyInterrupt interrupt;
        nb::gil_scoped_release release;
        proofs = eval::prove_rules(rules, background, pos, neg, interrupt);
    }
    std::vector<Covered> out;
    out.reserve(proofs.rules.size());
    for (learn::ProvedRule& r : proofs.rules) out.emplace_back(std::move(r.pos), std::move(r.neg), r.body_length);
    return {std::move(out), proofs.over_limit};
}

std::vector<std::size_t> select_cover(const std::vector<Covered>& rules, std::size_t n_pos, std::size_t n_neg,
                                      long long min_pos, long long max_neg, double min_precision,
                                      long long max_rules, const std::string& eval_fn) {
    learn::CoverOptions options;
    options.min_pos = min_pos;
    options.max_neg = max_neg;
    options.min_precision = min_precision;
    options.max_rules = max_rules;
    options.score = learn::cover_score_named(eval_fn);
    std::vector<learn::ProvedRule> proved(rules.size());
    for (std::size_t i = 0; i < rules.size(); ++i) {
        proved[i].pos = std::get<0>(rules[i]);
        proved[i].neg = std::get<1>(rules[i]);
        proved[i].body_length = std::get<2>(rules[i]);
    }
    nb::gil_scoped_release release;
    return learn::select_cover(proved, n_pos, n_neg, options);
}

}  // namespace

void bind_proving(nb::module_& m) {
    m.def("_prove_rules", &prove_rules, "rules"_a, "background"_a, "pos"_a, "neg"_a,
          "Covered positions of pos and neg for every rule as the engine proves them, with each "
          "rule's body length; and the number of goals that ran out of inferences.");
    m.def("_select_cover", &select_cover, "rules"_a, "n_pos"_a, "n_neg"_a, "min_pos"_a, "max_neg"_a,
          "min_precision"_a, "max_rules"_a, "eval_fn"_a,
          "Indexes of the rules the greedy cover chooses, in the order they were added.");
}

}  // namespace vantor::py
