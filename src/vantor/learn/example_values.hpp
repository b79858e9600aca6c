// The measured values each example's bottom clause holds, for threshold
// tests cut where the examples are.
//
// With numbers kept as written, a bottom clause holds the example's own
// readings (reading(B,8.3)). A threshold for a node is then drawn from the
// examples the node covers: for a test X >= t, each covered positive's
// largest value of that column, for X =< t its smallest, a few of them
// spread from the loosest to the tightest. Background-wide cut points miss
// the boundary between the classes whenever it lies between two of them.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "learn/columns.hpp"

namespace vantor::learn {

class ExampleValues {
public:
    struct Range {
        double low = 0, high = 0;
        std::string low_text, high_text;
    };
    // One example's numbers by number column: the lowest and the highest.
    using Readings = std::unordered_map<std::string, Range>;
    static Readings read(const std::vector<std::string>& bottom_clause, const ColumnTypes& columns);

    // Records an example's readings (indexes grow from 0, one call per
    // example); they are kept by reference and must outlive this object.
    void add(const Readings& readings) { values_.push_back(&readings); }

    // Up to `count` cut points for the column "name/arity/position" over
    // `examples` (those beyond the recorded ones are ignored); none when
    // the examples hold no value of it.
    std::vector<std::string> cuts(const std::string& column_key, const std::vector<std::uint32_t>& examples,
                                  bool at_least, std::size_t count) const;

private:
    std::vector<const Readings*> values_;
};

}  // namespace vantor::learn
