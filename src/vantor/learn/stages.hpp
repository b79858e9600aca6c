// The learning run as two reusable stages.
//
// build_candidates runs everything up to the candidate list (head, arity
// table, relation chains, templates, instantiation, optional length sort);
// cover_and_select runs coverage of a positive and a negative set over one
// CoverageCache, the two filters and the greedy selection. The learning
// driver (run/learning_run) calls both once, with the settings of one
// LearnOptions; the cross-validation driver builds the candidates
// once (without the length sort) and calls cover_and_select per fold,
// carrying one cache across folds.
//
// Call with the host's interpreter lock released: RandomSource and Progress
// implementations over the host take it back themselves.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "host.hpp"
#include "learn/candidates.hpp"
#include "learn/coverage.hpp"
#include "learn/options.hpp"
#include "text/substitution.hpp"

namespace vantor::learn {

struct StageTimes {
    double arity_table = 0, relation_chains = 0, templates = 0, instantiation = 0;
    double positive_coverage = 0, negative_coverage = 0, selection = 0;
};

struct Candidates {
    std::string head;                      // variabilised first positive example
    ArityTable arity;                      // dictionary_predicates
    std::vector<PredicatePair> relation;
    std::vector<std::string> templates;    // meta_rule, or the generated ones
    std::vector<std::string> theory;       // candidate rules
    // Positions (in pos.keys) of the examples whose bottom clauses the arity
    // table sorted in place; a binding sorts the host's lists alike.
    std::vector<std::size_t> sorted_positions;
};

// Steps 2 to 7 of a learning run. `pos` is modified: the sampled bottom
// clauses are sorted in place. Throws IndexError for an empty `pos`,
// ValueError for a key_size larger than `pos`.
Candidates build_candidates(data::BottomClauseSet& pos, const text::ConstantSet& constant,
                            const CandidateOptions& options, RandomSource& rng,
                            StageTimes* times = nullptr);

struct Selection {
    std::vector<std::string> theory;  // Prolog body form, seed rule first
    // True when selection had candidates to choose from: the host prints the
    // banner "+----------+ Hypothesis +----------+" and then the theory in
    // its list notation (unless verbose). An empty filter result prints
    // nothing.
    bool announce = false;
};

// Coverage of `pos` then `neg` over `cache` (which both passes extend),
// filters and selection. `p` and `n` for the accuracy are the sizes of the
// two sets.
Selection cover_and_select(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                           const std::string& head, const std::vector<std::string>& theory,
                           const CoverageOptions& coverage, const SelectionOptions& selection,
                           CoverageCache& cache, RandomSource& rng, Progress& pos_progress,
                           Progress& neg_progress, StageTimes* times = nullptr);

// Number of characters (code points) of a UTF-8 text, the length the
// candidate sort and the recursive rewriting order by.
std::size_t text_length(const std::string& s);

}  // namespace vantor::learn
