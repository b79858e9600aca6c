#include "learn/cover_selection.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <string>

#include "host.hpp"
#include "learn/selection.hpp"
#include "text/clause.hpp"

namespace vantor::learn {

namespace {

// A set of example positions as 64-bit words: the greedy loop only needs
// "how many of these are still uncovered", a popcount per word.
class Bits {
public:
    explicit Bits(std::size_t n) : words_((n + 63) / 64, 0) {}
    static Bits of(const std::vector<std::int64_t>& positions, std::size_t n) {
        Bits b(n);
        for (std::int64_t p : positions) {
            if (p >= 0 && static_cast<std::size_t>(p) < n) b.words_[p / 64] |= std::uint64_t{1} << (p % 64);
        }
        return b;
    }
    std::size_t count_outside(const Bits& covered) const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < words_.size(); ++i) n += std::popcount(words_[i] & ~covered.words_[i]);
        return n;
    }
    void add(const Bits& other) {
        for (std::size_t i = 0; i < words_.size(); ++i) words_[i] |= other.words_[i];
    }

private:
    std::vector<std::uint64_t> words_;
};

bool passes_filters(const ProvedRule& rule, const CoverOptions& o) {
    const auto p = static_cast<long long>(rule.pos.size());
    const auto n = static_cast<long long>(rule.neg.size());
    if (p < o.min_pos || n > o.max_neg || p == 0) return false;
    return static_cast<double>(p) / static_cast<double>(p + n) >= o.min_precision;
}

long long score_of(std::size_t new_pos, std::size_t new_neg, std::size_t body_length, CoverScore score) {
    long long s = static_cast<long long>(new_pos) - static_cast<long long>(new_neg);
    if (score == CoverScore::compression) s -= static_cast<long long>(body_length) - 1;
    return s;
}

}  // namespace

CoverScore cover_score_named(std::string_view name) {
    if (name == "coverage") return CoverScore::coverage;
    if (name == "compression") return CoverScore::compression;
    throw ValueError("eval_fn must be 'coverage' or 'compression' with selection='cover', not '" +
                     std::string(name) + "'");
}

std::size_t body_constants(std::string_view rule) {
    const std::size_t neck = rule.find(":-");
    if (neck == std::string_view::npos) return 0;
    std::size_t count = 0;
    for (std::string_view literal : text::split_top_level(rule.substr(neck + 2), "&,")) {
        const std::size_t open = literal.find('(');
        const std::size_t close = literal.rfind(')');
        std::vector<std::string_view> args;
        if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
            args = text::split_top_level(literal.substr(open + 1, close - open - 1), ",");
        } else {
            // An operator test such as A>=3 or X=<Y.
            for (std::string_view op : {">=", "=<", "=:=", "=\\=", ">", "<"}) {
                if (const std::size_t at = literal.find(op); at != std::string_view::npos) {
                    args = {literal.substr(0, at), literal.substr(at + op.size())};
                    break;
                }
            }
        }
        for (std::string_view a : args) {
            while (!a.empty() && a.front() == ' ') a.remove_prefix(1);
            if (!a.empty() && !(a.front() == '_' || (a.front() >= 'A' && a.front() <= 'Z'))) ++count;
        }
    }
    return count;
}

std::vector<std::size_t> select_cover(const std::vector<ProvedRule>& rules, std::size_t n_pos,
                                      std::size_t n_neg, const CoverOptions& options,
                                      const std::vector<std::size_t>& constants) {
    std::vector<std::size_t> eligible;
    std::vector<Bits> pos_bits, neg_bits;
    for (std::size_t i = 0; i < rules.size(); ++i) {
        if (!passes_filters(rules[i], options)) continue;
        eligible.push_back(i);
        pos_bits.push_back(Bits::of(rules[i].pos, n_pos));
        neg_bits.push_back(Bits::of(rules[i].neg, n_neg));
    }
    Bits covered_pos(n_pos), covered_neg(n_neg);
    std::vector<char> taken(eligible.size(), 0);
    std::vector<std::size_t> chosen;
    const auto limit = options.max_rules < 0 ? std::numeric_limits<std::size_t>::max()
                                             : static_cast<std::size_t>(options.max_rules);
    // Whether eligible rule k is simpler than eligible rule `than`: of two
    // rules the score ranks alike, the one naming fewer constants says less
    // about particular objects (the score already weighs body length).
    auto simpler = [&](std::size_t k, std::size_t than) {
        return !constants.empty() && constants[eligible[k]] < constants[eligible[than]];
    };
    while (chosen.size() < limit) {
        long long best_score = 0;
        std::size_t best = eligible.size();
        for (std::size_t k = 0; k < eligible.size(); ++k) {
            if (taken[k]) continue;
            const long long s = score_of(pos_bits[k].count_outside(covered_pos),
                                         neg_bits[k].count_outside(covered_neg),
                                         rules[eligible[k]].body_length, options.score);
            if (s < best_score || s <= 0) continue;
            if (s > best_score || simpler(k, best)) {
                best_score = s;
                best = k;
            }
        }
        if (best == eligible.size()) break;
        taken[best] = 1;
        covered_pos.add(pos_bits[best]);
        covered_neg.add(neg_bits[best]);
        chosen.push_back(eligible[best]);
    }
    return chosen;
}

namespace {

std::size_t body_literals(const std::string& rule) {
    const std::size_t neck = rule.find(":-");
    if (neck == std::string::npos) return 0;
    return text::split_top_level(std::string_view(rule).substr(neck + 2), "&,").size();
}

CoverOptions cover_options(const SelectionOptions& o, std::size_t n_pos, std::size_t n_neg) {
    CoverOptions c;
    c.min_pos = o.min_pos;
    if (o.min_pos_fraction > 0) {
        c.min_pos = std::max(1LL, static_cast<long long>(std::ceil(o.min_pos_fraction * static_cast<double>(n_pos))));
    }
    c.max_neg = o.max_neg;
    if (o.max_neg_fraction > 0) c.max_neg = static_cast<long long>(o.max_neg_fraction * static_cast<double>(n_neg));
    c.min_precision = o.min_precision;
    c.max_rules = o.max_rules;
    c.score = o.eval_fn == "accuracy" ? CoverScore::coverage : cover_score_named(o.eval_fn);
    return c;
}

std::vector<std::size_t> greedy_choice(const CoverageTable& table, std::size_t n_pos, std::size_t n_neg,
                                       const SelectionOptions& o, std::vector<std::size_t>& kept) {
    std::vector<std::vector<std::int64_t>> pos_of, neg_of;
    for (std::size_t i = 0; i < table.rules.size(); ++i) {
        const ProvedRule& r = table.covered[i];
        if (static_cast<long long>(r.pos.size()) < o.min_pos) continue;
        if (static_cast<long long>(r.neg.size()) > o.max_neg) continue;
        kept.push_back(i);
        pos_of.push_back(r.pos);
        neg_of.push_back(r.neg);
    }
    std::vector<std::size_t> chosen;
    for (std::size_t k : select_indexes(pos_of, neg_of, static_cast<long long>(n_pos), static_cast<long long>(n_neg))) {
        chosen.push_back(kept[k]);
    }
    return chosen;
}

}  // namespace

CoverageTable table_of_lists(const std::vector<std::vector<RuleId>>& pos_lists,
                             const std::vector<std::vector<RuleId>>& neg_lists, const CoverageCache& cache) {
    CoverageTable table;
    std::vector<std::int64_t> row(cache.rule_count(), -1);
    auto add = [&](const std::vector<std::vector<RuleId>>& lists, bool positive) {
        for (std::size_t e = 0; e < lists.size(); ++e) {
            for (RuleId id : lists[e]) {
                if (row[id] < 0) {
                    if (!positive) continue;
                    row[id] = static_cast<std::int64_t>(table.rules.size());
                    table.rules.push_back(cache.rule_text(id));
                    table.covered.emplace_back();
                    table.covered.back().body_length = body_literals(table.rules.back());
                }
                auto& positions = positive ? table.covered[row[id]].pos : table.covered[row[id]].neg;
                if (positions.empty() || positions.back() != static_cast<std::int64_t>(e)) {
                    positions.push_back(static_cast<std::int64_t>(e));
                }
            }
        }
    };
    add(pos_lists, true);
    add(neg_lists, false);
    return table;
}

Selection select_from_table(const CoverageTable& table, std::size_t n_pos, std::size_t n_neg,
                            const SelectionOptions& options) {
    std::vector<std::size_t> chosen;
    bool had_candidates = false;
    if (options.mode == "cover") {
        std::vector<std::size_t> constants;
        for (const std::string& rule : table.rules) constants.push_back(body_constants(rule));
        chosen = select_cover(table.covered, n_pos, n_neg, cover_options(options, n_pos, n_neg), constants);
        had_candidates = !chosen.empty();
    } else {
        std::vector<std::size_t> kept;
        chosen = greedy_choice(table, n_pos, n_neg, options, kept);
        had_candidates = !kept.empty();
    }
    Selection out;
    if (!had_candidates) return out;
    std::vector<std::string> rules;
    for (std::size_t i : chosen) rules.push_back(table.rules[i]);
    out.theory = theory_output(rules, options.pi, options.recursive);
    out.announce = true;
    return out;
}

}  // namespace vantor::learn
