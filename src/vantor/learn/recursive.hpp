// Rewriting a selected theory into chains and recursive rule pairs.
#pragma once

#include <string>
#include <vector>

namespace vantor::learn {

// One rule per input rule: its body re-ordered into a chain linked first
// argument to last argument, from the head's first argument towards its
// last. The walk stops after the pass in which the chain reached the head's
// last argument, or after a pass that added nothing (the chain can never get
// there); literals never reached are dropped.
std::vector<std::string> chain_rule_body(const std::vector<std::string>& rules);

// A chain over a single predicate becomes a step rule calling the head's
// predicate and a base rule; one-literal rules stay; chains mixing
// predicates are dropped, and so is a step or base rule that cannot be
// written (its renaming collapses two literals).
std::vector<std::string> make_recursive_rules(const std::vector<std::string>& rules);

// Rewriting with invented predicates is not part of this library yet: the
// rules come back unchanged.
std::vector<std::string> postprocess_hypotheses(const std::vector<std::string>& rules, long long length = 2);

}  // namespace vantor::learn
