// Per-rule coverage sets, the two filters and the greedy selection by
// training accuracy.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "learn/coverage.hpp"

namespace vantor::learn {

// Rule -> ascending example positions, in order of first occurrence when
// scanning the example lists entry by entry.
struct CoverMap {
    std::vector<RuleId> rules;
    std::vector<std::vector<std::int64_t>> positions;  // positions[i] belongs to rules[i]
};

// Rules produced for at least min_pos examples.
CoverMap filter_by_min_pos(const std::vector<std::vector<RuleId>>& p, long long min_pos,
                           std::size_t rule_count);

// Rules of kept produced for at most max_neg negative examples, with their
// negative positions; in kept's order.
CoverMap filter_by_max_neg(const CoverMap& kept, const std::vector<std::vector<RuleId>>& p,
                           long long max_neg, std::size_t rule_count);

// Greedy selection over the keys of N (index k of pos_of/neg_of belongs to
// the k-th key): returns the chosen key indexes, seed first. Throws
// ZeroDivision ("float division by zero") for a key without positives and
// negatives, or p + n == 0.
std::vector<std::size_t> select_indexes(const std::vector<std::vector<std::int64_t>>& pos_of,
                                        const std::vector<std::vector<std::int64_t>>& neg_of,
                                        long long p, long long n);

// The output step of selection: the rewriting chosen by `re` / `pi`, then
// every "&" turned into ",".
std::vector<std::string> theory_output(const std::vector<std::string>& default_hypo, bool pi, bool re);

}  // namespace vantor::learn
