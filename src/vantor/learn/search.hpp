// Best-first search with branch and bound over the refinements of one
// seed's bottom clause.
//
// Nodes are clauses; a node's refinements are proved only on the examples
// the node covers (a refinement can only cover fewer). A refinement that
// loses the seed or keeps fewer than min_pos positives is dropped; one
// whose optimistic score (what it would score if every later literal shed
// all its negatives and no positive) cannot beat the best clause so far is
// not expanded. The best clause passing min_pos, max_neg and min_precision
// is returned; ties go to the shorter clause, then to the one found first,
// so the result depends only on the inputs.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host.hpp"
#include "learn/clause_prover.hpp"
#include "learn/example_values.hpp"
#include "learn/refinement.hpp"

namespace vantor::learn {

enum class SearchScore {
    coverage,     // positives - negatives
    compression,  // positives - negatives - body length + 1
    laplace,      // (positives + 1) / (positives + negatives + 2)
    m_estimate,   // (positives + m * prior) / (positives + negatives + m), m = 10
};

// The score named by `eval_fn` ("accuracy" ranks as "coverage"); throws
// ValueError naming the allowed values for any other text.
SearchScore search_score_named(std::string_view name);

// The prover named by the `prover` setting ("facts" or "engine"); throws
// ValueError naming them for any other text.
BatchProver batch_prover_named(std::string_view name);

struct ScoreContext {
    SearchScore score = SearchScore::coverage;
    double prior = 0.5;  // share of positives among the search's examples (m-estimate)
};
double clause_score(const ScoreContext& context, std::size_t pos, std::size_t neg, std::size_t length);
// The best score such a clause or any refinement of it can reach.
double optimistic_score(const ScoreContext& context, std::size_t pos, std::size_t length);

struct SearchSettings {
    RefineSettings refine;
    ScoreContext score;
    std::size_t n_examples = 0;   // the prover's example list
    std::size_t n_pos = 0;        // examples [0, n_pos) are positives not yet covered,
    std::size_t n_counted = 0;    // [n_pos, n_counted) negatives, the rest positives
                                  // covered already: they count towards a clause's
                                  // min_pos and precision, never its score
    // What one negative and one covered positive of the lists stand for in
    // uncovered positives of the lists (each list a sample at its own rate).
    double neg_weight = 1.0, known_weight = 1.0;
    std::uint32_t seed = 0;       // the seed's index among the examples
    std::size_t min_pos = 1;
    std::size_t max_neg = 0;
    double min_precision = 0.0;
    std::size_t max_nodes = 100;  // expansions
    bool prune = true;            // branch and bound (off only to check it)
    std::optional<std::chrono::steady_clock::time_point> deadline;
    // The examples' measured values (null: thresholds from the background).
    const ExampleValues* values = nullptr;
    std::size_t cuts = 8;  // thresholds per test and node
    std::size_t runners_up = 0;  // passing clauses kept beside the best
};

struct SearchResult {
    std::optional<Clause> best;
    // The best other clauses that pass the filters, best first: a theory
    // chosen over several seeds' clauses together can use them.
    std::vector<Clause> runners_up;
    std::size_t pos = 0, neg = 0;
    double score = 0.0;
    std::size_t expanded = 0;
    bool out_of_time = false;
};

SearchResult search_seed(const Seed& seed, const SearchSettings& settings, ClauseProver& prover,
                         Interrupt& interrupt);

}  // namespace vantor::learn
