// A bottom-clause dictionary as the core holds it: example texts in
// insertion order, each with its bottom clause (literal texts, in order).
#pragma once

#include <string>
#include <vector>

namespace vantor::data {

struct BottomClauseSet {
    std::vector<std::string> keys;
    std::vector<std::vector<std::string>> clauses;  // clauses[i] belongs to keys[i]

    std::size_t size() const { return keys.size(); }
};

}  // namespace vantor::data
