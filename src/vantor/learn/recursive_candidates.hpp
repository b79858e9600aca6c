// Recursive candidates: rules that call the target predicate itself.
//
// Bottom clauses hold background literals only, so the rules the positives
// form never mention the target. Each formed rule gives recursive variants:
// one body literal with as many arguments as the head is replaced by a call
// of the target over the same arguments (path(A,B):-edge(A,C)&edge(C,B)
// gives path(A,B):-path(A,C)&edge(C,B) and path(A,B):-edge(A,C)&path(C,B)).
// Base and recursive rules then compete in one selection.
#pragma once

#include <string>
#include <vector>

namespace vantor::learn {

// The variants of every rule (internal form), in order, each text once and
// none already among `rules`; a variant whose body would repeat its head is
// left out.
std::vector<std::string> recursive_variants(const std::vector<std::string>& rules);

}  // namespace vantor::learn
