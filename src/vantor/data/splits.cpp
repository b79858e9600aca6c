#include "data/splits.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "host.hpp"

namespace vantor::data {

std::int64_t training_size_for_count(std::size_t n, std::int64_t test_count) {
    return static_cast<std::int64_t>(n) - test_count;
}

std::int64_t training_size_for_fraction(std::size_t n, double test_fraction) {
    const double size = (1.0 - test_fraction) * static_cast<double>(n);
    if (!std::isfinite(size)) {
        throw ValueError("test_size " + std::to_string(test_fraction) +
                         " gives no finite training size; give a fraction between 0 and 1 "
                         "or a whole number of test examples");
    }
    // Anything beyond the id list behaves like its end, so clamping keeps
    // the cast defined without changing the split.
    const double bound = static_cast<double>(n) + 1.0;
    if (size >= bound) return static_cast<std::int64_t>(bound);
    if (size <= -bound) return -static_cast<std::int64_t>(bound);
    return static_cast<std::int64_t>(std::trunc(size));
}

std::size_t training_boundary(std::size_t n, std::int64_t training_size) {
    if (training_size >= 0) {
        const auto size = static_cast<std::uint64_t>(training_size);
        return size >= n ? n : static_cast<std::size_t>(size);
    }
    // -training_size cannot overflow for the values reaching here once
    // INT64_MIN is treated as "everything is test".
    if (training_size == std::numeric_limits<std::int64_t>::min()) return 0;
    const auto from_end = static_cast<std::uint64_t>(-training_size);
    return from_end >= n ? 0 : n - static_cast<std::size_t>(from_end);
}

std::vector<std::size_t> fold_sizes(std::size_t n, std::int64_t k) {
    if (k <= 0) {
        throw ValueError("folds must be a positive number of folds, got " + std::to_string(k));
    }
    const auto folds = static_cast<std::size_t>(k);
    std::vector<std::size_t> sizes(folds, n / folds);
    const std::size_t longer = n % folds;
    for (std::size_t i = 0; i < longer; ++i) ++sizes[i];
    return sizes;
}

}  // namespace vantor::data
