// Data tables to background facts, example files and meta-information, and
// learned rules back to readable numeric conditions.
//
// The host reads the table and hands over, per column, the value texts it
// writes (integers plain, floats in their shortest round-trip form) and, for
// numeric columns, the numbers themselves. Everything else, the ranges, the
// file texts and their parsing, happens here. File writing stays with the
// host so that a file is replaced only once all of its text is known.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vantor::tabular {

// Lower-casing of non-ASCII text the way the host does it (str.lower());
// the core lower-cases ASCII itself and asks this only for the rest.
using LowerFn = std::function<std::string(std::string_view)>;

// g0, g1, ...: the label of range i.
std::string range_label(std::size_t i);

// Lower-cases ASCII letters only: enough when no host is around.
std::string ascii_lower(std::string_view s);

// One cell of a numeric column: a 64-bit integer or a double.
struct Number {
    bool is_int = true;
    std::int64_t i = 0;
    double d = 0.0;

    static Number integer(std::int64_t v) { return Number{true, v, 0.0}; }
    static Number real(double v) { return Number{false, 0, v}; }
    bool is_nan() const;
};

// Exact numeric comparison, integers against doubles included: -1, 0, 1.
// Neither side may be NaN.
int compare(const Number& a, const Number& b);

// The cells of a column that hold a value: their row numbers, in order, and
// how many cells of the column were missing (they give no fact).
struct PresentRows {
    std::vector<std::size_t> rows;
    std::size_t missing = 0;

    // Rows 0 .. count-1, none missing.
    static PresentRows all(std::size_t count);
};

// How one column was written; labels, bk_values and rows run over the
// cells that hold a value.
struct ColumnEncoding {
    bool encoded = false;                // discretised into ranges
    std::string meta_block;              // its block of the meta-information file
    std::vector<std::string> labels;     // per cell: the range label or the value text
    std::vector<std::string> bk_values;  // per cell: the label as written in the background file
    std::vector<std::size_t> rows;       // per cell: its row number
};

// Categorical column: distinct values in order of first occurrence.
ColumnEncoding encode_categorical(std::string_view column_name,
                                  const std::vector<std::string>& texts, const PresentRows& present,
                                  const LowerFn& lower);

// Numeric column: ranges over its sorted distinct values, or categorical when
// default_div or the column's condition is 1, or when it has two distinct
// values or fewer than the number of ranges. A number of ranges below 1 and
// a NaN in a column that is discretised raise ValueError.
ColumnEncoding encode_numeric(std::string_view column_name, const std::vector<Number>& numbers,
                              const std::vector<std::string>& texts, const PresentRows& present,
                              long long default_div, std::optional<long long> condition,
                              const LowerFn& lower);

// Fact texts as first built: the column name without brackets, "(e_", row,
// ",", label, ")." (no rewriting).
std::vector<std::string> raw_facts(std::string_view column_name, const ColumnEncoding& encoding);

// The lines of the background file for one column, each ended by "\n".
std::string background_lines(std::string_view column_name, const ColumnEncoding& encoding,
                             const LowerFn& lower);

// A value as the background file writes it: lower case, white space and the
// characters the literal and rule parsers split at (, ( ) [ ] &) turned into
// "_", and quoted when it is then still not a plain atom or number.
std::string value_term(std::string_view text, const LowerFn& lower);

// A column name as the background file writes its predicate: brackets
// removed, then spelled like a value but always an atom.
std::string predicate_term(std::string_view column_name, const LowerFn& lower);

// Texts written on one line of the meta-information file: a line break
// inside a name or value would start a new line there.
std::string single_line(std::string_view text);

// prepare_examples: the target block and the text of every example file.
struct ExampleTexts {
    std::string meta_block;
    std::vector<std::string> file_texts;  // one per class rank
};
ExampleTexts example_texts(std::string_view example_label, std::string_view target_name,
                           const std::vector<std::string>& class_texts,
                           const std::vector<std::string>& file_names,
                           const std::vector<std::size_t>& row_ranks);

// One block of a meta-information file.
struct MetaBlock {
    std::string key;  // "Feature Name" key: blanks to "_", case and brackets kept
    bool encoded = false;
    std::vector<std::string> ranges;  // "lo--hi" texts of an encoded feature
    std::vector<std::string> values;  // value texts of a categorical feature
    // value position -> the constant the background file writes for it, when a
    // "(Spelled) - j : term" note after the block says so (values whose usual
    // spelling another value of the column already has).
    std::unordered_map<std::size_t, std::string> spelled;
};

// Parses the whole file text; a malformed feature block raises ValueError
// naming the file and the line number.
std::vector<MetaBlock> parse_meta(std::string_view text, std::string_view file_name);

using RangeMap = std::vector<std::pair<std::string, std::vector<std::string>>>;

// Feature key -> ranges, in file order; a key met again starts afresh.
RangeMap meta_information(const std::vector<MetaBlock>& blocks);

// The constants a learner must keep: g0..g(k-1) per encoded feature and
// every categorical value spelled as the background file spells it.
std::vector<std::string> meta_constants(const std::vector<MetaBlock>& blocks,
                                        const LowerFn& lower);

// Rule decoding against a range map: an argument "g<digits>" of a predicate
// with ranges is a range label, anything else is kept as it is. The lookup of predicates is built once
// and serves every rule.
class RuleDecoder {
public:
    RuleDecoder(RangeMap ranges, LowerFn lower);
    std::string decode(std::string_view rule) const;

private:
    // The ranges of a predicate, matched exactly or as the background file
    // spells the feature key; nullptr for a categorical or unknown one.
    const std::vector<std::string>* ranges_of(const std::string& predicate) const;

    RangeMap ranges_;
    LowerFn lower_;
    std::unordered_map<std::string, std::size_t> exact_;       // key -> index
    std::unordered_map<std::string, std::size_t> normalised_;  // predicate term -> first index
};

}  // namespace vantor::tabular
