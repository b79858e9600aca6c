// Facts by a 64-bit key: an open-addressing table from keys to runs of fact
// numbers, laid out flat. A join looks a key up once per call, millions of
// times in a search, so the lookup is a masked probe rather than a node
// chase and a division.
#pragma once

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace vantor::eval::facts {

class FactIndex {
public:
    // (key, fact) pairs with the facts ascending (file order).
    explicit FactIndex(std::vector<std::pair<std::uint64_t, std::uint32_t>> entries = {});
    // The facts with this key, in file order (empty when none).
    std::span<const std::uint32_t> find(std::uint64_t key) const;

private:
    struct Slot {
        std::uint64_t key = 0;
        std::uint32_t begin = 0, end = 0;  // facts_[begin, end); end == 0: empty slot
    };
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> facts_;
    std::uint64_t mask_ = 0;
};

}  // namespace vantor::eval::facts
