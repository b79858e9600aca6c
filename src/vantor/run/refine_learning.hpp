// A learning run with the refinement search (search="refine"): the
// background's columns are typed, then sequential covering runs with every
// proof made by the given proving service (the engine of this process when
// none is given).
#pragma once

#include <string>

#include "data/bottom_clause_set.hpp"
#include "host.hpp"
#include "learn/covering.hpp"
#include "learn/options.hpp"

namespace vantor::run {

// `background` as given by the caller; throws FileNotFound or OSError when
// it cannot be read, ValueError for an eval_fn the search does not know.
learn::CoveringResult refine_learning(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                      const std::string& background, const learn::LearnOptions& options,
                                      ProvingService* service, Interrupt& interrupt);

// The first seed's best clause, with branch and bound on or off.
std::string refine_first_clause(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                const std::string& background, const learn::LearnOptions& options, bool prune,
                                Interrupt& interrupt);

}  // namespace vantor::run
