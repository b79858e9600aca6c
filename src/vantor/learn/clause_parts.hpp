// A clause body's independent parts.
//
// Every example binds the head, so two body literals depend on each other
// only through variables the head does not hold. A clause proves an example
// exactly when each of its parts does on its own, and proving the parts
// apart never takes more steps than proving the body: a part that fails is
// not retried for every answer of the parts before it. A refinement adds or
// changes one part of its parent, so only that part needs new proofs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "learn/refinement.hpp"

namespace vantor::learn {

// Body positions by part, each ascending, the parts ordered by their first
// literal. A body with an argument that is neither a constant nor a
// variable (a compound term, a list) is one part.
std::vector<std::vector<std::uint32_t>> independent_parts(const Literal& head, const std::vector<Literal>& body);

// "(H0,H1) :- l1, l2": the head's arguments and the literals at `positions`
// with every variable renamed by where it first appears (head positions,
// then the body's order), so equal texts prove the same examples.
std::string part_text(const Literal& head, const std::vector<Literal>& body,
                      const std::vector<std::uint32_t>& positions);

// The parts of `clause` holding a literal that `parent` (the clause it was
// refined from) lacks, as the text of one goal ("" when there is none). Its
// other parts are parts of the parent or subsets of them, so whatever the
// parent proves they prove.
std::string new_part(const Literal& head, const Clause& parent, const Clause& clause);

}  // namespace vantor::learn
