// The state a CoverageCache owns: the literal table, the rule cache keyed by
// sorted literal ids, the interned rule texts and the example cache.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "learn/candidates_intern.hpp"
#include "learn/coverage.hpp"

namespace vantor::learn::detail {

constexpr RuleId kNoRule = UINT32_MAX;

struct Entry {
    RuleId rule = kNoRule;  // kNoRule: the renaming collapsed two literals
    long long checked_for = -1;  // body size the check below was made for
    bool usable = false;         // no body literal repeats an argument, none collapsed
};

// Rule cache: sorted literal ids -> Entry. Almost every candidate has one
// or two body literals, so those keys pack into one 64-bit word in an
// open-addressing table (one probe sequence over flat arrays instead of a
// node per key); longer keys go to a second flat table that keeps their
// hash and points at the key's ids, stored back to back (millions of
// three-literal keys on the chemistry sets: a node and a string per key
// cost more than the search for them).
class KeyTable {
public:
    Entry* find(const LiteralId* ids, std::size_t n) {
        if (n <= 2) {
            if (slots_.empty()) return nullptr;
            const std::uint64_t k = pack(ids, n);
            for (std::size_t i = hash(k) & mask_;; i = (i + 1) & mask_) {
                if (slots_[i] == 0) return nullptr;
                if (slots_[i] == k) return &entries_[values_[i]];
            }
        }
        if (long_slots_.empty()) return nullptr;
        const std::uint64_t h = long_hash(ids, n);
        for (std::size_t i = h & long_mask_;; i = (i + 1) & long_mask_) {
            const LongSlot& slot = long_slots_[i];
            if (slot.entry == 0) return nullptr;
            if (slot.hash == h && same_key(slot.entry - 1, ids, n)) return &entries_[slot.entry - 1];
        }
    }
    // The key must not be present.
    Entry& insert(const LiteralId* ids, std::size_t n, const Entry& e) {
        const std::uint32_t index = static_cast<std::uint32_t>(entries_.size());
        entries_.push_back(e);
        if (n <= 2) {
            if ((used_ + 1) * 2 > slots_.size()) grow();
            place(pack(ids, n), index);
            ++used_;
        } else {
            if ((long_used_ + 1) * 2 > long_slots_.size()) grow_long();
            if (key_spans_.size() < entries_.size()) key_spans_.resize(entries_.size());
            key_spans_[index] = {long_ids_.size(), n};
            long_ids_.insert(long_ids_.end(), ids, ids + n);
            place_long(long_hash(ids, n), index);
            ++long_used_;
        }
        return entries_.back();
    }

private:
    static std::uint64_t pack(const LiteralId* ids, std::size_t n) {
        // Ids are offset by one so that 0 marks an empty slot and a
        // one-literal key (high word 0) never equals a two-literal one.
        if (n == 1) return std::uint64_t{ids[0]} + 1;
        return ((std::uint64_t{ids[0]} + 1) << 32) | (std::uint64_t{ids[1]} + 1);
    }
    static std::size_t hash(std::uint64_t x) {
        x ^= x >> 30;
        x *= 0xbf58476d1ce4e5b9ULL;
        x ^= x >> 27;
        x *= 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return static_cast<std::size_t>(x);
    }
    void place(std::uint64_t k, std::uint32_t v) {
        std::size_t i = hash(k) & mask_;
        while (slots_[i] != 0) i = (i + 1) & mask_;
        slots_[i] = k;
        values_[i] = v;
    }
    void grow() {
        std::vector<std::uint64_t> old_slots = std::move(slots_);
        std::vector<std::uint32_t> old_values = std::move(values_);
        const std::size_t size = old_slots.empty() ? 1024 : old_slots.size() * 2;
        slots_.assign(size, 0);
        values_.assign(size, 0);
        mask_ = size - 1;
        for (std::size_t i = 0; i < old_slots.size(); ++i) {
            if (old_slots[i] != 0) place(old_slots[i], old_values[i]);
        }
    }

    std::vector<std::uint64_t> slots_;
    std::vector<std::uint32_t> values_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
    static std::uint64_t long_hash(const LiteralId* ids, std::size_t n) {
        std::uint64_t h = n;
        for (std::size_t i = 0; i < n; ++i) h = hash(h ^ (std::uint64_t{ids[i]} + 0x9E3779B97F4A7C15ULL));
        return h;
    }
    bool same_key(std::uint32_t entry, const LiteralId* ids, std::size_t n) const {
        const auto [offset, size] = key_spans_[entry];
        if (size != n) return false;
        for (std::size_t i = 0; i < n; ++i) {
            if (long_ids_[offset + i] != ids[i]) return false;
        }
        return true;
    }
    void place_long(std::uint64_t h, std::uint32_t entry) {
        std::size_t i = h & long_mask_;
        while (long_slots_[i].entry != 0) i = (i + 1) & long_mask_;
        long_slots_[i] = {h, entry + 1};
    }
    void grow_long() {
        std::vector<LongSlot> old_slots = std::move(long_slots_);
        const std::size_t size = old_slots.empty() ? 1024 : old_slots.size() * 2;
        long_slots_.assign(size, LongSlot{});
        long_mask_ = size - 1;
        for (const LongSlot& slot : old_slots) {
            if (slot.entry != 0) place_long(slot.hash, slot.entry - 1);
        }
    }

    struct LongSlot {
        std::uint64_t hash = 0;
        std::uint32_t entry = 0;  // entry + 1, 0 = empty
    };
    std::vector<LongSlot> long_slots_;  // a key's hash beside its entry: one cache line per probe
    std::size_t long_mask_ = 0;
    std::size_t long_used_ = 0;
    std::vector<LiteralId> long_ids_;  // the long keys' ids, back to back
    std::vector<std::pair<std::size_t, std::size_t>> key_spans_;  // per entry: offset and length in long_ids_
    std::vector<Entry> entries_;
};

struct CoverageState {
    explicit CoverageState(const text::ConstantSet& c) : constant(c), literals(constant) {}

    text::ConstantSet constant;  // before `literals`, which refers to it
    LiteralTable literals;

    KeyTable rules_by_key;
    std::vector<std::u32string> key_order;
    bool keep_order = false;

    std::unordered_map<std::string, RuleId> rule_ids;
    std::vector<std::string> rule_texts;
    // Per rule id, its normal form's id once computed (ids are dense, so a
    // vector: this is looked up for every rule of every bottom clause).
    static constexpr RuleId kNotNormalised = kNoRule - 1;
    std::vector<RuleId> normalised;

    std::unordered_map<std::string, std::vector<RuleId>> examples;
    std::unordered_set<std::string> external;
    std::vector<std::string> computed;

    LiteralId literal(const std::string& text) { return literals.id(text); }

    RuleId rule(const std::string& text) {
        auto [it, inserted] = rule_ids.try_emplace(text, static_cast<RuleId>(rule_texts.size()));
        if (inserted) rule_texts.push_back(text);
        return it->second;
    }

    // The rule rename_variables([[head] + body]) writes, as an id; kNoRule
    // when two literals collapse into one. `usable` tells whether no body
    // literal repeats an argument.
    RuleId rename(LiteralId head, const LiteralId* body, std::size_t n, bool& usable);

    // Body literals without a repeated argument, counted once each, number
    // `body_size`.
    bool usable(RuleId rule, long long body_size) const;

    // normalise_rule of a rule, remembered per rule; kNoRule when the chain
    // never reaches the head's last argument.
    RuleId normalise(RuleId rule);

private:
    bool all_arguments_distinct(const LiteralId* body, std::size_t n) const;
    void write_renamed(const ParsedLiteral& literal, std::string& out);
    const std::string& variable_name(std::size_t k);

    // Buffers kept across rename() calls.
    std::vector<Id> renamed_terms_;           // renamed_terms_[k] is written variable_name(k)
    std::vector<std::string> renamed_texts_;  // the distinct renamed literals so far
    std::string rule_text_;
    std::vector<std::string> variable_names_;
};

}  // namespace vantor::learn::detail
