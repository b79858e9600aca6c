// Ground facts held as interned terms, each predicate indexed by every
// argument position, for proving search clauses without the engine.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "eval/fact_index.hpp"
#include "eval/fact_syntax.hpp"

namespace vantor::eval::facts {

// Constants -> dense ids. Atoms are equal by name, integers by value and
// floats by value too, but an integer never equals a float (1 \= 1.0): they
// get different ids, as unification tells them apart.
class TermTable {
public:
    enum Kind : std::uint8_t { atom, integer, real };
    // The id of a constant argument (a variable is not a term here).
    std::uint32_t intern(const Argument& a);
    Kind kind(std::uint32_t id) const { return kinds_[id]; }
    std::int64_t integer_value(std::uint32_t id) const { return integers_[id]; }
    double real_value(std::uint32_t id) const { return reals_[id]; }

private:
    std::uint32_t add(Kind kind, std::int64_t i, double r);
    std::unordered_map<std::string, std::uint32_t> atoms_;
    std::unordered_map<std::int64_t, std::uint32_t> integers_by_value_;
    std::unordered_map<std::uint64_t, std::uint32_t> reals_by_bits_;
    std::vector<Kind> kinds_;
    std::vector<std::int64_t> integers_;
    std::vector<double> reals_;
};

struct Predicate {
    std::size_t arity = 0;
    std::size_t count = 0;
    std::vector<std::uint32_t> args;  // fact k's arguments at [k * arity, (k + 1) * arity)
    // Per position: term -> the facts holding it there, in file order.
    std::vector<FactIndex> index;
    // Per set of bound positions (bit k for position k) that a join calls
    // the predicate with: the bound values' key -> the facts holding them,
    // in file order. Built on first use; a key may collide, so callers still
    // match each fact.
    std::unordered_map<std::uint64_t, FactIndex> by_mask;
    const FactIndex& index_for(std::uint64_t mask);
};

// The key of a call's bound values (`values` per position, those in `mask`).
std::uint64_t bound_key(const std::uint32_t* values, std::size_t arity, std::uint64_t mask);

// "name/arity" of a predicate.
std::string indicator(const std::string& name, std::size_t arity);

// Predicates by indicator, built from clauses that must all be ground facts.
class FactSet {
public:
    // Nothing when a clause is a rule or holds a variable.
    static std::optional<FactSet> from(const std::vector<ParsedClause>& clauses, TermTable& terms);
    Predicate* find(const std::string& key) {
        auto it = predicates_.find(key);
        return it == predicates_.end() ? nullptr : &it->second;
    }
    const std::unordered_map<std::string, Predicate>& predicates() const { return predicates_; }

private:
    std::unordered_map<std::string, Predicate> predicates_;
};

// A background file's facts with their terms, or why fact proving cannot
// answer for it (then null).
struct Background {
    TermTable terms;
    FactSet facts;
    // The last batch's common text and its facts (a search reuses one text).
    std::string common_text;
    std::optional<FactSet> common;
    // The last batch's example arguments and their term ids (a search
    // proves many batches on one list).
    std::vector<std::string> example_texts;
    std::vector<std::vector<std::uint32_t>> examples;
    std::atomic<bool> engine_loads = false;  // the engine loaded the file once
    std::mutex busy;  // one batch at a time: terms, indexes and the common facts grow
};

// The facts of the file at `path`, read once and kept while the file's size
// and modification time stay the same; null when the file is not only
// ground facts of plain constants (or cannot be read).
std::shared_ptr<Background> background_facts(const std::string& path);

// A background's facts held for one batch (`lock` on its `busy`): the kept
// copy, or, while other threads prove over it, a spare copy read from the
// same text, so that threads prove batches at once (at most one copy per
// core; past that, a thread waits for one). Empty when
// background_facts(path) is null.
struct BackgroundLease {
    std::shared_ptr<Background> facts;
    std::unique_lock<std::mutex> lock;
};
BackgroundLease lease_background_facts(const std::string& path);

}  // namespace vantor::eval::facts
