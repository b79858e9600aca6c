// Abduction: proposing ground facts for abducible predicates.
//
// A rule names exactly one abducible literal in its body. For every example
// the rule's ordinary body literals are matched against the example's bottom
// clause; where the matches agree on the terms the body literals share, the
// abducible literal is instantiated with the head's ground values and the
// agreed terms, and each resulting fact counts as one proposal.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "data/bottom_clause_set.hpp"
#include "text/substitution.hpp"

namespace vantor::abduce {

using PredicateSet = std::unordered_set<std::string>;

struct Separated {
    std::vector<std::string> rules;       // every rule without its abducible literals
    std::vector<std::string> abducibles;  // the removed literals, rule order then body order
};

Separated separate_abducibles(const std::vector<std::string>& rules, const PredicateSet& abduce);

// True when every key the two substitutions share takes the same values in
// both, in the same order and with the same multiplicity.
bool consistent_substitutions(const text::Substitution& a, const text::Substitution& b);

// Every fact the literals of `a` give when each argument takes, in turn, each
// value `dic` holds for it (an argument without values stays as it is).
// Repeated values give repeated facts.
std::vector<std::string> instantiate_abducibles(const std::vector<std::string>& a,
                                                const text::Substitution& dic);

enum class Metric { Coverage, PredictivePower, Other };

struct AbductionResult {
    // Fact -> count (or score under PredictivePower), in order of first proposal.
    std::vector<std::pair<std::string, std::int64_t>> counts;
    // The whole output file: header line and one line per fact, sorted by fact.
    std::string file_text;
};

inline constexpr const char* kAbductionHeader = "fact \t coverage \n";

// Throws ValueError when a rule does not carry exactly one abducible literal
// and KeyError when an example id is not a key of `dictionary`; both before
// any work is done.
AbductionResult abduce(const data::BottomClauseSet& dictionary,
                       const std::vector<std::string>& example_ids,
                       const text::ConstantSet& constant_set,
                       const std::vector<std::string>& rules, const PredicateSet& abducible,
                       Metric metric);

// The text Python's str() gives for a list of texts: ['a', 'b'].
std::string python_list_text(const std::vector<std::string>& items);

}  // namespace vantor::abduce
