// A learning run with the refinement search (search="refine"): the
// background's columns are typed, then sequential covering runs with every
// proof made by the given proving service (the engine of this process when
// none is given).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "eval/fact_proving.hpp"
#include "host.hpp"
#include "learn/covering.hpp"
#include "learn/options.hpp"
#include "run/cross_validation.hpp"
#include "run/learning_run.hpp"

namespace vantor::run {

// With workers to spare (n_jobs other than 1) and the search proving over
// facts, the engine's first load of the background, started now on a
// thread of its own so that it runs while the caller prepares its inputs
// and the search reads the facts and proves over them; else null. Throws
// FileNotFound or OSError when the background cannot be read, ValueError
// for an unknown prover.
std::unique_ptr<eval::EngineLoadBeside> engine_load_beside(const std::string& background,
                                                           const learn::LearnOptions& options);

// `background` as given by the caller; throws FileNotFound or OSError when
// it cannot be read, ValueError for an eval_fn the search does not know.
// `load`, when given, is the caller's engine_load_beside (else the search
// starts its own when the options allow one); the search's end waits for
// it and throws what it threw.
learn::CoveringResult refine_learning(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                      const std::string& background, const learn::LearnOptions& options,
                                      ProvingService* service, Interrupt& interrupt,
                                      eval::EngineLoadBeside* load = nullptr);

// The search's warnings (goals cut short, out of time, no clause), each as
// the RuntimeWarning text the host shows.
std::vector<std::string> search_warnings(const learn::CoveringResult& search, const learn::LearnOptions& options);

// The theory of a search run: covering's own, or, when the search reports
// runners-up, the cover selection's choice from its clauses and their
// runners-up, each proved on every training example by `service` (the
// engine of this process when null) under the options' time bound and
// sandbox: a clause found for one seed may serve the theory better than the
// one covering kept. The selection scores by the options' eval_fn where the
// cover selection has it, else by compression.
struct RefinedRun {
    learn::CoveringResult search;
    std::vector<std::string> theory;  // Prolog form
};
// The search's warnings go to host.on_limit.
RefinedRun refined_run(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                       const std::string& background, const learn::LearnOptions& options, ProvingService* service,
                       const LearningHost& host, eval::EngineLoadBeside* load = nullptr);

// k-fold cross-validation with the search: fold f learns from the other
// folds' examples (in fold order, each once, with its bottom clause from
// pos_dict or neg_dict), its theory chosen as refined_run chooses it,
// announced unless quiet, scored on its training examples (unless quiet)
// and then on fold f. Throws KeyError for a fold example missing from the
// dictionaries, IndexError for a fold without training positives, and
// whatever the search, the proving or the engine throws.
CrossValidationResult refined_cross_validation(const FoldData& folds, long long k_fold,
                                               const CrossValidationOptions& options, ProvingService* service,
                                               const LearningHost& host);

// The first seed's best clause, with branch and bound on or off.
std::string refine_first_clause(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                const std::string& background, const learn::LearnOptions& options, bool prune,
                                Interrupt& interrupt);

}  // namespace vantor::run
