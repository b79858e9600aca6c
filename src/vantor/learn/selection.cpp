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

CoverMap filter_by_max_neg(const CoverMap& dic_p, const std::vector<std::vector<RuleId>>& p,
                           long long max_neg, std::size_t rule_count) {
    std::vector<std::uint32_t> slot(rule_count, kAbsent);
    for (std::size_t k = 0; k < dic_p.rules.size(); ++k) {
        if (dic_p.rules[k] >= slot.size()) slot.resize(dic_p.rules[k] + 1, kAbsent);
        slot[dic_p.rules[k]] = static_cast<std::uint32_t>(k);
    }
    std::vector<std::vector<std::int64_t>> neg(dic_p.rules.size());
    for (std::size_t i = 0; i < p.size(); ++i) {
        for (RuleId r : p[i]) {
            if (r >= slot.size() || slot[r] == kAbsent) continue;
            std::vector<std::int64_t>& pos = neg[slot[r]];
            if (pos.empty() || pos.back() != static_cast<std::int64_t>(i)) pos.push_back(static_cast<std::int64_t>(i));
        }
    }
    CoverMap out;
    for (std::size_t k = 0; k < dic_p.rules.size(); ++k) {
        if (static_cast<long long>(neg[k].size()) <= max_neg) {
            out.rules.push_back(dic_p.rules[k]);
            out.positions.push_back(std::move(neg[k]));
        }
    }
    return out;
}

std::vector<std::size_t> select_indexes(const std::vector<std::vector<std::int64_t>>& pos_of,
                                        const std::vector<std::vector<std::int64_t>>& neg_of,
                                        long long p, long long n) {
    const std::size_t m = pos_of.size();
    if (m == 0) return {};
    std::vector<long long> coverage(m);
    for (std::size_t k = 0; k < m; ++k) {
        if (pos_of[k].size() + neg_of[k].size() == 0) throw ZeroDivision("float division by zero");
        coverage[k] = static_cast<long long>(pos_of[k].size()) - static_cast<long long>(neg_of[k].size());
    }
    std::vector<std::size_t> des_pos(m);
    std::iota(des_pos.begin(), des_pos.end(), std::size_t{0});
    std::stable_sort(des_pos.begin(), des_pos.end(),
                     [&](std::size_t a, std::size_t b) { return coverage[a] < coverage[b]; });
    if (p + n == 0) throw ZeroDivision("float division by zero");
    const double total = static_cast<double>(p + n);

    const std::size_t b = des_pos.back();
    std::vector<std::size_t> chosen{b};
    std::unordered_set<std::int64_t> pos_cover(pos_of[b].begin(), pos_of[b].end());
    std::unordered_set<std::int64_t> neg_cover(neg_of[b].begin(), neg_of[b].end());
    // The seed's lists are taken as they are (their length counts); every
    // union after that is duplicate-free.
    double default_acc = static_cast<double>(static_cast<long long>(pos_of[b].size()) +
                                             (n - static_cast<long long>(neg_of[b].size()))) / total;

    std::unordered_set<std::int64_t> fresh_pos, fresh_neg;
    for (std::size_t h : des_pos) {
        if (pos_of[h].empty()) continue;  // precision 0
        fresh_pos.clear();
        for (std::int64_t x : pos_of[h]) {
            if (!pos_cover.count(x)) fresh_pos.insert(x);
        }
        if (fresh_pos.empty()) continue;
        fresh_neg.clear();
        for (std::int64_t x : neg_of[h]) {
            if (!neg_cover.count(x)) fresh_neg.insert(x);
        }
        const long long tp = static_cast<long long>(pos_cover.size() + fresh_pos.size());
        const long long fp = static_cast<long long>(neg_cover.size() + fresh_neg.size());
        const double acc = static_cast<double>(tp + (n - fp)) / total;
        if (acc > default_acc) {
            chosen.push_back(h);
            pos_cover.insert(fresh_pos.begin(), fresh_pos.end());
            neg_cover.insert(fresh_neg.begin(), fresh_neg.end());
            default_acc = acc;
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
