// String operations that behave exactly like the host's str methods.
//
// Every text in the library is UTF-8. The learner's results depend on how
// lines are split and trimmed and on which arguments count as upper case or
// numeric, so these follow Python's rules (str.strip, str.split,
// str.splitlines, str.isupper, str.isnumeric, float()) code point by code
// point, with character classes generated from Python's unicodedata.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantor::text {

// Decodes the code point starting at s[i] and advances i past it. Invalid
// bytes decode as themselves (one byte each) so that no input can derail a
// scan; text that reached us from the host is valid UTF-8 anyway.
char32_t next_code_point(std::string_view s, std::size_t& i);

bool is_valid_utf8(std::string_view s);

bool is_space(char32_t c);

// str.isupper(): at least one cased character and none lower or title case.
bool is_upper(std::string_view s);

// str.isnumeric(): non-empty and every character numeric.
bool is_numeric(std::string_view s);

// float(s) succeeds: decimal literal with optional sign, exponent and
// single underscores between digits, or inf/infinity/nan, surrounded by any
// white space; Unicode decimal digits count as digits.
bool parses_as_float(std::string_view s);

// str.strip() with no argument.
std::string_view strip(std::string_view s);

// str.split(sep) for a non-empty separator: empty pieces are kept.
std::vector<std::string_view> split(std::string_view s, std::string_view sep);

// str.splitlines(): every line boundary Python knows (\n, \r, \r\n, \v, \f,
// \x1c-\x1e, U+0085, U+2028, U+2029); no trailing empty line.
std::vector<std::string_view> split_lines(std::string_view s);

// str.replace(old, new, count): non-overlapping, left to right.
std::string replace(std::string_view s, std::string_view old_text,
                    std::string_view new_text, std::size_t count);

inline bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

}  // namespace vantor::text
