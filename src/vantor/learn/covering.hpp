// Sequential covering with the refinement search (search="refine").
//
// Each step takes the first positives not yet covered as seeds, searches
// each seed's refinements on a sample of the uncovered positives and of the
// negatives, proves the best clause found on every training example and
// keeps it when it passes min_pos, max_neg and min_precision there; its
// positives are then covered. Learning stops when no positive is left,
// max_rules is reached, the seeds in a row that gave nothing make a clause
// left to find unlikely (or reach max_failed_seeds, when given), or
// time_budget runs out (the theory so far is returned, flagged).
//
// With recursion, the target's calls are answered by the training positives
// during the search. A clause calling the target is kept only once the
// theory has a clause that does not, and only when the theory with it,
// proved tabled without the positives' help, still passes the filters;
// otherwise the seed is searched again without recursive calls.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "host.hpp"
#include "learn/columns.hpp"
#include "learn/options.hpp"

namespace vantor::learn {

struct CoveringResult {
    std::vector<std::string> theory;  // Prolog form, in the order found
    // Other clauses the searches found passing the filters on their sample
    // (Prolog form, first found first, none twice, none in the theory).
    std::vector<std::string> runners_up;
    bool out_of_time = false;
    std::size_t over_limit = 0;       // goals cut short by the inference limit
    std::size_t seeds = 0, expanded = 0;
    std::size_t proofs = 0;           // example proofs asked for
};

struct CoveringInput {
    const data::BottomClauseSet& pos;
    const data::BottomClauseSet& neg;
    std::string background;  // absolute path
    const ColumnTypes& columns;
    const LearnOptions& options;
};

CoveringResult learn_by_refinement(const CoveringInput& input, ProvingService& service, Interrupt& interrupt);

// The first seed's best clause as the search finds it (Prolog form, "" when
// none), with branch and bound on or off: both must agree.
std::string best_first_clause(const CoveringInput& input, ProvingService& service, Interrupt& interrupt,
                              bool prune);

}  // namespace vantor::learn
