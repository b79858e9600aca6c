// k-fold cross-validation with coverage proved in the engine.
//
// Candidates come from every positive (or, per fold, from the fold's
// training positives alone). A rule that does not call the target proves the
// same examples in every fold, so each is proved once over all examples and
// every fold reads its own training examples off that; a recursive
// candidate's proofs depend on the positives standing in for the target, so
// those are proved per fold. Each fold then selects from its own candidates
// and is scored on its held-out fold.
#pragma once

#include "host.hpp"
#include "run/cross_validation.hpp"

namespace vantor::run {

// Runs folds 0 .. k_fold-1 (the caller has checked that `folds` holds that
// many of each). Training examples are the other folds' keys in fold order.
// The arity table sorts bottom clauses of `folds` in place (their positions
// in pos_dict go to folds.sorted_positions as it runs). Throws KeyError for
// a fold example missing from pos_dict, IndexError for a fold without
// training positives when candidates are per fold, and whatever a stage,
// the proving service or the engine throws.
CrossValidationResult proved_cross_validation(FoldData& folds, long long k_fold,
                                              const CrossValidationOptions& options, bool compare_numbers,
                                              ProvingService& service, const LearningHost& host);

}  // namespace vantor::run
