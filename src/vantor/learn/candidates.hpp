// From bottom clauses to candidate rules: the arity table, bottom-clause
// sampling and compression, relation chains, rule templates and the
// instantiation of templates into candidate rules.
//
// Every random draw goes through the host's generator (RandomSource), over
// keys sorted in ascending text order, so that a seeded host run repeats
// exactly. A draw larger than its population throws ValueError; nothing is
// clipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "host.hpp"
#include "text/substitution.hpp"

namespace vantor::learn {

// The `key_size` parameter as the host gave it. Only its truth value and its
// number matter: a value that tests false asks for a tenth of the examples.
// A non-integral number (0.5, 2.0 given as a float) is kept apart because
// the host's sampler refuses it as a draw count while the arity table, which
// never draws fewer than one example, turns anything up to 1 into 1.
struct KeySize {
    enum class Kind { Unset, Integer, Real };
    Kind kind = Kind::Unset;
    long long integer = 0;  // Kind::Integer (never 0: 0 tests false)
    double real = 0.0;      // Kind::Real (never 0.0)

    static KeySize unset() { return {}; }
    static KeySize of(long long n) {
        return n == 0 ? KeySize{} : KeySize{Kind::Integer, n, 0.0};
    }
    static KeySize of_real(double x) {
        return x == 0.0 ? KeySize{} : KeySize{Kind::Real, 0, x};
    }
    bool given() const { return kind != Kind::Unset; }
};

// Draws k items of a population of n with the host's generator; throws
// ValueError ("Sample larger than population or is negative", with both
// numbers) when k < 0 or k > n. `what` names the population in the message.
std::vector<std::size_t> draw(RandomSource& rng, std::size_t n, long long k, std::string_view what);

// Positions of `keys` in ascending text order (the order every draw is made
// from).
std::vector<std::size_t> sorted_positions(const std::vector<std::string>& keys);

// ---- sampling and compression -------------------------------------------

// Sorts `bc` in place (ascending text order) and returns, for every run of
// literals with the same text before "(", the first (smallest) literal.
std::vector<std::string> compress_bottom_clause(std::vector<std::string>& bc);

// For each predicate, the first literal that has it, in input order.
std::vector<std::string> first_literal_per_predicate(const std::vector<std::string>& literals);

// random.sample(bc, bc_count). bc_count larger than bc (or negative) throws
// ValueError.
std::vector<std::string> limit_bottom_clause(const std::vector<std::string>& bc,
                                             long long bc_count, RandomSource& rng);

// Predicate name -> number of arguments of the literal it was first seen
// with, in order of first appearance.
struct ArityTable {
    std::vector<std::pair<std::string, std::size_t>> entries;

    // nullptr when the predicate is not in the table.
    const std::size_t* find(std::string_view predicate) const;
};

// Draws max(1, key_size or size_positive_example / 10) examples of `pos`
// (sorted keys) and records the predicates of their compressed bottom
// clauses. The drawn examples' clauses are sorted in place inside `pos`;
// their positions (in `pos.keys`) are appended to `sorted_keys_out` in draw
// order when it is given, so that a binding can sort the host's lists too.
// An empty `pos` or a draw larger than `pos` throws ValueError.
ArityTable predicate_arity_table(data::BottomClauseSet& pos, long long size_positive_example,
                                 const KeySize& key_size, RandomSource& rng,
                                 std::vector<std::size_t>* sorted_keys_out = nullptr);

// ---- relation chains ------------------------------------------------------

using PredicatePair = std::pair<std::string, std::string>;

// Seeds `rng` with length_positive_examples, draws examples and returns the
// ordered predicate pairs seen linked (head-to-body, body-to-body), in order
// of first acceptance.
std::vector<PredicatePair> relation_chains(const data::BottomClauseSet& pos,
                                           long long length_positive_examples,
                                           const text::ConstantSet& constant_set,
                                           const KeySize& key_size, bool set_chain,
                                           RandomSource& rng);

// ---- rule templates ---------------------------------------------------------

// Predicate signatures already abstracted into a template: each entry is a
// multiset of predicate names, held sorted in ascending text order, in order
// of insertion.
struct Track {
    std::vector<std::vector<std::string>> signatures;
};

// Templates of one bottom clause (creation order, no duplicates); adds the
// signature of every template made to `track`. `new_head` overrides the
// template head make_literal("A", args of h) when the caller has rendered it
// already (a head with a nested-list argument is written as the host writes
// a list).
std::vector<std::string> hypotheses_from_bottom_clause(const std::vector<std::string>& bc,
                                                       std::string_view h,
                                                       const text::ConstantSet& constant,
                                                       long long max_literals, bool exact_literals,
                                                       Track& track,
                                                       const std::string* new_head = nullptr);

// Draws key_size (or a tenth, at least one) examples of `positives` from the
// generator as it stands and returns their templates in order of first
// occurrence. Throws ValueError for an empty `positives` or a draw larger than it.
std::vector<std::string> generate_hypotheses(const data::BottomClauseSet& positives,
                                             const text::ConstantSet& constant,
                                             long long max_literals, bool exact_literals,
                                             const KeySize& key_size, RandomSource& rng);

// ---- meta-rule instantiation --------------------------------------------

// Candidate rules with head `head` from `templates`, the predicates of
// the arity table and the links in `relation`; creation order, no
// duplicates.
std::vector<std::string> apply_meta_rules(const std::string& head, const std::vector<std::string>& templates,
                                          const ArityTable& arity,
                                          const std::vector<PredicatePair>& relation, bool distinct);

}  // namespace vantor::learn
