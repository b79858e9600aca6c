// Canonical variable names, literal matching and the chain normalisation of
// rules, on texts.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vantor::learn {

// Renames variables by order of first appearance (A, B, ...) across the
// literals of each subset; nullopt (the host's empty list) when a rewritten
// literal collapses into an equal one. Throws IndexError for an empty Hypo or
// an empty first subset.
std::optional<std::string> rename_variables(const std::vector<std::vector<std::string>>& hypo);

// Keeps, per position, literals that are not variants of an earlier kept one
// and renames later positions' variables onto the kept literal's.
std::vector<std::vector<std::string>> match_literals(const std::vector<std::vector<std::string>>& positions);

// Each rule reshaped into a first-to-last-argument chain from the head's
// first argument to its last; rules whose chain never gets there are
// dropped. Throws IndexError for a body literal or head without arguments.
std::vector<std::string> normalise_rule(const std::vector<std::string>& rules);

// The host's str() of a list of texts: ['a', 'b'].
std::string list_text(const std::vector<std::string>& items);

}  // namespace vantor::learn
