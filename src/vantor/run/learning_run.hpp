// The learning driver: one learning run from two bottom-clause sets to a
// scored theory, and what it needs from its host.
//
// learn_stages runs the learner proper (candidates, coverage, filters,
// selection); learning_run adds the announcement of the theory, the timing
// and the training evaluation in the Prolog engine. The cross-validation
// driver shares the host record and the interrupt-checking progress.
//
// Call with the host's interpreter lock released: the host implementations
// take it back themselves.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "eval/evaluate.hpp"
#include "eval/prover.hpp"
#include "host.hpp"
#include "learn/stages.hpp"
#include "learn/options.hpp"

namespace vantor::run {

// A fresh progress display for each coverage pass.
using ProgressFactory = std::function<std::unique_ptr<Progress>()>;

// Shows a selected theory: the banner "+----------+ Hypothesis +----------+"
// and the theory in the host's list notation. Called only when not quiet
// and selection had rules to choose from.
using TheoryAnnouncer = std::function<void(const std::vector<std::string>& theory)>;

// Everything a run takes from its host.
struct LearningHost {
    RandomSource& rng;
    Output& out;
    Interrupt& interrupt;
    ProgressFactory progress;
    TheoryAnnouncer announce;
    eval::LimitWarning on_limit;
};

// A progress display that first asks the interrupt whether to go on, so a
// long coverage pass stops soon after the user's interrupt, also when
// nothing is displayed.
class CheckedProgress final : public Progress {
public:
    CheckedProgress(std::unique_ptr<Progress> shown, Interrupt& interrupt)
        : shown_(std::move(shown)), interrupt_(interrupt) {}
    void start(std::size_t total, std::string_view description) override;
    void advance(std::size_t steps) override;
    void finish() override;

private:
    std::unique_ptr<Progress> shown_;
    Interrupt& interrupt_;
};

// The evaluation settings (time bound, sandbox) of a learning run.
eval::EvalSettings evaluation_settings(const learn::LearnOptions& options);

// One RuntimeWarning (through host.on_limit) that no rule passed the filters.
void warn_empty_theory(const LearningHost& host);

// How a learning run shows its theory: announced when the selection says so
// and the run is not quiet, a warning when it is empty.
void announce_theory(const std::vector<std::string>& theory, bool announce, const learn::LearnOptions& options,
                     const LearningHost& host);

// The theory scored on the training examples, as every learning run ends;
// `seconds` gets the time the evaluation took.
eval::EvalResult training_evaluation(const std::vector<std::string>& theory, const std::string& file,
                                     const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                     const learn::LearnOptions& options, const LearningHost& host,
                                     double& seconds);

struct LearnedTheory {
    learn::Selection selection;
    learn::StageTimes times;
    std::size_t candidates = 0;  // candidate rules that went to coverage
};

// Candidates from `pos`, coverage of `pos` and `neg`, filters and selection.
// The arity table sorts some bottom clauses of `pos` in place; their
// positions are written to `sorted_positions` as soon as it has run (also
// when a later stage throws). Throws IndexError (empty `pos`), ValueError
// (a sample larger than its population), the interrupt's exception.
LearnedTheory learn_stages(data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                           const learn::LearnOptions& options, const LearningHost& host,
                           std::vector<std::size_t>& sorted_positions);

struct LearningResult {
    std::vector<std::string> hypothesis;  // Prolog body form, seed rule first
    eval::EvalResult training;                  // the theory scored on the training examples
    double time_learn = 0.0;              // learning only, the evaluation excluded
    learn::StageTimes times;
    double seconds_prolog = 0.0;
    std::size_t candidates = 0;
};

// One learning run: learn_stages, the announcement of the theory (unless
// quiet), then the training evaluation against the background file `file`.
LearningResult learning_run(data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                            const std::string& file, const learn::LearnOptions& options,
                            const LearningHost& host, std::vector<std::size_t>& sorted_positions);

}  // namespace vantor::run
