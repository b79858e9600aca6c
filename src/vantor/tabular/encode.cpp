#include <algorithm>
#include <cmath>
#include <numeric>
#include <unordered_map>

#include "host.hpp"
#include "tabular/tabular.hpp"
#include "text/pystr.hpp"

namespace vantor::tabular {

namespace {

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string lowered(std::string_view s, const LowerFn& lower) {
    if (is_ascii(s) || !lower) return ascii_lower(s);
    return lower(s);
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A Prolog atom that needs no quotes: a lower-case ASCII letter, then
// letters, digits and underscores.
bool is_plain_atom(std::string_view s) {
    if (s.empty() || s[0] < 'a' || s[0] > 'z') return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_';
    });
}

// A number Prolog reads back as the same text's number: optional minus,
// digits, optional fraction, optional exponent. Forms Prolog would read
// differently (0x1f, 1_000, .5, 1.) are left to quoting.
bool is_plain_number(std::string_view s) {
    std::size_t i = 0;
    auto digits = [&] {
        const std::size_t start = i;
        while (i < s.size() && is_digit(s[i])) ++i;
        return i > start;
    };
    if (i < s.size() && s[i] == '-') ++i;
    if (!digits()) return false;
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (!digits()) return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digits()) return false;
    }
    return i == s.size();
}

// White space and the characters the literal parser splits arguments at
// (and "&", where the rule parser splits bodies) all become "_".
std::string flatten(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t start = i;
        const char32_t c = text::next_code_point(s, i);
        if (text::is_space(c) || c == U',' || c == U'(' || c == U')' || c == U'[' || c == U']' ||
            c == U'&') {
            out.push_back('_');
        } else {
            out.append(s.substr(start, i - start));
        }
    }
    return out;
}

std::string quoted(std::string_view s) {
    static const char* hex = "0123456789abcdef";
    std::string out = "'";
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '\'') {
            out += "''";
        } else if (ch == '\\') {
            out += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            if (c >= 0x10) out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0xf]);
            out += "\\";
        } else {
            out.push_back(ch);
        }
    }
    out += "'";
    return out;
}

std::string remove_brackets(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c != '(' && c != ')') out.push_back(c);
    }
    return out;
}

std::string feature_header(std::string_view column_name, const char* kind, std::size_t count) {
    std::string out = "Feature Name : ";
    out += single_line(column_name);
    out += "\t (";
    out += kind;
    out += ") - ";
    out += std::to_string(count);
    out += '\n';
    return out;
}

}  // namespace

std::string range_label(std::size_t i) {
    std::string out = "g";
    out += std::to_string(i);
    return out;
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool Number::is_nan() const { return !is_int && std::isnan(d); }

namespace {
int compare_int_double(std::int64_t i, double d) {
    constexpr double two63 = 9223372036854775808.0;
    if (d >= two63) return -1;
    if (d < -two63) return 1;
    const double t = std::trunc(d);
    const auto ti = static_cast<std::int64_t>(t);
    if (i != ti) return i < ti ? -1 : 1;
    const double frac = d - t;
    return frac > 0 ? -1 : (frac < 0 ? 1 : 0);
}
}  // namespace

int compare(const Number& a, const Number& b) {
    if (a.is_int && b.is_int) return a.i < b.i ? -1 : (a.i > b.i ? 1 : 0);
    if (!a.is_int && !b.is_int) return a.d < b.d ? -1 : (a.d > b.d ? 1 : 0);
    if (a.is_int) return compare_int_double(a.i, b.d);
    return -compare_int_double(b.i, a.d);
}

std::string single_line(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return out;
}

std::string value_term(std::string_view text, const LowerFn& lower) {
    std::string term = flatten(lowered(text, lower));
    if (is_plain_atom(term) || is_plain_number(term)) return term;
    return quoted(term);
}

std::string predicate_term(std::string_view column_name, const LowerFn& lower) {
    std::string term = flatten(lowered(remove_brackets(column_name), lower));
    if (is_plain_atom(term)) return term;
    return quoted(term);
}

PresentRows PresentRows::all(std::size_t count) {
    PresentRows out;
    out.rows.resize(count);
    std::iota(out.rows.begin(), out.rows.end(), std::size_t{0});
    return out;
}

namespace {

// Checks that every cell has a row and notes the missing cells of the column
// after its block; the readers of the file skip the note.
void note_rows(std::string_view column_name, std::size_t cells, const PresentRows& present,
               ColumnEncoding& enc) {
    if (present.rows.size() != cells) {
        throw ValueError("column " + std::string(column_name) + ": values and rows differ in length");
    }
    enc.rows = present.rows;
    if (present.missing) {
        enc.meta_block += "\t(Missing) - " + std::to_string(present.missing) +
                          " cells without a value, written as no fact\n";
    }
}

}  // namespace

ColumnEncoding encode_categorical(std::string_view column_name,
                                  const std::vector<std::string>& texts, const PresentRows& present,
                                  const LowerFn& lower) {
    ColumnEncoding enc;
    std::unordered_map<std::string_view, std::size_t> seen;  // value -> distinct position
    std::vector<std::string_view> distinct;
    std::vector<std::size_t> position(texts.size());
    for (std::size_t r = 0; r < texts.size(); ++r) {
        auto [it, fresh] = seen.emplace(texts[r], distinct.size());
        if (fresh) distinct.push_back(texts[r]);
        position[r] = it->second;
    }
    enc.meta_block = feature_header(column_name, "Not Encoded", distinct.size());
    std::vector<std::string> terms;
    terms.reserve(distinct.size());
    for (std::string_view v : distinct) {
        enc.meta_block += '\t';
        enc.meta_block += single_line(v);
        enc.meta_block += '\n';
        terms.push_back(value_term(v, lower));
    }
    enc.labels = texts;
    enc.bk_values.reserve(texts.size());
    for (std::size_t r = 0; r < texts.size(); ++r) enc.bk_values.push_back(terms[position[r]]);
    note_rows(column_name, texts.size(), present, enc);
    return enc;
}

namespace {

// The number of ranges asked for, or nullopt when the column is to be
// written as categorical values.
std::optional<std::size_t> ranges_asked(std::string_view column_name, long long default_div,
                                        std::optional<long long> condition) {
    if (default_div < 1) {
        throw ValueError("default_div must be at least 1 (the number of ranges), got " +
                         std::to_string(default_div));
    }
    if (condition && *condition < 1) {
        throw ValueError("conditions[" + std::string(column_name) +
                         "] must be at least 1 (the number of ranges), got " +
                         std::to_string(*condition));
    }
    if (default_div == 1) return std::nullopt;
    if (!condition) return static_cast<std::size_t>(default_div);
    if (*condition == 1) return std::nullopt;
    return static_cast<std::size_t>(*condition);
}

// Distinct values by numeric equality, ascending, each represented by its
// first row; all NaN cells together count as one value.
struct DistinctValues {
    std::vector<std::size_t> rows;   // row standing for each distinct value
    std::vector<std::size_t> rank;   // row -> distinct position (NaN rows: unset)
    std::optional<std::size_t> first_nan;

    std::size_t count() const { return rows.size() + (first_nan ? 1 : 0); }
};

DistinctValues distinct_values(const std::vector<Number>& numbers) {
    DistinctValues out;
    std::vector<std::size_t> order;
    order.reserve(numbers.size());
    for (std::size_t r = 0; r < numbers.size(); ++r) {
        if (!numbers[r].is_nan()) order.push_back(r);
        else if (!out.first_nan) out.first_nan = r;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return compare(numbers[a], numbers[b]) < 0;
    });
    out.rank.resize(numbers.size());
    for (std::size_t r : order) {
        if (out.rows.empty() || compare(numbers[out.rows.back()], numbers[r]) != 0) out.rows.push_back(r);
        out.rank[r] = out.rows.size() - 1;
    }
    return out;
}

// Splits the distinct values into `ranges` consecutive chunks (n/k values
// each, plus one for the first n mod k) and labels every row by its chunk.
ColumnEncoding encode_ranges(std::string_view column_name, const std::vector<std::string>& texts,
                             const DistinctValues& values, std::size_t ranges) {
    ColumnEncoding enc;
    enc.encoded = true;
    enc.meta_block = feature_header(column_name, "Encoded", ranges);
    const std::size_t n = values.count();
    std::vector<std::size_t> chunk_of(n);
    const std::size_t base = n / ranges, extra = n % ranges;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < ranges; ++i) {
        const std::size_t size = base + (i < extra ? 1 : 0);
        const std::size_t lo = pos, hi = pos + size - 1;
        for (std::size_t j = lo; j <= hi; ++j) chunk_of[j] = i;
        enc.meta_block += '\t';
        enc.meta_block += range_label(i);
        enc.meta_block += "\t[";
        enc.meta_block += texts[values.rows[lo]];
        enc.meta_block += "--";
        enc.meta_block += texts[values.rows[hi]];
        enc.meta_block += "]\n";
        pos += size;
    }
    enc.labels.reserve(texts.size());
    for (std::size_t r = 0; r < texts.size(); ++r) enc.labels.push_back(range_label(chunk_of[values.rank[r]]));
    enc.bk_values = enc.labels;
    return enc;
}

}  // namespace

ColumnEncoding encode_numeric(std::string_view column_name, const std::vector<Number>& numbers,
                              const std::vector<std::string>& texts, const PresentRows& present,
                              long long default_div, std::optional<long long> condition,
                              const LowerFn& lower) {
    if (numbers.size() != texts.size()) {
        throw ValueError("column " + std::string(column_name) +
                         ": numbers and texts differ in length");
    }
    const std::optional<std::size_t> ranges = ranges_asked(column_name, default_div, condition);
    if (!ranges) return encode_categorical(column_name, texts, present, lower);
    const DistinctValues values = distinct_values(numbers);
    // Two values, or fewer than the ranges, read as categories.
    const std::size_t n = values.count();
    if (n == 2 || n < *ranges) return encode_categorical(column_name, texts, present, lower);
    if (values.first_nan) {
        throw ValueError("column " + std::string(column_name) + ", row " +
                         std::to_string(*values.first_nan) +
                         ": not a number (NaN) cannot be placed in a range; drop or fill "
                         "missing values first");
    }
    ColumnEncoding enc = encode_ranges(column_name, texts, values, *ranges);
    note_rows(column_name, texts.size(), present, enc);
    return enc;
}

std::vector<std::string> raw_facts(std::string_view column_name, const ColumnEncoding& encoding) {
    const std::string predicate = remove_brackets(column_name);
    std::vector<std::string> out;
    out.reserve(encoding.labels.size());
    for (std::size_t i = 0; i < encoding.labels.size(); ++i) {
        out.push_back(predicate + "(e_" + std::to_string(encoding.rows[i]) + "," +
                      encoding.labels[i] + ").");
    }
    return out;
}

std::string background_lines(std::string_view column_name, const ColumnEncoding& encoding,
                             const LowerFn& lower) {
    const std::string predicate = predicate_term(column_name, lower);
    std::string out;
    for (std::size_t i = 0; i < encoding.bk_values.size(); ++i) {
        out += predicate;
        out += "(e_";
        out += std::to_string(encoding.rows[i]);
        out += ',';
        out += encoding.bk_values[i];
        out += ").\n";
    }
    return out;
}

ExampleTexts example_texts(std::string_view example_label, std::string_view target_name,
                           const std::vector<std::string>& class_texts,
                           const std::vector<std::string>& file_names,
                           const std::vector<std::size_t>& row_ranks) {
    if (class_texts.size() != file_names.size()) {
        throw ValueError("every class needs one example file name");
    }
    ExampleTexts out;
    out.meta_block = single_line(target_name) + "\n";
    for (std::size_t r = 0; r < class_texts.size(); ++r) {
        out.meta_block += '\t';
        out.meta_block += single_line(class_texts[r]);
        out.meta_block += '\t';
        out.meta_block += file_names[r];
        out.meta_block += '\n';
    }
    out.file_texts.resize(class_texts.size());
    for (std::size_t n = 0; n < row_ranks.size(); ++n) {
        const std::size_t r = row_ranks[n];
        if (r >= class_texts.size()) throw IndexError("class rank out of range");
        std::string& text = out.file_texts[r];
        text += example_label;
        text += "(e_";
        text += std::to_string(n);
        text += ").\n";
    }
    return out;
}

}  // namespace vantor::tabular
