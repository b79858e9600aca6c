// Proving a clause over ground facts by a left-to-right join, the order in
// which the engine would try its literals and facts.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "eval/fact_store.hpp"

namespace vantor::eval::facts {

// A literal's argument: a constant's term id or a variable's number.
struct Slot {
    bool variable = false;
    std::uint32_t value = 0;
};

struct JoinLiteral {
    enum Kind : std::uint8_t { facts, at_least, at_most, above, below, equal, unequal } kind = facts;
    Predicate* predicate = nullptr;  // for facts
    std::vector<Slot> args;
    // The positions bound when the join reaches the literal (constants and
    // variables bound by the head or earlier literals; bit k for position
    // k): the same on every call, as the examples and facts are ground.
    std::uint64_t bound = 0;
    const FactIndex* by_bound = nullptr;  // for two or more bound positions
};

struct JoinClause {
    std::vector<Slot> head;
    std::vector<JoinLiteral> body;
    std::uint32_t variables = 0;
};

// Fact predicates by indicator: the background's, then the common text's.
struct FactScope {
    FactSet* background = nullptr;
    FactSet* common = nullptr;
    Predicate* find(const std::string& key) const;
};

// The clause in join form, or nothing when a body literal is neither a
// known fact predicate, a numeric comparison nor `true`.
std::optional<JoinClause> compile_clause(const ParsedClause& clause, const FactScope& scope, TermTable& terms);

// Why a join gave up: the engine must answer instead.
struct JoinUnsure {};

// Whether some clause proves the head for `example` (term ids). Stops at the
// first proof. Throws JoinUnsure when more than `budget` steps (calls and
// facts matched) are needed, or when a comparison meets an unbound or
// non-numeric value (the engine raises an error there).
// Reusable buffers for prove_example: one per goal saves an allocation per
// example.
struct JoinScratch {
    std::vector<std::uint32_t> binding, trail, values;
};
bool prove_example(const std::vector<JoinClause>& clauses, const std::vector<std::uint32_t>& example,
                   const TermTable& terms, std::size_t budget, JoinScratch& scratch);

}  // namespace vantor::eval::facts
