#include "run/cross_validation.hpp"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <unordered_map>

#include "host.hpp"
#include "learn/coverage.hpp"
#include "learn/stages.hpp"

namespace vantor::run {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The union of the given folds, merged in order as dict.update merges: an
// example met again keeps its first place and takes the later clause.
data::BottomClauseSet merge_parts(const FoldData& data, const std::vector<FoldData::Part>& parts,
                                  const std::vector<std::size_t>& which) {
    data::BottomClauseSet set;
    std::unordered_map<std::string_view, std::size_t> place;
    for (std::size_t j : which) {
        const FoldData::Part& part = parts[j];
        for (std::size_t e = 0; e < part.keys.size(); ++e) {
            const std::vector<std::string>& clause = data.clauses[part.clause[e]];
            auto [it, fresh] = place.emplace(part.keys[e], set.keys.size());
            if (fresh) {
                set.keys.push_back(part.keys[e]);
                set.clauses.push_back(clause);
            } else {
                set.clauses[it->second] = clause;
            }
        }
    }
    return set;
}

data::BottomClauseSet whole_part(const FoldData& data, const FoldData::Part& part) {
    data::BottomClauseSet set;
    set.keys = part.keys;
    set.clauses.reserve(part.keys.size());
    for (std::size_t index : part.clause) set.clauses.push_back(data.clauses[index]);
    return set;
}

void check_fold_counts(const FoldData& folds, long long k_fold) {
    if (k_fold <= 0) {
        throw ValueError("k_fold must be at least 1, got " + std::to_string(k_fold) +
                         ": with no fold to run no theory is learned");
    }
    const auto k = static_cast<std::size_t>(k_fold);
    if (folds.pos_fold.size() < k || folds.neg_fold.size() < k) {
        throw KeyError("k_fold=" + std::to_string(k_fold) + " but the folds hold only " +
                       std::to_string(std::min(folds.pos_fold.size(), folds.neg_fold.size())) +
                       "; vantor_folds(folds=...) and k_fold must agree");
    }
    if (folds.pos_dict.keys.empty()) {
        throw IndexError("kfolds.pos_dict is empty: the head is taken from the first positive "
                         "example, so at least one is needed");
    }
}

// Candidates once, from every positive example (held-out ones too), in
// instantiation order: unlike a single learning run they are not re-sorted
// by length. The lists the arity table sorted are the ones every fold
// shares, so they are sorted in the shared storage too.
learn::Candidates candidates_of_all(FoldData& folds, const learn::LearnOptions& options,
                                    RandomSource& rng) {
    data::BottomClauseSet pos_all = whole_part(folds, folds.pos_dict);
    learn::CandidateOptions candidate_options = options.candidates;
    candidate_options.sort_by_length = false;
    learn::Candidates candidates =
        learn::build_candidates(pos_all, options.constant_set, candidate_options, rng);
    folds.sorted_positions = candidates.sorted_positions;
    for (std::size_t p : folds.sorted_positions) {
        folds.clauses[folds.pos_dict.clause[p]] = pos_all.clauses[p];
    }
    return candidates;
}

struct FoldSets;
learn::Candidates candidates_of_fold(const FoldSets& sets, const learn::LearnOptions& options,
                                     RandomSource& rng);

struct FoldSets {
    data::BottomClauseSet pos_train, neg_train, pos_test, neg_test;
};

// Fold i held out, the others merged in increasing order.
FoldSets fold_sets(const FoldData& folds, std::size_t k, std::size_t i) {
    std::vector<std::size_t> others;
    for (std::size_t j = 0; j < k; ++j) {
        if (j != i) others.push_back(j);
    }
    const std::vector<std::size_t> held_out{i};
    return {merge_parts(folds, folds.pos_fold, others), merge_parts(folds, folds.neg_fold, others),
            merge_parts(folds, folds.pos_fold, held_out), merge_parts(folds, folds.neg_fold, held_out)};
}

// Candidates from one fold's training positives alone, in instantiation
// order as for the shared ones. The arity table sorts this fold's copies of
// the bottom clauses, never the caller's.
learn::Candidates candidates_of_fold(const FoldSets& sets, const learn::LearnOptions& options,
                                     RandomSource& rng) {
    if (sets.pos_train.keys.empty()) {
        throw IndexError("a fold has no training positive: the head is taken from the first one");
    }
    data::BottomClauseSet pos = sets.pos_train;
    learn::CandidateOptions candidate_options = options.candidates;
    candidate_options.sort_by_length = false;
    return learn::build_candidates(pos, options.constant_set, candidate_options, rng);
}

// Coverage, filters and selection on one fold's training sets, over the
// cache every fold shares; counts the coverage work done and saved.
std::vector<std::string> learn_fold(const FoldSets& sets, const learn::Candidates& candidates,
                                    const learn::LearnOptions& options, learn::CoverageCache& cache,
                                    const LearningHost& host, CrossValidationResult& result) {
    const std::size_t computed_before = learn::computed_examples(cache).size();
    CheckedProgress pos_progress(host.progress(), host.interrupt);
    CheckedProgress neg_progress(host.progress(), host.interrupt);
    learn::Selection chosen = learn::cover_and_select(
        sets.pos_train, sets.neg_train, candidates.head, candidates.theory, options.coverage,
        options.selection, cache, host.rng, pos_progress, neg_progress);
    const std::size_t computed = learn::computed_examples(cache).size() - computed_before;
    result.coverage_computed += computed;
    result.coverage_reused += sets.pos_train.size() + sets.neg_train.size() - computed;
    if (chosen.announce && !options.quiet && host.announce) host.announce(chosen.theory);
    return std::move(chosen.theory);
}

// The training evaluation (printing runs only) and the test evaluation.
eval::EvalResult evaluate_fold(const FoldSets& sets, const std::vector<std::string>& theory,
                         const CrossValidationOptions& options, const LearningHost& host,
                         CrossValidationResult& result) {
    const bool quiet = options.learn.quiet;
    const eval::EvalSettings settings = evaluation_settings(options.learn);
    if (!quiet) {
        ++result.prolog_evaluations;
        eval::evaluate_theory(theory, options.file, sets.pos_train.keys, sets.neg_train.keys, quiet,
                        eval::kTrainingBanner, host.out, host.on_limit, &host.interrupt, nullptr, settings);
    }
    ++result.prolog_evaluations;
    return eval::evaluate_theory(theory, options.file, sets.pos_test.keys, sets.neg_test.keys, quiet,
                           eval::kTestingBanner, host.out, host.on_limit, &host.interrupt, nullptr, settings);
}

}  // namespace

CrossValidationResult cross_validation(FoldData& folds, long long k_fold,
                                       const CrossValidationOptions& options,
                                       const LearningHost& host) {
    check_fold_counts(folds, k_fold);
    const auto tic = Clock::now();
    CrossValidationResult result;
    double prolog = 0.0;
    host.interrupt.check();
    const learn::Candidates shared =
        options.candidates_per_fold ? learn::Candidates{} : candidates_of_all(folds, options.learn, host.rng);
    result.candidates = shared.theory.size();

    // One cache for every fold: an example's coverage depends only on its
    // bottom clause and the candidates, which all folds share (a fold with
    // candidates of its own gets a cache of its own).
    learn::CoverageCache cache(options.learn.constant_set);
    const auto k = static_cast<std::size_t>(k_fold);
    for (std::size_t i = 0; i < k; ++i) {
        host.interrupt.check();
        const FoldSets sets = fold_sets(folds, k, i);
        if (options.candidates_per_fold) {
            const learn::Candidates own = candidates_of_fold(sets, options.learn, host.rng);
            result.candidates += own.theory.size();
            learn::CoverageCache fold_cache(options.learn.constant_set);
            result.hypothesis = learn_fold(sets, own, options.learn, fold_cache, host, result);
        } else {
            result.hypothesis = learn_fold(sets, shared, options.learn, cache, host, result);
        }
        if (result.hypothesis.empty()) warn_empty_theory(host);
        result.theories.push_back(result.hypothesis);
        host.interrupt.check();
        const auto eval_start = Clock::now();
        result.folds.push_back(evaluate_fold(sets, result.hypothesis, options, host, result));
        prolog += seconds_since(eval_start);
    }
    result.time_learn = seconds_since(tic);
    result.seconds_prolog = prolog;
    result.seconds_learning = result.time_learn - prolog;
    return result;
}

}  // namespace vantor::run
