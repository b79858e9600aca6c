#include "learn/candidates_text.hpp"

namespace vantor::learn::detail {

namespace {

const char kHex[] = "0123456789abcdef";

// repr() of a text: single quotes unless the text holds a single quote and
// no double quote; backslash, the quote and control characters escaped.
// Characters beyond ASCII are copied as they are (the host escapes only the
// non-printable ones, which do not occur in literal texts).
std::string host_repr(std::string_view s) {
    const bool has_single = s.find('\'') != std::string_view::npos;
    const bool has_double = s.find('"') != std::string_view::npos;
    const char quote = has_single && !has_double ? '"' : '\'';
    std::string out(1, quote);
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (ch == quote || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (ch == '\t') {
            out += "\\t";
        } else if (ch == '\n') {
            out += "\\n";
        } else if (ch == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    out += quote;
    return out;
}

}  // namespace

std::string host_list_text(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += host_repr(items[i]);
    }
    out += "]";
    return out;
}

std::vector<std::string> arg_texts_for_literal(const std::vector<text::Arg>& args) {
    std::vector<std::string> out;
    out.reserve(args.size());
    for (const text::Arg& a : args) out.push_back(a.is_list ? host_list_text(a.items) : a.text);
    return out;
}

std::string make_literal_of_args(std::string_view predicate, const std::vector<text::Arg>& args) {
    return text::make_literal(predicate, arg_texts_for_literal(args));
}

}  // namespace vantor::learn::detail
