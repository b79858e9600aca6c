// Noise-tolerant theory selection by greedy set cover.
//
// Each candidate comes with the training examples it is known to cover (in
// practice proved in the Prolog engine). Rules are added one at a time: the
// one with the best score on the examples the theory does not cover yet,
// among rules that cover enough positives, few enough negatives and are
// precise enough on the whole training set. The search stops when no rule
// scores above zero or the theory is full. Unlike accuracy-driven growth it
// never adds a rule for a single lucky positive, which is what keeps
// theories short on noisy data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "learn/stages.hpp"
#include "learn/options.hpp"

namespace vantor::learn {

// Covered example positions of one candidate (ascending, each below the
// size of its set), and the number of literals in its body.
struct ProvedRule {
    std::vector<std::int64_t> pos, neg;
    std::size_t body_length = 1;
};

enum class CoverScore {
    coverage,     // new positives - new negatives
    compression,  // that, minus the body length, plus one
};

// The score named by the host's `eval_fn` text; throws ValueError naming
// the allowed values for any other text.
CoverScore cover_score_named(std::string_view name);

struct CoverOptions {
    long long min_pos = 1;         // positives a rule must cover in all
    long long max_neg = 0;         // negatives a rule may cover in all
    double min_precision = 0.0;    // pos / (pos + neg) on the training set
    long long max_rules = -1;      // negative: no limit
    CoverScore score = CoverScore::coverage;
};

// Indexes of the chosen rules, in the order they were added. Ties go to the
// rule with fewer constant arguments in its body (`constants`, per rule; not
// compared when empty), then to the earlier candidate, so the result depends
// only on the candidates and their order.
std::vector<std::size_t> select_cover(const std::vector<ProvedRule>& rules, std::size_t n_pos,
                                      std::size_t n_neg, const CoverOptions& options,
                                      const std::vector<std::size_t>& constants = {});

// Constant arguments in the body of a rule text ("h(A):-p(A,b)&q(A)": 1).
std::size_t body_constants(std::string_view rule);

// Candidates whose coverage is known (proved, or read off the coverage
// lists), in candidate order.
struct CoverageTable {
    std::vector<std::string> rules;  // internal form (body joined by "&")
    std::vector<ProvedRule> covered;
};

// The table of every rule in the coverage lists of the positives (in order of
// first occurrence) with its positive and negative positions.
CoverageTable table_of_lists(const std::vector<std::vector<RuleId>>& pos_lists,
                             const std::vector<std::vector<RuleId>>& neg_lists, const CoverageCache& cache);

// The theory chosen from `table` as `options.mode` says: "greedy" filters by
// min_pos and max_neg and grows by training accuracy; "cover" runs
// select_cover. Either way the result goes through the recursive or
// predicate-invention rewriting the options ask for.
Selection select_from_table(const CoverageTable& table, std::size_t n_pos, std::size_t n_neg,
                            const SelectionOptions& options);

}  // namespace vantor::learn
