// Threshold tests on measured values: `numbers="compare"`.
//
// With numbers as variables, a rule such as t(A):-size(A,B) says nothing
// about B. Its variants add one test B >= v or B =< v, where v is one of a
// few values that argument takes in the background (spread over the sorted
// distinct values), so that proving can find the cut that separates the
// classes, as a peer's "lazy evaluation" of thresholds does. Tests are
// written in functional form (>=(B,v)) so that they read as literals.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantor::learn {

// (predicate name, argument position) -> candidate thresholds as written.
using Thresholds = std::map<std::pair<std::string, std::size_t>, std::vector<std::string>>;

// At most `per_position` values for every argument position that holds
// only numbers in the given background lines (facts "p(a,1.5)."; other lines
// are skipped).
Thresholds numeric_thresholds(const std::vector<std::string_view>& lines, std::size_t per_position);

// The variants of every rule (internal form), each text once and none
// already among `rules`.
std::vector<std::string> threshold_variants(const std::vector<std::string>& rules, const Thresholds& thresholds);

}  // namespace vantor::learn
