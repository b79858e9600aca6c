#include "run/proved_cross_validation.hpp"

#include <chrono>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "run/proved_learning.hpp"

namespace vantor::run {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The keys of every part but `held_out`, in fold order (repeats kept).
std::vector<std::string> keys_without(const std::vector<FoldData::Part>& parts, std::size_t k, std::size_t held_out) {
    std::vector<std::string> out;
    for (std::size_t j = 0; j < k; ++j) {
        if (j != held_out) out.insert(out.end(), parts[j].keys.begin(), parts[j].keys.end());
    }
    return out;
}

// Positions of pos_dict by example text.
class PosDict {
public:
    explicit PosDict(const FoldData& folds) : folds_(folds) {
        for (std::size_t i = 0; i < folds.pos_dict.keys.size(); ++i) at_[folds.pos_dict.keys[i]] = i;
    }
    std::size_t position(const std::string& key) const {
        const auto found = at_.find(key);
        if (found == at_.end()) throw KeyError("'" + key + "' is in a fold but not in kfolds.pos_dict");
        return found->second;
    }
    std::size_t storage(std::size_t position) const { return folds_.pos_dict.clause[position]; }

private:
    const FoldData& folds_;
    std::unordered_map<std::string_view, std::size_t> at_;
};

// Rule texts of every fold (each once) and, per fold, indexes of its own.
struct FoldCandidates {
    std::vector<std::string> texts;
    std::vector<std::vector<std::size_t>> of_fold;
};

// The sorted bottom clauses of `set` (positions `sorted` of it, at pos_dict
// positions `origin`) go back to the storage every fold shares.
void keep_sorted(FoldData& folds, const PosDict& dict, const data::BottomClauseSet& set,
                 const std::vector<std::size_t>& origin, const std::vector<std::size_t>& sorted) {
    for (std::size_t p : sorted) {
        folds.clauses[dict.storage(origin[p])] = set.clauses[p];
        folds.sorted_positions.push_back(origin[p]);
    }
}

// Candidates from every positive; a fold's are those its training positives
// form, in order of first occurrence.
FoldCandidates shared_candidates(FoldData& folds, std::size_t k, const learn::LearnOptions& options,
                                 const LearningHost& host) {
    const PosDict dict(folds);
    data::BottomClauseSet all;
    std::vector<std::size_t> origin;
    for (std::size_t i = 0; i < folds.pos_dict.keys.size(); ++i) {
        all.keys.push_back(folds.pos_dict.keys[i]);
        all.clauses.push_back(folds.clauses[dict.storage(i)]);
        origin.push_back(i);
    }
    std::vector<std::size_t> sorted;
    FormedRules formed = formed_rules(all, options, host, sorted);
    keep_sorted(folds, dict, all, origin, sorted);
    FoldCandidates out{std::move(formed.rules), {}};
    for (std::size_t fold = 0; fold < k; ++fold) {
        std::vector<std::size_t>& mine = out.of_fold.emplace_back();
        std::vector<bool> seen(out.texts.size(), false);
        for (const std::string& example : keys_without(folds.pos_fold, k, fold)) {
            for (std::uint32_t r : formed.rules_of_example[dict.position(example)]) {
                if (!seen[r]) {
                    seen[r] = true;
                    mine.push_back(r);
                }
            }
        }
    }
    return out;
}

// Each fold's candidates from its training positives alone (each example
// once, with its pos_dict bottom clause).
FoldCandidates per_fold_candidates(FoldData& folds, std::size_t k, const learn::LearnOptions& options,
                                   const LearningHost& host) {
    const PosDict dict(folds);
    FoldCandidates out;
    std::unordered_map<std::string, std::size_t> index;
    for (std::size_t fold = 0; fold < k; ++fold) {
        data::BottomClauseSet train;
        std::vector<std::size_t> origin;
        std::unordered_set<std::string> seen;
        for (const std::string& example : keys_without(folds.pos_fold, k, fold)) {
            const std::size_t at = dict.position(example);
            if (!seen.insert(example).second) continue;
            train.keys.push_back(example);
            train.clauses.push_back(folds.clauses[dict.storage(at)]);
            origin.push_back(at);
        }
        if (train.keys.empty()) throw IndexError("a fold has no training positive: the head is taken from the first one");
        std::vector<std::size_t> sorted;
        FormedRules formed = formed_rules(train, options, host, sorted);
        keep_sorted(folds, dict, train, origin, sorted);
        std::vector<std::size_t>& mine = out.of_fold.emplace_back();
        for (std::string& rule : formed.rules) {
            auto [at, fresh] = index.try_emplace(rule, out.texts.size());
            if (fresh) out.texts.push_back(std::move(rule));
            mine.push_back(at->second);
        }
    }
    return out;
}

bool is_threshold_test(std::string_view literal) {
    return literal.substr(0, 3) == ">=(" || literal.substr(0, 3) == "=<(";
}

// A fold's candidates with their threshold variants: the texts that extend
// one of its rules by a test as their last literal.
std::vector<std::size_t> with_thresholds(const std::vector<std::size_t>& chosen,
                                         const std::vector<std::string>& texts) {
    std::unordered_set<std::string_view> own;
    for (std::size_t r : chosen) own.insert(texts[r]);
    std::vector<std::size_t> out = chosen;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string_view text = texts[i];
        const std::size_t last = text.rfind('&');
        const std::string_view base = last == std::string_view::npos ? std::string_view() : text.substr(0, last);
        const std::string_view test = last == std::string_view::npos ? text : text.substr(last + 1);
        if (own.count(base) && is_threshold_test(test)) out.push_back(i);
    }
    return out;
}

FoldCandidates candidates_of(FoldData& folds, std::size_t k, const CrossValidationOptions& options,
                             bool compare_numbers, const LearningHost& host) {
    FoldCandidates out = options.candidates_per_fold ? per_fold_candidates(folds, k, options.learn, host)
                                                     : shared_candidates(folds, k, options.learn, host);
    // Proofs of non-recursive rules hold for every fold: their threshold
    // variants join the texts proved once.
    if (compare_numbers && !options.learn.selection.recursive) {
        out.texts = with_variants(std::move(out.texts), false, true, options.file);
        for (std::vector<std::size_t>& mine : out.of_fold) mine = with_thresholds(mine, out.texts);
    }
    return out;
}

std::vector<std::string> texts_at(const std::vector<std::string>& texts, const std::vector<std::size_t>& at) {
    std::vector<std::string> out;
    out.reserve(at.size());
    for (std::size_t i : at) out.push_back(texts[i]);
    return out;
}

// Proved coverage over every example, renumbered to one fold's training
// examples (positions outside it dropped; a repeated example keeps its last
// place).
class Restriction {
public:
    Restriction(const std::vector<std::string>& all, const std::vector<std::string>& train) {
        std::unordered_map<std::string_view, std::size_t> position;
        for (std::size_t i = 0; i < all.size(); ++i) position[all[i]] = i;
        for (std::size_t i = 0; i < train.size(); ++i) {
            const auto found = position.find(train[i]);
            if (found == position.end()) throw KeyError("'" + train[i] + "' is in a fold but not in its dictionary");
            at_[static_cast<std::int64_t>(found->second)] = static_cast<std::int64_t>(i);
        }
    }
    std::vector<std::int64_t> operator()(const std::vector<std::int64_t>& covered) const {
        std::vector<std::int64_t> out;
        for (std::int64_t x : covered) {
            if (const auto found = at_.find(x); found != at_.end()) out.push_back(found->second);
        }
        return out;
    }

private:
    std::unordered_map<std::int64_t, std::int64_t> at_;
};

struct Proving {
    const CrossValidationOptions& options;
    bool compare_numbers;
    ProvingService& service;
    const LearningHost& host;
};

// One fold's candidates with their coverage of its training examples.
learn::CoverageTable fold_table(const FoldData& folds, const FoldCandidates& candidates, std::size_t fold,
                                const std::vector<std::string>& train_pos, const std::vector<std::string>& train_neg,
                                const std::optional<std::vector<learn::ProvedRule>>& all, const Proving& p) {
    learn::CoverageTable table;
    const std::vector<std::size_t>& mine = candidates.of_fold[fold];
    if (!all) {
        table.rules = with_variants(texts_at(candidates.texts, mine), true, p.compare_numbers, p.options.file);
        table.covered = proved_coverage(table.rules, p.options.file, train_pos, train_neg, train_pos, p.options.learn,
                                        p.service, p.host);
        return table;
    }
    table.rules = texts_at(candidates.texts, mine);
    const Restriction pos_at(folds.pos_dict.keys, train_pos), neg_at(folds.neg_dict.keys, train_neg);
    for (std::size_t r : mine) {
        const learn::ProvedRule& proved = (*all)[r];
        table.covered.push_back({pos_at(proved.pos), neg_at(proved.neg), proved.body_length});
    }
    return table;
}

// The training evaluation (printing runs only) and the test evaluation.
eval::EvalResult score_fold(const std::vector<std::string>& theory, const std::vector<std::string>& train_pos,
                            const std::vector<std::string>& train_neg, const FoldData& folds, std::size_t fold,
                            const Proving& p) {
    const bool quiet = p.options.learn.quiet;
    const eval::EvalSettings settings = evaluation_settings(p.options.learn);
    if (!quiet) {
        eval::evaluate_theory(theory, p.options.file, train_pos, train_neg, quiet, eval::kTrainingBanner, p.host.out,
                              p.host.on_limit, &p.host.interrupt, nullptr, settings);
    }
    return eval::evaluate_theory(theory, p.options.file, folds.pos_fold[fold].keys, folds.neg_fold[fold].keys, quiet,
                                 eval::kTestingBanner, p.host.out, p.host.on_limit, &p.host.interrupt, nullptr,
                                 settings);
}

}  // namespace

CrossValidationResult proved_cross_validation(FoldData& folds, long long k_fold,
                                              const CrossValidationOptions& options, bool compare_numbers,
                                              ProvingService& service, const LearningHost& host) {
    const auto tic = Clock::now();
    const auto k = static_cast<std::size_t>(k_fold);
    host.interrupt.check();
    const FoldCandidates candidates = candidates_of(folds, k, options, compare_numbers, host);
    const Proving p{options, compare_numbers, service, host};
    std::optional<std::vector<learn::ProvedRule>> all;
    if (!options.learn.selection.recursive) {
        all = proved_coverage(candidates.texts, options.file, folds.pos_dict.keys, folds.neg_dict.keys, {},
                              options.learn, service, host);
    }
    CrossValidationResult result;
    result.candidates = candidates.texts.size();
    for (std::size_t fold = 0; fold < k; ++fold) {
        host.interrupt.check();
        const std::vector<std::string> train_pos = keys_without(folds.pos_fold, k, fold);
        const std::vector<std::string> train_neg = keys_without(folds.neg_fold, k, fold);
        const learn::CoverageTable table = fold_table(folds, candidates, fold, train_pos, train_neg, all, p);
        learn::Selection chosen = select_proved(table, train_pos.size(), train_neg.size(), options.learn.selection);
        if (chosen.theory.empty()) warn_empty_theory(host);
        if (chosen.announce && !options.learn.quiet && host.announce) host.announce(chosen.theory);
        result.folds.push_back(score_fold(chosen.theory, train_pos, train_neg, folds, fold, p));
        result.hypothesis = chosen.theory;
        result.theories.push_back(std::move(chosen.theory));
    }
    result.time_learn = seconds_since(tic);
    return result;
}

}  // namespace vantor::run
