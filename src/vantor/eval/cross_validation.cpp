#include "eval/cross_validation.hpp"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <unordered_map>

#include "host.hpp"
#include "learn/coverage.hpp"
#include "learn/driver.hpp"

namespace vantor::eval {

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

}  // namespace

CrossValidationResult cross_validation(FoldData& folds, long long k_fold,
                                       const CrossValidationOptions& o, RandomSource& rng,
                                       Output& out, const ProgressFactory& progress,
                                       const TheoryAnnouncer& announce,
                                       const LimitWarning& on_limit) {
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
    const auto tic = Clock::now();
    CrossValidationResult result;
    double prolog = 0.0;

    // Candidates once, from every positive example (held-out ones too), in
    // instantiation order: unlike a single learning run they are not
    // re-sorted by length.
    data::BottomClauseSet pos_all = whole_part(folds, folds.pos_dict);
    learn::CandidateOptions candidate_options;
    candidate_options.meta_rule = o.meta_rule;
    candidate_options.max_literals = o.max_literals;
    candidate_options.exact_literals = o.exact_literals;
    candidate_options.key_size = o.key_size;
    candidate_options.distinct = o.distinct;
    candidate_options.set_chain = o.set_chain;
    candidate_options.sort_by_length = false;
    const learn::Candidates candidates =
        learn::build_candidates(pos_all, o.constant_set, candidate_options, rng);
    folds.sorted_positions = candidates.sorted_positions;
    result.candidates = candidates.theory.size();
    // The lists the arity table sorted are the ones every fold shares.
    for (std::size_t p : folds.sorted_positions) {
        folds.clauses[folds.pos_dict.clause[p]] = pos_all.clauses[p];
    }

    learn::CoverageOptions coverage;
    coverage.optimize = o.optimize;
    coverage.reduce_bc = o.reduce_bc;
    coverage.bc_count = o.bc_count;
    coverage.rule_noise_check = o.rule_noise_check;
    learn::SelectionOptions selection;
    selection.min_pos = o.min_pos;
    selection.max_neg = o.max_neg;
    selection.pi = o.pi;
    selection.recursive = o.recursive;

    // One cache for every fold: an example's coverage depends only on its
    // bottom clause and the candidates, which all folds share.
    learn::CoverageCache cache(o.constant_set);
    for (std::size_t i = 0; i < k; ++i) {
        std::vector<std::size_t> others;
        for (std::size_t j = 0; j < k; ++j) {
            if (j != i) others.push_back(j);
        }
        const std::vector<std::size_t> held_out{i};
        const data::BottomClauseSet pos_train = merge_parts(folds, folds.pos_fold, others);
        const data::BottomClauseSet neg_train = merge_parts(folds, folds.neg_fold, others);
        const data::BottomClauseSet pos_test = merge_parts(folds, folds.pos_fold, held_out);
        const data::BottomClauseSet neg_test = merge_parts(folds, folds.neg_fold, held_out);

        const std::size_t computed_before = learn::computed_examples(cache).size();
        std::unique_ptr<Progress> pos_progress = progress();
        std::unique_ptr<Progress> neg_progress = progress();
        learn::Selection chosen =
            learn::cover_and_select(pos_train, neg_train, candidates.head, candidates.theory,
                                    coverage, selection, cache, rng, *pos_progress, *neg_progress);
        const std::size_t computed = learn::computed_examples(cache).size() - computed_before;
        result.coverage_computed += computed;
        result.coverage_reused += pos_train.size() + neg_train.size() - computed;
        result.hypothesis = std::move(chosen.theory);
        if (chosen.announce && !o.verbose && announce) announce(result.hypothesis);

        const auto eval_start = Clock::now();
        if (!o.verbose) {
            ++result.prolog_evaluations;
            evaluate_theory(result.hypothesis, o.file, pos_train.keys, neg_train.keys, o.verbose,
                            kTrainingBanner, out, on_limit);
        }
        ++result.prolog_evaluations;
        result.folds.push_back(evaluate_theory(result.hypothesis, o.file, pos_test.keys,
                                               neg_test.keys, o.verbose, kTestingBanner, out,
                                               on_limit));
        prolog += seconds_since(eval_start);
    }
    result.time_learn = seconds_since(tic);
    result.seconds_prolog = prolog;
    result.seconds_learning = result.time_learn - prolog;
    return result;
}

}  // namespace vantor::eval
