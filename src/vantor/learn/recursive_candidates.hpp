// Recursive candidates: rules that call the target predicate itself.
//
// Bottom clauses hold background literals only, so the rules the positives
// form never mention the target. Each formed rule gives recursive variants:
// one body literal with as many arguments as the head is replaced by a call
// of the target over the same arguments (path(A,B):-edge(A,C)&edge(C,B)
// gives path(A,B):-path(A,C)&edge(C,B) and path(A,B):-edge(A,C)&path(C,B)).
// For a binary target, two binary literals joined only through a variable
// of their own are replaced by one call over their other arguments as well
// (same_generation(A,B):-child(A,C)&child(B,D)&child(C,E)&child(D,E) gives
// same_generation(A,B):-child(A,C)&child(B,D)&same_generation(C,D)): a step
// that takes two literals, which no single replacement can reach.
// Base and recursive rules then compete in one selection.
#pragma once

#include <string>
#include <vector>

namespace vantor::learn {

// The variants of every rule (internal form), in order, each text once and
// none already among `rules`; a variant whose body would repeat its head, or
// whose call holds a variable found nowhere else in the rule, is left out.
std::vector<std::string> recursive_variants(const std::vector<std::string>& rules);

}  // namespace vantor::learn
