#include "learn/cover_selection.hpp"

#include <bit>
#include <limits>
#include <string>

#include "host.hpp"

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

std::vector<std::size_t> select_cover(const std::vector<ProvedRule>& rules, std::size_t n_pos,
                                      std::size_t n_neg, const CoverOptions& options) {
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
    while (chosen.size() < limit) {
        long long best_score = 0;
        std::size_t best = eligible.size();
        for (std::size_t k = 0; k < eligible.size(); ++k) {
            if (taken[k]) continue;
            const long long s = score_of(pos_bits[k].count_outside(covered_pos),
                                         neg_bits[k].count_outside(covered_neg),
                                         rules[eligible[k]].body_length, options.score);
            if (s > best_score) {
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

}  // namespace vantor::learn
