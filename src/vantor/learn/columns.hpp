// What each argument column of the background holds, read off the facts.
//
// Without mode declarations the search still has to know which arguments
// link literals and which describe them. A column is decided once from
// every fact of its predicate:
//   - number: only numbers, and more distinct values than an attribute has;
//     the search gives it a fresh variable at each occurrence and tests it
//     against thresholds;
//   - object: some value is also the first argument of a fact (it is a
//     thing the background says more about), or the column has many
//     distinct values; its variables link literals;
//   - attribute: few distinct values (at most the square root of the
//     predicate's fact count) that are never a first argument, such as an
//     element or a colour: a fresh variable the search may bind to one of
//     the values, never a link (two atoms both of element c are not
//     related by that).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantor::learn {

enum class ColumnKind { object, attribute, number };

struct Column {
    ColumnKind kind = ColumnKind::object;
    // attribute: its values in order of first occurrence; number: a few
    // cut points spread over its sorted distinct values.
    std::vector<std::string> values;
};

class ColumnTypes {
public:
    // From the background's lines (facts "p(a,b)."; rules and comments are
    // skipped). `cuts` bounds the thresholds kept per number column.
    static ColumnTypes from_lines(const std::vector<std::string_view>& lines, std::size_t cuts = 8);

    // The column of argument `position` of name/arity; object when unknown.
    const Column& column(std::string_view name, std::size_t arity, std::size_t position) const;

    bool has_numbers() const { return has_numbers_; }

private:
    std::unordered_map<std::string, Column> columns_;
    bool has_numbers_ = false;  // key "name/arity/position"
};

}  // namespace vantor::learn
