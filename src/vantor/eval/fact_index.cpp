#include "eval/fact_index.hpp"

#include <algorithm>

namespace vantor::eval::facts {

namespace {

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace

FactIndex::FactIndex(std::vector<std::pair<std::uint64_t, std::uint32_t>> entries) {
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::size_t keys = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) keys += i == 0 || entries[i].first != entries[i - 1].first;
    std::size_t capacity = 2;
    while (capacity < 2 * keys) capacity *= 2;  // at most half full: short probes
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    facts_.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size();) {
        const std::uint64_t key = entries[i].first;
        const auto begin = static_cast<std::uint32_t>(facts_.size());
        for (; i < entries.size() && entries[i].first == key; ++i) facts_.push_back(entries[i].second);
        std::uint64_t at = mix(key) & mask_;
        while (slots_[at].end != 0) at = (at + 1) & mask_;
        slots_[at] = Slot{key, begin, static_cast<std::uint32_t>(facts_.size())};
    }
}

std::span<const std::uint32_t> FactIndex::find(std::uint64_t key) const {
    for (std::uint64_t at = mix(key) & mask_;; at = (at + 1) & mask_) {
        const Slot& s = slots_[at];
        if (s.end == 0) return {};
        if (s.key == key) return {facts_.data() + s.begin, facts_.data() + s.end};
    }
}

}  // namespace vantor::eval::facts
