#include "run/learning_run.hpp"

#include <chrono>

#include "learn/coverage.hpp"

namespace vantor::run {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

void CheckedProgress::start(std::size_t total, std::string_view description) {
    interrupt_.check();
    shown_->start(total, description);
}

void CheckedProgress::advance(std::size_t steps) {
    interrupt_.check();
    shown_->advance(steps);
}

void CheckedProgress::finish() { shown_->finish(); }

eval::EvalSettings evaluation_settings(const learn::LearnOptions& options) {
    eval::EvalSettings settings;
    settings.time_limit = options.time_limit;
    settings.sandbox = options.sandbox;
    return settings;
}

void warn_empty_theory(const LearningHost& host) {
    if (host.on_limit) {
        host.on_limit("no candidate rule passed the filters (min_pos, max_neg, min_precision): the theory "
                      "is empty and predicts no example; loosen the filters or give more examples");
    }
}

void announce_theory(const std::vector<std::string>& theory, bool announce, const learn::LearnOptions& options,
                     const LearningHost& host) {
    if (announce && !options.quiet && host.announce) host.announce(theory);
    if (theory.empty()) warn_empty_theory(host);
}

eval::EvalResult training_evaluation(const std::vector<std::string>& theory, const std::string& file,
                                     const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                     const learn::LearnOptions& options, const LearningHost& host,
                                     double& seconds) {
    host.interrupt.check();
    const auto start = Clock::now();
    eval::EvalResult result =
        eval::evaluate_theory(theory, file, pos.keys, neg.keys, options.quiet, eval::kTrainingBanner, host.out,
                              host.on_limit, &host.interrupt, nullptr, evaluation_settings(options));
    seconds = seconds_since(start);
    return result;
}

LearnedTheory learn_stages(data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                           const learn::LearnOptions& options, const LearningHost& host,
                           std::vector<std::size_t>& sorted_positions) {
    host.interrupt.check();
    LearnedTheory learned;
    const learn::Candidates candidates = learn::build_candidates(
        pos, options.constant_set, options.candidates, host.rng, &learned.times);
    sorted_positions = candidates.sorted_positions;
    learned.candidates = candidates.theory.size();
    host.interrupt.check();

    learn::CoverageCache cache(options.constant_set);
    CheckedProgress pos_progress(host.progress(), host.interrupt);
    CheckedProgress neg_progress(host.progress(), host.interrupt);
    learned.selection = learn::cover_and_select(pos, neg, candidates.head, candidates.theory,
                                                options.coverage, options.selection, cache, host.rng,
                                                pos_progress, neg_progress, &learned.times);
    return learned;
}

LearningResult learning_run(data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                            const std::string& file, const learn::LearnOptions& options,
                            const LearningHost& host, std::vector<std::size_t>& sorted_positions) {
    const auto tic = Clock::now();
    LearnedTheory learned = learn_stages(pos, neg, options, host, sorted_positions);
    LearningResult result;
    result.hypothesis = std::move(learned.selection.theory);
    result.times = learned.times;
    result.candidates = learned.candidates;
    announce_theory(result.hypothesis, learned.selection.announce, options, host);
    result.time_learn = seconds_since(tic);
    result.training = training_evaluation(result.hypothesis, file, pos, neg, options, host, result.seconds_prolog);
    return result;
}

}  // namespace vantor::run
