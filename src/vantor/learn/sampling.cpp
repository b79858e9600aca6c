#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>

#include "learn/candidates.hpp"
#include "learn/candidates_intern.hpp"
#include "learn/sampling_detail.hpp"
#include "text/clause.hpp"

namespace vantor::learn {

namespace {

std::string number_text(double x) {
    std::ostringstream out;
    out << x;
    return out.str();
}

[[noreturn]] void sample_too_large(std::string_view count, std::size_t n, std::string_view what) {
    throw ValueError("Sample larger than population or is negative: cannot draw " +
                     std::string(count) + " of " + std::to_string(n) + " " + std::string(what));
}

}  // namespace

std::vector<std::size_t> draw(RandomSource& rng, std::size_t n, long long k, std::string_view what) {
    if (k < 0 || static_cast<unsigned long long>(k) > n) sample_too_large(std::to_string(k), n, what);
    return rng.sample(n, static_cast<std::size_t>(k));
}

namespace detail {

long long draw_count(const KeySize& key_size, std::size_t n, std::string_view what) {
    if (key_size.kind == KeySize::Kind::Real) {
        // The host's sampler checks the bounds first and only then finds
        // that it cannot count with a float.
        const double x = key_size.real;
        if (!(x >= 0 && x <= static_cast<double>(n))) sample_too_large(number_text(x), n, what);
        throw TypeError("key_size must be a whole number of examples (an int), not the float " +
                        number_text(x));
    }
    return key_size.integer;
}

std::vector<std::string> draw_keys(const data::BottomClauseSet& set, long long k,
                                   RandomSource& rng, std::string_view what,
                                   std::vector<std::size_t>* positions) {
    const std::vector<std::size_t> order = sorted_positions(set.keys);
    std::vector<std::string> out;
    for (std::size_t i : draw(rng, order.size(), k, what)) {
        out.push_back(set.keys[order[i]]);
        if (positions) positions->push_back(order[i]);
    }
    return out;
}

}  // namespace detail

std::vector<std::size_t> sorted_positions(const std::vector<std::string>& keys) {
    std::vector<std::size_t> order(keys.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    // Byte order of UTF-8 is code point order, the host's string order.
    std::stable_sort(order.begin(), order.end(),
                     [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    return order;
}

std::vector<std::string> compress_bottom_clause(std::vector<std::string>& bc) {
    std::sort(bc.begin(), bc.end());
    std::vector<std::string> out;
    std::string_view run_key;
    bool first = true;
    for (const std::string& literal : bc) {
        const std::string_view lit(literal);
        const std::string_view key = lit.substr(0, lit.find('('));
        if (first || key != run_key) {
            out.push_back(literal);
            run_key = key;
            first = false;
        }
    }
    return out;
}

std::vector<std::string> first_literal_per_predicate(const std::vector<std::string>& literals) {
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (const std::string& literal : literals) {
        if (seen.insert(text::predicate_of(literal)).second) out.push_back(literal);
    }
    return out;
}

std::vector<std::string> limit_bottom_clause(const std::vector<std::string>& bc, long long bc_count,
                                             RandomSource& rng) {
    std::vector<std::string> out;
    for (std::size_t i : draw(rng, bc.size(), bc_count, "literals of the bottom clause")) {
        out.push_back(bc[i]);
    }
    return out;
}

const std::size_t* ArityTable::find(std::string_view predicate) const {
    for (const auto& entry : entries) {
        if (entry.first == predicate) return &entry.second;
    }
    return nullptr;
}

ArityTable predicate_arity_table(data::BottomClauseSet& pos, long long size_positive_example,
                                 const KeySize& key_size, RandomSource& rng,
                                 std::vector<std::size_t>* sorted_keys_out) {
    long long n = 0;
    if (!key_size.given()) {
        n = size_positive_example / 10;
    } else if (key_size.kind == KeySize::Kind::Integer) {
        n = key_size.integer;
    } else if (key_size.real > 1) {
        n = detail::draw_count(key_size, pos.size(), "positive examples");
    }
    if (n <= 1) n = 1;

    std::vector<std::size_t> drawn;
    detail::draw_keys(pos, n, rng, "positive examples", &drawn);

    ArityTable table;
    std::unordered_set<std::string> seen;
    for (std::size_t position : drawn) {
        for (const std::string& literal : compress_bottom_clause(pos.clauses[position])) {
            const text::Clause clause(literal);
            if (seen.insert(clause.predicate).second) {
                table.entries.emplace_back(clause.predicate, clause.args().size());
            }
        }
        if (sorted_keys_out) sorted_keys_out->push_back(position);
    }
    return table;
}

}  // namespace vantor::learn
