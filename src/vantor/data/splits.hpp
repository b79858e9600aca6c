// Size arithmetic of train/test splits and k folds over an ordered id list.
//
// The host keeps the dictionaries and the id list; these functions only say
// where the list is cut, so both halves are plain slices of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor::data {

// Training size for n examples when test_size is a count of test examples
// (a test_size above 1): n - count, which is negative when count > n.
std::int64_t training_size_for_count(std::size_t n, std::int64_t test_count);

// Training size when test_size is a fraction (1 or less): the truncation of
// (1 - fraction) * n in double precision, so 0.9 of 10 gives 0, not 1.
// Raises ValueError when the product is not finite.
std::int64_t training_size_for_fraction(std::size_t n, double test_fraction);

// Index in the id list where training ends and test begins. A negative
// training size counts from the end (all but the last |size| ids train); a
// size of n or more puts every id into training.
std::size_t training_boundary(std::size_t n, std::int64_t training_size);

// Sizes of k consecutive chunks of n ids: the first n mod k chunks hold
// n/k + 1 ids, the others n/k; chunks are empty when k > n. Raises
// ValueError when k is not positive.
std::vector<std::size_t> fold_sizes(std::size_t n, std::int64_t k);

}  // namespace vantor::data
