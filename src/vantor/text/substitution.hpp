// Matching two literals and testing how a body is linked to its head.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "text/clause.hpp"

namespace vantor::text {

// One pair term -> term per argument position, in argument order; the same
// key may occur more than once.
using Substitution = std::vector<std::pair<Arg, Arg>>;

// std::nullopt stands for the text "false" (no match).
std::optional<Substitution> literal_substitution(std::string_view a, std::string_view b);

// A set of constant texts, for the membership tests below.
using ConstantSet = std::unordered_set<std::string>;

bool is_linked(std::string_view arg_head, const std::vector<std::string>& body,
               const ConstantSet& constant);
bool is_chained(std::string_view arg_head, const std::vector<std::string>& body,
                const ConstantSet& constant);

}  // namespace vantor::text
