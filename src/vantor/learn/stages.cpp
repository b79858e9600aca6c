#include "learn/stages.hpp"

#include <algorithm>
#include <chrono>
#include <numeric>

#include "bottom/variables.hpp"
#include "learn/cover_selection.hpp"
#include "learn/selection.hpp"

namespace vantor::learn {

namespace {
using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Longest text first; rules of equal length keep their order.
void sort_longest_first(std::vector<std::string>& rules) {
    std::vector<std::size_t> length(rules.size());
    std::vector<std::size_t> order(rules.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
        length[i] = text_length(rules[i]);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return length[a] > length[b]; });
    std::vector<std::string> sorted;
    sorted.reserve(order.size());
    for (std::size_t i : order) sorted.push_back(std::move(rules[i]));
    rules = std::move(sorted);
}

}  // namespace

std::size_t text_length(const std::string& s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

Candidates build_candidates(data::BottomClauseSet& pos, const text::ConstantSet& constant,
                            const CandidateOptions& options, RandomSource& rng, StageTimes* times) {
    if (pos.size() == 0) {
        throw IndexError("Training_pos is empty: the head is taken from the first positive example, "
                         "so at least one is needed");
    }
    StageTimes local;
    StageTimes& t = times ? *times : local;
    Candidates c;
    c.head = bottom::variabilise_example(pos.keys.front(), constant);
    const long long n = static_cast<long long>(pos.size());

    auto t0 = Clock::now();
    c.arity = predicate_arity_table(pos, n, options.key_size, rng, &c.sorted_positions);
    t.arity_table = seconds_since(t0);

    t0 = Clock::now();
    c.relation = relation_chains(pos, n, constant, options.key_size, options.set_chain, rng);
    t.relation_chains = seconds_since(t0);

    t0 = Clock::now();
    if (!options.meta_rule.empty()) {
        c.templates = options.meta_rule;
    } else {
        c.templates = generate_hypotheses(pos, constant, options.max_literals, options.exact_literals,
                                          options.key_size, rng);
    }
    t.templates = seconds_since(t0);

    t0 = Clock::now();
    c.theory = apply_meta_rules(c.head, c.templates, c.arity, c.relation, options.distinct);
    if (options.sort_by_length) sort_longest_first(c.theory);
    t.instantiation = seconds_since(t0);
    return c;
}

Selection cover_and_select(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                           const std::string& head, const std::vector<std::string>& theory,
                           const CoverageOptions& coverage, const SelectionOptions& selection,
                           CoverageCache& cache, RandomSource& rng, Progress& pos_progress,
                           Progress& neg_progress, StageTimes* times) {
    StageTimes local;
    StageTimes& t = times ? *times : local;

    auto t0 = Clock::now();
    const CoverageResult p = compute_coverage(pos, head, theory, coverage, cache, rng, pos_progress);
    t.positive_coverage = seconds_since(t0);

    t0 = Clock::now();
    const CoverageResult q = compute_coverage(neg, head, theory, coverage, cache, rng, neg_progress);
    t.negative_coverage = seconds_since(t0);

    t0 = Clock::now();
    if (selection.mode == "cover") {
        Selection out = select_from_table(table_of_lists(p.lists, q.lists, cache), pos.size(), neg.size(), selection);
        t.selection = seconds_since(t0);
        return out;
    }
    const CoverMap pos_cover = filter_by_min_pos(p.lists, selection.min_pos, cache.rule_count());
    const CoverMap neg_cover = filter_by_max_neg(pos_cover, q.lists, selection.max_neg, cache.rule_count());
    Selection out;
    if (!neg_cover.rules.empty()) {
        // keys_n in order; P[h] for each from pos_cover (same order, a subset).
        std::vector<std::vector<std::int64_t>> pos_of;
        std::size_t k = 0;
        for (RuleId r : neg_cover.rules) {
            while (pos_cover.rules[k] != r) ++k;
            pos_of.push_back(pos_cover.positions[k]);
        }
        const std::vector<std::size_t> chosen =
            select_indexes(pos_of, neg_cover.positions, static_cast<long long>(pos.size()),
                           static_cast<long long>(neg.size()));
        std::vector<std::string> default_hypo;
        for (std::size_t i : chosen) default_hypo.push_back(cache.rule_text(neg_cover.rules[i]));
        out.theory = theory_output(default_hypo, selection.pi, selection.recursive);
        out.announce = true;
    }
    t.selection = seconds_since(t0);
    return out;
}

}  // namespace vantor::learn
