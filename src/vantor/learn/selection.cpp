#include "learn/selection.hpp"

#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "host.hpp"
#include "learn/recursive.hpp"

namespace vantor::learn {

namespace {
constexpr std::uint32_t kAbsent = UINT32_MAX;
}

CoverMap filter_by_min_pos(const std::vector<std::vector<RuleId>>& p, long long min_pos,
                           std::size_t rule_count) {
    CoverMap all;
    std::vector<std::uint32_t> slot(rule_count, kAbsent);
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (RuleId r : p[i]) {
            if (r >= slot.size()) slot.resize(r + 1, kAbsent);
            if (slot[r] == kAbsent) {
                slot[r] = static_cast<std::uint32_t>(all.rules.size());
                all.rules.push_back(r);
                all.positions.emplace_back();
            }
            std::vector<std::int64_t>& pos = all.positions[slot[r]];
            // A rule listed twice for one example counts once.
            if (pos.empty() || pos.back() != static_cast<std::int64_t>(i)) pos.push_back(static_cast<std::int64_t>(i));
        }
    }
    CoverMap out;
    for (std::size_t k = 0; k < all.rules.size(); ++k) {
        if (static_cast<long long>(all.positions[k].size()) >= min_pos) {
            out.rules.push_back(all.rules[k]);
            out.positions.push_back(std::move(all.positions[k]));
        }
    }
    return out;
}

CoverMap filter_by_max_neg(const CoverMap& kept, const std::vector<std::vector<RuleId>>& p,
                           long long max_neg, std::size_t rule_count) {
    std::vector<std::uint32_t> slot(rule_count, kAbsent);
    for (std::size_t k = 0; k < kept.rules.size(); ++k) {
        if (kept.rules[k] >= slot.size()) slot.resize(kept.rules[k] + 1, kAbsent);
        slot[kept.rules[k]] = static_cast<std::uint32_t>(k);
    }
    std::vector<std::vector<std::int64_t>> neg(kept.rules.size());
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (RuleId r : p[i]) {
            if (r >= slot.size() || slot[r] == kAbsent) continue;
            std::vector<std::int64_t>& pos = neg[slot[r]];
            if (pos.empty() || pos.back() != static_cast<std::int64_t>(i)) pos.push_back(static_cast<std::int64_t>(i));
        }
    }
    CoverMap out;
    for (std::size_t k = 0; k < kept.rules.size(); ++k) {
        if (static_cast<long long>(neg[k].size()) <= max_neg) {
            out.rules.push_back(kept.rules[k]);
            out.positions.push_back(std::move(neg[k]));
        }
    }
    return out;
}

namespace {

// Rule positions by ascending coverage (positives less negatives), stable.
// A rule that covers nothing at all is refused, as its precision would be
// 0/0.
std::vector<std::size_t> by_ascending_coverage(const std::vector<std::vector<std::int64_t>>& pos_of,
                                               const std::vector<std::vector<std::int64_t>>& neg_of) {
    const std::size_t m = pos_of.size();
    std::vector<long long> coverage(m);
    for (std::size_t k = 0; k < m; ++k) {
        if (pos_of[k].size() + neg_of[k].size() == 0) throw ZeroDivision("float division by zero");
        coverage[k] = static_cast<long long>(pos_of[k].size()) - static_cast<long long>(neg_of[k].size());
    }
    std::vector<std::size_t> order(m);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return coverage[a] < coverage[b]; });
    return order;
}

// The examples the chosen rules cover together.
struct TheoryCover {
    std::unordered_set<std::int64_t> pos, neg;
    std::unordered_set<std::int64_t> fresh_pos, fresh_neg;  // what the rule under test adds

    // Fills fresh_pos and fresh_neg; false when the rule adds no positive.
    bool additions(const std::vector<std::int64_t>& rule_pos, const std::vector<std::int64_t>& rule_neg) {
        fresh_pos.clear();
        for (std::int64_t x : rule_pos) {
            if (!pos.count(x)) fresh_pos.insert(x);
        }
        if (fresh_pos.empty()) return false;
        fresh_neg.clear();
        for (std::int64_t x : rule_neg) {
            if (!neg.count(x)) fresh_neg.insert(x);
        }
        return true;
    }
    void take_additions() {
        pos.insert(fresh_pos.begin(), fresh_pos.end());
        neg.insert(fresh_neg.begin(), fresh_neg.end());
    }
};

}  // namespace

std::vector<std::size_t> select_indexes(const std::vector<std::vector<std::int64_t>>& pos_of,
                                        const std::vector<std::vector<std::int64_t>>& neg_of,
                                        long long p, long long n) {
    if (pos_of.empty()) return {};
    const std::vector<std::size_t> ascending = by_ascending_coverage(pos_of, neg_of);
    if (p + n == 0) throw ZeroDivision("float division by zero");
    const double total = static_cast<double>(p + n);

    // The rule of best coverage seeds the theory; its lists are taken as
    // they are (their length counts), every union after that is
    // duplicate-free.
    const std::size_t seed = ascending.back();
    std::vector<std::size_t> chosen{seed};
    TheoryCover cover;
    cover.pos.insert(pos_of[seed].begin(), pos_of[seed].end());
    cover.neg.insert(neg_of[seed].begin(), neg_of[seed].end());
    double best_accuracy = static_cast<double>(static_cast<long long>(pos_of[seed].size()) +
                                               (n - static_cast<long long>(neg_of[seed].size()))) / total;
    // Then every rule in ascending order joins when it raises the accuracy.
    for (std::size_t h : ascending) {
        if (pos_of[h].empty()) continue;  // precision 0
        if (!cover.additions(pos_of[h], neg_of[h])) continue;
        const long long tp = static_cast<long long>(cover.pos.size() + cover.fresh_pos.size());
        const long long fp = static_cast<long long>(cover.neg.size() + cover.fresh_neg.size());
        const double accuracy = static_cast<double>(tp + (n - fp)) / total;
        if (accuracy > best_accuracy) {
            chosen.push_back(h);
            cover.take_additions();
            best_accuracy = accuracy;
        }
    }
    return chosen;
}

std::vector<std::string> theory_output(const std::vector<std::string>& default_hypo, bool pi, bool re) {
    std::vector<std::string> out;
    if (re) out = make_recursive_rules(chain_rule_body(default_hypo));
    else if (pi) out = postprocess_hypotheses(default_hypo);
    else out = default_hypo;
    for (std::string& r : out) std::replace(r.begin(), r.end(), '&', ',');
    return out;
}

}  // namespace vantor::learn
