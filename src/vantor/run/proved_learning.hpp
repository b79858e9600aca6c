// A learning run whose coverage is proved in the engine.
//
// The text stage still proposes the rules: candidates are instantiated from
// the positives' bottom clauses and every rule some positive's bottom clause
// forms becomes a candidate, with its recursive variants (`recursive`) and
// its threshold tests (numbers compared). They are proved through a proving
// service (eval/rule_coverage.hpp), which the host may spread over several
// engines; selection then reads the proved coverage
// (learn/cover_selection.hpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "host.hpp"
#include "learn/cover_selection.hpp"
#include "learn/options.hpp"
#include "run/learning_run.hpp"

namespace vantor::run {

struct FormedRules {
    // Internal form, in order of first occurrence over the positives.
    std::vector<std::string> rules;
    // For each positive, in `pos` order: indexes into `rules` it formed.
    std::vector<std::vector<std::uint32_t>> rules_of_example;
    learn::StageTimes times;
};

// Candidates from `pos` (sorted longest first when the options say so), then
// the rules each positive's bottom clause forms with them. The arity table
// sorts some bottom clauses of `pos` in place; their positions go to
// `sorted_positions` as soon as it has run.
FormedRules formed_rules(data::BottomClauseSet& pos, const learn::LearnOptions& options,
                         const LearningHost& host, std::vector<std::size_t>& sorted_positions);

// `rules` followed by their recursive variants (when `recursive`) and by
// their threshold tests over the numbers of `background` (when
// `compare_numbers`).
std::vector<std::string> with_variants(std::vector<std::string> rules, bool recursive, bool compare_numbers,
                                       const std::string& background);

// Whether a body literal of `rule` (either text form) calls the head's
// predicate. The body is cut at every comma, as the theory's readers have
// always cut it.
bool calls_own_predicate(const std::string& rule);

// The theory the options' selection chooses from proved coverage. With
// `recursive`, rules calling the target are candidates already (selection
// never rewrites them), and a theory of such rules alone gets the best rule
// that does not call the target in front: without one it proves nothing
// once the positives no longer stand in for the target.
learn::Selection select_proved(const learn::CoverageTable& table, std::size_t n_pos, std::size_t n_neg,
                               const learn::SelectionOptions& options);

// Coverage of `rules` on `pos` and `neg` proved by `service` under the
// options' time bound and sandbox (`known_facts` answer the target's calls),
// with one warning through the host when goals were cut short.
std::vector<learn::ProvedRule> proved_coverage(const std::vector<std::string>& rules, const std::string& background,
                                               const std::vector<std::string>& pos,
                                               const std::vector<std::string>& neg,
                                               const std::vector<std::string>& known_facts,
                                               const learn::LearnOptions& options, ProvingService& service,
                                               const LearningHost& host);

struct ProvedRun {
    std::vector<std::string> hypothesis;  // Prolog form
    eval::EvalResult training;
    double time_learn = 0.0;
    std::size_t candidates = 0;
    double seconds_formed = 0.0, seconds_proving = 0.0, seconds_selection = 0.0, seconds_prolog = 0.0;
};

// One learning run: candidates with their variants, proved on `pos` and
// `neg` by `service` (the positives answering the target's calls when
// recursive), selection, the announcement of the theory (unless quiet),
// warnings for goals cut short and for an empty theory, then the training
// evaluation against `background`. Sorts `pos` as formed_rules does.
ProvedRun proved_learning(data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                          const std::string& background, const learn::LearnOptions& options, bool compare_numbers,
                          ProvingService& service, const LearningHost& host,
                          std::vector<std::size_t>& sorted_positions);

}  // namespace vantor::run
