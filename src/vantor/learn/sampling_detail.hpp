// Draw helpers shared by the candidate stages.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "learn/candidates.hpp"

namespace vantor::learn::detail {

// The draw count a given key_size stands for. A float count fails as the
// host's sampler fails: ValueError when out of bounds, TypeError otherwise.
long long draw_count(const KeySize& key_size, std::size_t n, std::string_view what);

// k keys of `set` drawn from its keys in ascending text order, in draw
// order; their positions in `set.keys` are appended to `positions`.
std::vector<std::string> draw_keys(const data::BottomClauseSet& set, long long k,
                                   RandomSource& rng, std::string_view what,
                                   std::vector<std::size_t>* positions = nullptr);

}  // namespace vantor::learn::detail
