// The refinement operator of the search: clauses grown from one seed's
// bottom clause by adding one literal at a time.
//
// A clause is the seed's head with a body of bottom-clause literals, each
// linked to the head or to an earlier literal through an object variable
// (learn/columns.hpp). Attribute arguments enter as fresh variables that a
// refinement may bind to one of the column's values; number arguments enter
// as fresh variables that a refinement may test against a threshold
// (>=(X,t), =<(X,t)) or bind to the seed's own value. A literal that brings a number is also offered with
// its test at once (a lookahead of two literals), since the literal alone
// usually covers everything and would never look worth expanding. With
// recursion, a call of the target over the clause's object variables is a
// refinement like any other.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "learn/columns.hpp"
#include "text/substitution.hpp"

namespace vantor::learn {

struct Literal {
    std::string name;
    std::vector<std::string> args;
    std::string text() const;  // name(a,b), or name for no arguments
};

// Whether a term of a bottom clause or a clause is a variable (an upper-case
// letter or `_` first).
bool written_as_variable(std::string_view term);

// Parses "name(a,b)" (a final "." allowed); throws ValueError otherwise.
Literal parse_literal(std::string_view text);

// One argument of a bottom-clause literal, typed by its column.
struct TypedArgument {
    std::string text;  // as in the bottom clause
    ColumnKind kind = ColumnKind::object;
    bool variable = false;
    const Column* column = nullptr;
};

struct SeedLiteral {
    std::string name;
    std::vector<TypedArgument> args;
};

// The seed's head and its bottom clause, typed.
struct Seed {
    Literal head;
    std::vector<SeedLiteral> bottom;
    // Object variable -> the bottom literals holding it.
    std::unordered_map<std::string, std::vector<std::uint32_t>> literals_of;
};

// The head of an example: every argument outside `constant` becomes a
// variable named by its position, the same term twice the same variable
// (a reflexive example gives p(A,A)).
Literal seed_head(std::string_view example, const text::ConstantSet& constant);

Seed make_seed(std::string_view example, const std::vector<std::string>& bottom_clause,
               const text::ConstantSet& constant, const ColumnTypes& columns);

// A fresh variable of the body: an attribute to bind or a number to test.
struct Slot {
    std::string var;
    std::string column_key;  // "name/arity/position"
    ColumnKind kind = ColumnKind::attribute;
    const Column* column = nullptr;
    std::uint32_t literal = 0;  // body position
    bool bound = false, tested_ge = false, tested_le = false;
    std::string seed_value;  // a number's value in the seed's bottom clause
};

struct Clause {
    std::vector<Literal> body;
    std::vector<std::uint32_t> used;  // bottom literals taken, ascending
    std::vector<std::string> links;   // object variables of head and body
    std::vector<Slot> slots;
    bool calls_target = false;

    std::size_t length() const { return body.size(); }
    // The clause's identity for duplicate detection: its body literals,
    // sorted (fresh variables are named by where they come from, so two
    // orders of the same literals give the same key).
    std::string key() const;
};

struct RefineSettings {
    std::size_t max_literals = 2;
    bool recursive = false;  // offer calls of the head's predicate
    // Thresholds for a number column (key "name/arity/position") in a test
    // X >= t (at_least) or X =< t; when unset or empty, the column's own
    // cut points over the background.
    std::function<std::vector<std::string>(const std::string& column_key, bool at_least)> cuts;
};

// The root: the head with an empty body.
Clause root_clause(const Seed& seed);

// Every refinement of `clause` within settings.max_literals, in a fixed
// order. Alias literals (the same literal up to the names of its new
// variables, such as two cars of one train) are offered once only when what
// their new variables lead to in the bottom clause looks the same too: two
// cars are kept apart when one is short and the other is not.
std::vector<Clause> refinements(const Clause& clause, const Seed& seed, const RefineSettings& settings);

// "head:- b1,b2" with the variables renamed A, B, ... by first appearance
// (the Prolog form of a theory rule; "head:-true" for an empty body).
std::string rule_text(const Literal& head, const Clause& clause);

}  // namespace vantor::learn
