#include "run/proved_learning.hpp"

#include "learn/coverage.hpp"
#include "learn/stages.hpp"

namespace vantor::run {

FormedRules formed_rules(data::BottomClauseSet& pos, const learn::LearnOptions& options,
                         const LearningHost& host, std::vector<std::size_t>& sorted_positions) {
    host.interrupt.check();
    FormedRules out;
    const learn::Candidates candidates =
        learn::build_candidates(pos, options.constant_set, options.candidates, host.rng, &out.times);
    sorted_positions = candidates.sorted_positions;

    learn::CoverageCache cache(options.constant_set);
    CheckedProgress progress(host.progress(), host.interrupt);
    const learn::CoverageResult formed =
        learn::compute_coverage(pos, candidates.head, candidates.theory, options.coverage, cache, host.rng, progress);
    std::vector<std::int64_t> index(cache.rule_count(), -1);
    for (const std::vector<learn::RuleId>& list : formed.lists) {
        std::vector<std::uint32_t> mine;
        for (learn::RuleId id : list) {
            if (index[id] < 0) {
                index[id] = static_cast<std::int64_t>(out.rules.size());
                out.rules.push_back(cache.rule_text(id));
            }
            mine.push_back(static_cast<std::uint32_t>(index[id]));
        }
        out.rules_of_example.push_back(std::move(mine));
    }
    return out;
}

}  // namespace vantor::run
