#include "run/proved_learning.hpp"

#include <chrono>

#include "data/files.hpp"
#include "eval/rule_coverage.hpp"
#include "learn/coverage.hpp"
#include "learn/recursive_candidates.hpp"
#include "learn/search.hpp"
#include "learn/stages.hpp"
#include "learn/threshold_candidates.hpp"

namespace vantor::run {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Threshold values kept per numeric argument position.
constexpr std::size_t kThresholdsPerPosition = 8;

learn::CoverageTable rows_of(const learn::CoverageTable& table, const std::vector<std::size_t>& rows) {
    learn::CoverageTable out;
    for (std::size_t i : rows) {
        out.rules.push_back(table.rules[i]);
        out.covered.push_back(table.covered[i]);
    }
    return out;
}

}  // namespace

bool calls_own_predicate(const std::string& rule) {
    const std::size_t neck = rule.find(":-");
    const std::string head = rule.substr(0, neck);
    const std::string call = head.substr(0, head.find('(')) + "(";
    if (neck == std::string::npos) return false;
    std::size_t from = neck + 2;
    while (true) {
        const std::size_t end = rule.find_first_of("&,", from);
        if (rule.compare(from, call.size(), call) == 0) return true;
        if (end == std::string::npos) return false;
        from = end + 1;
    }
}

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

std::vector<std::string> with_variants(std::vector<std::string> rules, bool recursive, bool compare_numbers,
                                       const std::string& background) {
    if (recursive) {
        std::vector<std::string> variants = learn::recursive_variants(rules);
        rules.insert(rules.end(), variants.begin(), variants.end());
    }
    if (compare_numbers) {
        const std::string text = data::read_text_file(background);
        const learn::Thresholds thresholds =
            learn::numeric_thresholds(data::background_lines(text), kThresholdsPerPosition);
        std::vector<std::string> variants = learn::threshold_variants(rules, thresholds);
        rules.insert(rules.end(), variants.begin(), variants.end());
    }
    return rules;
}

learn::Selection select_proved(const learn::CoverageTable& table, std::size_t n_pos, std::size_t n_neg,
                               const learn::SelectionOptions& options) {
    learn::SelectionOptions chosen = options;
    chosen.recursive = false;
    learn::Selection selection = learn::select_from_table(table, n_pos, n_neg, chosen);
    std::vector<std::string>& theory = selection.theory;
    if (!options.recursive || theory.empty()) return selection;
    for (const std::string& rule : theory) {
        if (!calls_own_predicate(rule)) return selection;
    }
    std::vector<std::size_t> base;
    for (std::size_t i = 0; i < table.rules.size(); ++i) {
        if (!calls_own_predicate(table.rules[i])) base.push_back(i);
    }
    chosen.max_rules = 1;
    std::vector<std::string> first = learn::select_from_table(rows_of(table, base), n_pos, n_neg, chosen).theory;
    theory.insert(theory.begin(), first.begin(), first.end());
    return selection;
}

std::vector<learn::ProvedRule> proved_coverage(const std::vector<std::string>& rules, const std::string& background,
                                               const std::vector<std::string>& pos,
                                               const std::vector<std::string>& neg,
                                               const std::vector<std::string>& known_facts,
                                               const learn::LearnOptions& options, ProvingService& service,
                                               const LearningHost& host) {
    eval::RuleProofs proofs = eval::prove_rules(rules, background, pos, neg, service, host.interrupt, known_facts,
                                                evaluation_settings(options),
                                                learn::batch_prover_named(options.search.prover));
    if (const std::size_t over = proofs.over_limit + proofs.over_time; over && host.on_limit) {
        host.on_limit(std::to_string(over) + " goal(s) ran out of inferences or past the time bound while proving "
                      "candidate rules; counted as not proved");
    }
    return std::move(proofs.rules);
}

ProvedRun proved_learning(data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                          const std::string& background, const learn::LearnOptions& options, bool compare_numbers,
                          ProvingService& service, const LearningHost& host,
                          std::vector<std::size_t>& sorted_positions) {
    const auto tic = Clock::now();
    ProvedRun run;
    learn::CoverageTable table;
    table.rules = with_variants(formed_rules(pos, options, host, sorted_positions).rules, options.selection.recursive,
                                compare_numbers, background);
    run.candidates = table.rules.size();
    run.seconds_formed = seconds_since(tic);

    const auto proving = Clock::now();
    const std::vector<std::string> none;
    table.covered = proved_coverage(table.rules, background, pos.keys, neg.keys,
                                    options.selection.recursive ? pos.keys : none, options, service, host);
    run.seconds_proving = seconds_since(proving);

    const auto selecting = Clock::now();
    learn::Selection selection = select_proved(table, pos.size(), neg.size(), options.selection);
    run.hypothesis = std::move(selection.theory);
    announce_theory(run.hypothesis, selection.announce, options, host);
    run.seconds_selection = seconds_since(selecting);
    run.time_learn = seconds_since(tic);
    run.training = training_evaluation(run.hypothesis, background, pos, neg, options, host, run.seconds_prolog);
    return run;
}

}  // namespace vantor::run
