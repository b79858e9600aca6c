// k-fold cross-validation of the learner.
//
// The candidate rules are built once from all positive examples; every fold
// then repeats coverage, the two filters, selection and the Prolog
// evaluation. The two coverage caches live for the whole call, so an
// example's coverage is computed once however many training sets hold it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "eval/evaluate.hpp"
#include "run/learning_run.hpp"
#include "learn/candidates.hpp"
#include "learn/stages.hpp"
#include "learn/options.hpp"
#include "text/substitution.hpp"

namespace vantor::run {

// The folds as the host holds them. A fold's dictionary normally shares its
// bottom-clause lists with the complete dictionary; the shared storage
// (`clauses`, addressed by index) keeps it that way here, so that the lists
// the arity table sorts are sorted in every fold too.
struct FoldData {
    struct Part {
        std::vector<std::string> keys;    // example texts, insertion order
        std::vector<std::size_t> clause;  // clause[i]: index into `clauses`
    };
    std::vector<std::vector<std::string>> clauses;
    Part pos_dict, neg_dict;
    std::vector<Part> pos_fold, neg_fold;  // folds 0 .. k_fold-1
    // Filled by the driver as soon as the arity table has run: positions of
    // pos_dict whose bottom clauses it sorted (also when a later stage
    // throws, so the host can sort its lists as the stage did).
    std::vector<std::size_t> sorted_positions;
};

// The learning settings and the background file every evaluation reads.
struct CrossValidationOptions {
    learn::LearnOptions learn;
    std::string file = "BK.pl";
    // Build each fold's candidates from its training positives only (no
    // held-out example shapes them); by default they are built once from
    // every positive.
    bool candidates_per_fold = false;
};

struct CrossValidationResult {
    std::vector<std::string> hypothesis;  // theory of the last fold
    std::vector<std::vector<std::string>> theories;  // every fold's theory, fold order
    std::vector<eval::EvalResult> folds;        // test evaluations, fold order
    double time_learn = 0.0;              // whole call, evaluations included
    // Where the time went, for benchmarks: everything but the Prolog
    // evaluations, and the evaluations themselves.
    double seconds_learning = 0.0;
    double seconds_prolog = 0.0;
    // Coverage work: examples whose hypothesis list was built (each at most
    // once per call) and examples answered from the example cache.
    std::size_t coverage_computed = 0;
    std::size_t coverage_reused = 0;
    std::size_t prolog_evaluations = 0;  // training and test evaluations run
    std::size_t candidates = 0;  // candidate rules built (once per call)
};

// Runs folds 0 .. k_fold-1 (`folds` must hold that many of each). The arity
// table sorts bottom clauses of `folds` in place, as it sorts the host's.
// Throws ValueError (k_fold < 1), KeyError (too few folds), IndexError (no
// positive example), the interrupt's exception (checked per coverage step
// and per fold), and whatever a stage or the engine throws.
CrossValidationResult cross_validation(FoldData& folds, long long k_fold,
                                       const CrossValidationOptions& options,
                                       const LearningHost& host);

}  // namespace vantor::run
