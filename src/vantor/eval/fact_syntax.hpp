// A reader for the small part of Prolog that fact proving answers natively:
// clauses `name(Arg, ...)` or `name(Arg, ...) :- lit, lit, ...` whose
// arguments are atoms (plain or quoted), integers, floats or variables.
//
// It reads a text exactly as SWI-Prolog would or not at all: whatever it is
// unsure of (escapes in quoted atoms, digit groups, special floats, lists,
// operators, directives) makes it give up, and the caller then leaves the
// whole batch to the engine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantor::eval::facts {

// One argument as read: a constant's kind and text (atoms by name, numbers
// by value), or a variable's name.
struct Argument {
    enum Kind : std::uint8_t { atom, integer, real, variable } kind = atom;
    std::string name;      // atom name or variable name
    std::int64_t integer_value = 0;
    double real_value = 0.0;
};

struct Atom {
    std::string name;
    std::vector<Argument> args;
};

struct ParsedClause {
    Atom head;
    std::vector<Atom> body;  // empty for a fact
    bool has_body = false;
};

// Every clause of `text`, or nothing when any part is outside the subset
// (directives included).
std::optional<std::vector<ParsedClause>> read_clauses(std::string_view text);

// An example's argument list "(a,1)" ("" for none), or nothing.
std::optional<std::vector<Argument>> read_arguments(std::string_view text);

}  // namespace vantor::eval::facts
