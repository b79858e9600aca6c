#include "eval/fact_syntax.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace vantor::eval::facts {

namespace {

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_upper(char c) { return (c >= 'A' && c <= 'Z') || c == '_'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alnum(char c) { return is_lower(c) || is_upper(c) || is_digit(c); }
bool is_layout(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool is_symbol(char c) {
    for (char s : std::string_view("#$&*+-./:<=>?@^~\\")) {
        if (c == s) return true;
    }
    return false;
}

// Thrown inside the reader when the text leaves the subset.
struct Unsure {};

class Reader {
public:
    explicit Reader(std::string_view text) : s_(text) {}

    std::vector<ParsedClause> clauses() {
        std::vector<ParsedClause> out;
        for (skip(); i_ < s_.size(); skip()) out.push_back(clause());
        return out;
    }

    std::vector<Argument> argument_list() {
        skip();
        std::vector<Argument> args;
        if (i_ < s_.size()) args = arguments();
        skip();
        if (i_ != s_.size()) throw Unsure{};
        return args;
    }

private:
    char peek(std::size_t ahead = 0) const { return i_ + ahead < s_.size() ? s_[i_ + ahead] : '\0'; }

    void skip() {
        while (i_ < s_.size()) {
            if (is_layout(s_[i_])) {
                ++i_;
            } else if (s_[i_] == '%') {
                while (i_ < s_.size() && s_[i_] != '\n') ++i_;
            } else if (s_[i_] == '/' && peek(1) == '*') {
                const std::size_t end = s_.find("*/", i_ + 2);
                if (end == std::string_view::npos) throw Unsure{};
                i_ = end + 2;
            } else {
                return;
            }
        }
    }

    bool at_end_token() const {
        if (peek() != '.') return false;
        const char next = peek(1);
        return next == '\0' || is_layout(next) || next == '%';
    }

    std::string symbol_run() {
        const std::size_t from = i_;
        while (i_ < s_.size() && is_symbol(s_[i_])) ++i_;
        return std::string(s_.substr(from, i_ - from));
    }

    ParsedClause clause() {
        ParsedClause c;
        c.head = atom_term(false);
        skip();
        if (!at_end_token()) {
            if (symbol_run() != ":-") throw Unsure{};
            c.has_body = true;
            for (;;) {
                skip();
                c.body.push_back(atom_term(true));
                skip();
                if (peek() != ',') break;
                ++i_;
            }
            if (!at_end_token()) throw Unsure{};
        }
        ++i_;
        return c;
    }

    // name or name(args); in a body also a comparison written as a functor.
    Atom atom_term(bool in_body) {
        Atom a;
        if (is_lower(peek())) {
            a.name = word();
        } else if (peek() == '\'') {
            a.name = quoted();
        } else if (in_body && is_symbol(peek())) {
            a.name = symbol_run();
            if (a.name != ">=" && a.name != "=<" && a.name != ">" && a.name != "<" && a.name != "=:=" &&
                a.name != "=\\=") {
                throw Unsure{};
            }
            if (peek() != '(') throw Unsure{};
        } else {
            throw Unsure{};
        }
        if (peek() == '(') {
            ++i_;
            a.args = arguments();
            if (peek() != ')') throw Unsure{};
            ++i_;
        }
        return a;
    }

    std::vector<Argument> arguments() {
        std::vector<Argument> args;
        for (;;) {
            skip();
            args.push_back(argument());
            skip();
            if (peek() != ',') return args;
            ++i_;
        }
    }

    Argument argument() {
        Argument a;
        const char c = peek();
        if (is_lower(c)) {
            a.name = word();
        } else if (c == '\'') {
            a.name = quoted();
        } else if (is_upper(c)) {
            a.kind = Argument::variable;
            a.name = word();
            if (a.name == "_") a.name = "_#" + std::to_string(anonymous_++);
            return a;
        } else if (is_digit(c) || (c == '-' && is_digit(peek(1)))) {
            return number();
        } else {
            throw Unsure{};
        }
        if (peek() == '(') throw Unsure{};  // a compound term
        return a;
    }

    std::string word() {
        const std::size_t from = i_;
        while (i_ < s_.size() && is_alnum(s_[i_])) ++i_;
        return std::string(s_.substr(from, i_ - from));
    }

    // 'text' with '' for a quote; any backslash or line break: unsure.
    std::string quoted() {
        std::string out;
        for (++i_;; ++i_) {
            if (i_ >= s_.size() || s_[i_] == '\\' || s_[i_] == '\n') throw Unsure{};
            if (s_[i_] == '\'') {
                if (peek(1) != '\'') break;
                ++i_;
            }
            out += s_[i_];
        }
        ++i_;
        return out;
    }

    // Decimal integers that fit 64 bits and floats d.d[e[+-]d]; radix,
    // character codes, digit groups, exponents without a fraction, infinite
    // or signed-zero floats: unsure.
    Argument number() {
        const std::size_t from = i_;
        if (peek() == '-') ++i_;
        while (is_digit(peek())) ++i_;
        bool real = false;
        if (peek() == '.' && is_digit(peek(1))) {
            real = true;
            ++i_;
            while (is_digit(peek())) ++i_;
            if (peek() == 'e') {
                ++i_;
                if (peek() == '+' || peek() == '-') ++i_;
                if (!is_digit(peek())) throw Unsure{};
                while (is_digit(peek())) ++i_;
            }
        }
        if (is_alnum(peek()) || peek() == '\'') throw Unsure{};
        const std::string text(s_.substr(from, i_ - from));
        Argument a;
        errno = 0;
        char* end = nullptr;
        if (real) {
            a.kind = Argument::real;
            a.real_value = std::strtod(text.c_str(), &end);
            if (errno != 0 || !std::isfinite(a.real_value) || std::signbit(a.real_value) != (text[0] == '-') ||
                (a.real_value == 0.0 && text[0] == '-')) {
                throw Unsure{};
            }
        } else {
            a.kind = Argument::integer;
            a.integer_value = std::strtoll(text.c_str(), &end, 10);
            if (errno != 0) throw Unsure{};
        }
        if (end != text.c_str() + text.size()) throw Unsure{};
        return a;
    }

    std::string_view s_;
    std::size_t i_ = 0;
    std::size_t anonymous_ = 0;
};

}  // namespace

std::optional<std::vector<ParsedClause>> read_clauses(std::string_view text) {
    try {
        return Reader(text).clauses();
    } catch (const Unsure&) {
        return std::nullopt;
    }
}

std::optional<std::vector<Argument>> read_arguments(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && is_layout(text[b])) ++b;
    while (e > b && is_layout(text[e - 1])) --e;
    text = text.substr(b, e - b);
    if (text.empty()) return std::vector<Argument>{};
    if (text.size() < 3 || text.front() != '(' || text.back() != ')') return std::nullopt;  // "()" too
    try {
        return Reader(text.substr(1, text.size() - 2)).argument_list();
    } catch (const Unsure&) {
        return std::nullopt;
    }
}

}  // namespace vantor::eval::facts
