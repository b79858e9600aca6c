// Coverage: for every example, the canonical rules its bottom clause forms
// for each candidate.
//
// Literals are parsed once per cache (not per example or candidate) into
// ids; the rule cache is keyed by the sorted literal ids of a choice, and a
// rule text is built only the first time a set of literals is met. The cache
// outlives one pass (the positive and the negative pass share it, the
// cross-validation folds too), so the first order met for a set of literals
// fixes its rule text for the whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "host.hpp"
#include "text/substitution.hpp"

namespace vantor::learn {

using RuleId = std::uint32_t;
using LiteralId = std::uint32_t;

struct CoverageOptions {
    bool optimize = false;          // narrow literal choices with match_literals
    bool reduce_bc = false;         // sample each bottom clause down to bc_count literals
    long long bc_count = 20;
    bool rule_noise_check = false;  // pass rules through normalise_rule
};

namespace detail {
struct CoverageState;
}

class CoverageCache {
public:
    // `constant` fixes which arguments link literals; one cache serves one
    // constant set.
    explicit CoverageCache(const text::ConstantSet& constant);
    ~CoverageCache();
    CoverageCache(CoverageCache&&) noexcept;
    CoverageCache& operator=(CoverageCache&&) noexcept;

    const std::string& rule_text(RuleId id) const;
    RuleId intern_rule(const std::string& text);

    // Rule cache entry from the host: sorted_key is the tuple of literal
    // texts (ascending), value the rule text or nullopt for an empty list.
    // A key that is not in ascending order can never be looked up and is
    // ignored.
    void put_rule_entry(const std::vector<std::string>& sorted_key, std::optional<std::string> value);
    // An example whose hypothesis list the host holds: coverage skips it.
    void put_external_example(const std::string& example);

    // Remember the insertion order of rule cache entries (needed only to
    // write a host-side cache back; off by default to save memory).
    void keep_entry_order();

    // The rule cache entries added since `mark` (rule_entry_count() taken
    // earlier), in insertion order: key texts ascending, value. Only entries
    // added after keep_entry_order() are listed.
    std::size_t rule_entry_count() const;
    void rule_entries_since(std::size_t mark,
                            std::vector<std::pair<std::vector<std::string>, std::optional<RuleId>>>& out) const;

    // Example cache: nullptr when the example was never seen; an external
    // example gives a pointer to an empty list and external_example() true.
    const std::vector<RuleId>* example(const std::string& example) const;
    bool external_example(const std::string& example) const;

    std::size_t rule_count() const;

    detail::CoverageState& state() { return *state_; }

private:
    std::unique_ptr<detail::CoverageState> state_;
};

struct CoverageResult {
    // One list per example of the set, in its order.
    std::vector<std::vector<RuleId>> lists;
    // True where the list came from the example cache (an earlier pass, or
    // the host's cache for an external example, whose list here is empty).
    std::vector<char> cached;
};

// Coverage of one bottom-clause set. Examples found in the cache are not
// recomputed; every computed example is stored in the cache as soon as it is
// done (so an error part-way leaves the earlier ones there). Throws
// ValueError (naming the example) when reduce_bc is set and a bottom clause
// is shorter than bc_count.
CoverageResult compute_coverage(const data::BottomClauseSet& bk, const std::string& head,
                                 const std::vector<std::string>& candidates,
                                 const CoverageOptions& options, CoverageCache& cache,
                                 RandomSource& rng, Progress& progress);

// Examples computed (not taken from the cache) since the cache was made, in
// order: for writing a host-side example cache back.
const std::vector<std::string>& computed_examples(const CoverageCache& cache);

}  // namespace vantor::learn
