#include "text/pystr.hpp"

#include <algorithm>
#include <cstdint>

namespace vantor::text {
namespace {

struct CharRange {
    std::uint32_t lo;
    std::uint32_t hi;
    std::uint8_t flags;
    std::uint8_t digit;
};

#include "unicode_tables.inc"

constexpr std::uint8_t kUpper = 1;
constexpr std::uint8_t kLowerTitle = 2;
constexpr std::uint8_t kNumeric = 4;
constexpr std::uint8_t kSpace = 8;
constexpr std::uint8_t kDecimal = 16;

const CharRange* find_range(char32_t c) {
    const auto* end = std::end(kCharRanges);
    const auto* it = std::upper_bound(
        std::begin(kCharRanges), end, static_cast<std::uint32_t>(c),
        [](std::uint32_t value, const CharRange& r) { return value < r.lo; });
    if (it == std::begin(kCharRanges)) return nullptr;
    --it;
    return (c <= it->hi) ? it : nullptr;
}

std::uint8_t flags_of(char32_t c) {
    const CharRange* r = find_range(c);
    return r ? r->flags : 0;
}

}  // namespace

char32_t next_code_point(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) -> int {
        if (i + k >= s.size()) return -1;
        const auto b = static_cast<unsigned char>(s[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    if ((b0 & 0xE0) == 0xC0) {
        const int c1 = cont(1);
        if (c1 >= 0 && b0 >= 0xC2) {
            i += 2;
            return (char32_t(b0 & 0x1F) << 6) | char32_t(c1);
        }
    } else if ((b0 & 0xF0) == 0xE0) {
        const int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1;
        if (c2 >= 0) {
            const char32_t cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(c1) << 6) | char32_t(c2);
            if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
                i += 3;
                return cp;
            }
        }
    } else if ((b0 & 0xF8) == 0xF0) {
        const int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1, c3 = c2 >= 0 ? cont(3) : -1;
        if (c3 >= 0) {
            const char32_t cp = (char32_t(b0 & 0x07) << 18) | (char32_t(c1) << 12) |
                                (char32_t(c2) << 6) | char32_t(c3);
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                i += 4;
                return cp;
            }
        }
    }
    ++i;
    return b0;
}

bool is_valid_utf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        const std::size_t before = i;
        const char32_t cp = next_code_point(s, i);
        if (b0 >= 0x80 && i == before + 1 && cp == b0) return false;
    }
    return true;
}

bool is_space(char32_t c) {
    if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F);
    return (flags_of(c) & kSpace) != 0;
}

bool is_upper(std::string_view s) {
    bool cased = false;
    for (std::size_t i = 0; i < s.size();) {
        const char32_t c = next_code_point(s, i);
        if (c < 0x80) {
            if (c >= 'a' && c <= 'z') return false;
            if (c >= 'A' && c <= 'Z') cased = true;
            continue;
        }
        const std::uint8_t f = flags_of(c);
        if (f & kLowerTitle) return false;
        if (f & kUpper) cased = true;
    }
    return cased;
}

bool is_numeric(std::string_view s) {
    if (s.empty()) return false;
    for (std::size_t i = 0; i < s.size();) {
        const char32_t c = next_code_point(s, i);
        if (c < 0x80) {
            if (c < '0' || c > '9') return false;
        } else if (!(flags_of(c) & kNumeric)) {
            return false;
        }
    }
    return true;
}

namespace {

// float() first maps Unicode digits to ASCII digits and Unicode white space to
// blanks; anything else non-ASCII makes the conversion fail.
bool to_ascii_number_text(std::string_view s, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        const char32_t c = next_code_point(s, i);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        const CharRange* r = find_range(c);
        if (r && (r->flags & kDecimal)) {
            out.push_back(static_cast<char>('0' + r->digit));
        } else if (r && (r->flags & kSpace)) {
            out.push_back(' ');
        } else {
            return false;
        }
    }
    return true;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (x != b[i]) return false;
    }
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits with single underscores between them; at least one digit.
bool scan_digits(std::string_view s, std::size_t& i) {
    if (i >= s.size() || !is_digit(s[i])) return false;
    while (i < s.size()) {
        if (is_digit(s[i])) {
            ++i;
        } else if (s[i] == '_' && i + 1 < s.size() && is_digit(s[i + 1])) {
            ++i;
        } else {
            break;
        }
    }
    return true;
}

}  // namespace

bool parses_as_float(std::string_view raw) {
    std::string ascii;
    if (!to_ascii_number_text(raw, ascii)) return false;
    std::string_view s = strip(ascii);
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::string_view rest = s.substr(i);
    if (iequals(rest, "inf") || iequals(rest, "infinity") || iequals(rest, "nan")) return true;
    const bool int_part = scan_digits(s, i);
    bool frac_part = false;
    if (i < s.size() && s[i] == '.') {
        ++i;
        frac_part = scan_digits(s, i);
    }
    if (!int_part && !frac_part) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!scan_digits(s, i)) return false;
    }
    return i == s.size();
}

std::string_view strip(std::string_view s) {
    // Nearly every text starts and ends with a printable ASCII byte, which
    // is never white space: nothing to strip.
    if (!s.empty()) {
        const auto front = static_cast<unsigned char>(s.front());
        const auto back = static_cast<unsigned char>(s.back());
        if (front > 0x20 && front < 0x7F && back > 0x20 && back < 0x7F) return s;
    }
    std::size_t begin = 0;
    while (begin < s.size()) {
        std::size_t next = begin;
        if (!is_space(next_code_point(s, next))) break;
        begin = next;
    }
    std::size_t end = s.size();
    while (end > begin) {
        // Step back to the start of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 &&
               end - start < 4) {
            --start;
        }
        std::size_t probe = start;
        const char32_t c = next_code_point(s, probe);
        if (probe != end) {
            // Not a whole code point (stray continuation byte): not white space.
            break;
        }
        if (!is_space(c)) break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

std::vector<std::string_view> split(std::string_view s, std::string_view sep) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            parts.push_back(s.substr(start));
            return parts;
        }
        parts.push_back(s.substr(start, pos - start));
        start = pos + sep.size();
    }
}

std::vector<std::string_view> split_lines(std::string_view s) {
    std::vector<std::string_view> lines;
    std::size_t line_start = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t at = i;
        const char32_t c = next_code_point(s, i);
        const bool boundary = c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x1C ||
                              c == 0x1D || c == 0x1E || c == 0x85 || c == 0x2028 || c == 0x2029;
        if (!boundary) continue;
        lines.push_back(s.substr(line_start, at - line_start));
        if (c == '\r' && i < s.size() && s[i] == '\n') ++i;
        line_start = i;
    }
    if (line_start < s.size()) lines.push_back(s.substr(line_start));
    return lines;
}

std::string replace(std::string_view s, std::string_view old_text, std::string_view new_text,
                    std::size_t count) {
    std::string out;
    out.reserve(s.size());
    std::size_t start = 0;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t pos = s.find(old_text, start);
        if (pos == std::string_view::npos) break;
        out.append(s.substr(start, pos - start));
        out.append(new_text);
        start = pos + old_text.size();
        ++done;
    }
    out.append(s.substr(start));
    return out;
}

}  // namespace vantor::text
