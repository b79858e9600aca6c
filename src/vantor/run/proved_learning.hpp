// The stages of a learning run whose coverage is proved in the engine.
//
// The text stage still proposes the rules: candidates are instantiated from
// the positives' bottom clauses and every rule some positive's bottom clause
// forms becomes a candidate. Proving them (eval/rule_coverage.hpp) is left to
// the host, which may spread it over several engines; selection then reads
// the proved coverage (learn/cover_selection.hpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "run/learning_run.hpp"
#include "learn/options.hpp"

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

}  // namespace vantor::run
