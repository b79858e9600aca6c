#include "text/clause.hpp"

#include "text/pystr.hpp"

namespace vantor::text {

std::string remove_blanks(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c != ' ') out.push_back(c);
    }
    return out;
}

std::string list_key(const std::vector<std::string>& items) {
    std::string key = "$[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) key += ";";
        key += items[i];
    }
    key += "]";
    return key;
}

Clause::Clause(std::string_view mode) {
    // Nested lists are marked before blanks go: "[[" opens, "]]" closes.
    std::string text = replace(mode, "[[", "$[", 100);
    text = replace(text, "]]", "], *", 100);
    text = remove_blanks(text);
    const std::size_t open = text.find('(');
    std::string_view rest;
    if (open == std::string::npos) {
        predicate = text;
    } else {
        predicate = text.substr(0, open);
        rest = std::string_view(text).substr(open + 1);
    }
    for (std::string_view piece : split(strip(rest), ")")) body.emplace_back(piece);
}

std::vector<std::string_view> split_top_level(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> out;
    std::size_t depth = 0, start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if (depth == 0 && separators.find(c) != std::string_view::npos) {
            out.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(text.substr(start));
    return out;
}

std::vector<std::string> split_term(std::string_view var) {
    const std::size_t close = var.find(']');
    std::vector<std::string> result;
    result.emplace_back(var.substr(0, close));
    std::string_view remaining =
        close == std::string_view::npos ? std::string_view{} : strip(var.substr(close + 1));
    if (!remaining.empty() && remaining.front() == ',') remaining = strip(remaining.substr(1));
    for (std::string_view part : split(remaining, ",")) {
        if (!part.empty()) result.emplace_back(part);
    }
    return result;
}

std::vector<Arg> argument_positions(const std::vector<std::string>& args) {
    std::vector<std::size_t> opens, closes;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "$") opens.push_back(i);
        if (args[i] == "*") closes.push_back(i);
    }
    const std::size_t pairs = std::min(opens.size(), closes.size());
    std::vector<Arg> result;
    std::size_t next = 0;  // first index not yet placed
    for (std::size_t p = 0; p < pairs; ++p) {
        const std::size_t start = opens[p], end = closes[p];
        for (std::size_t i = next; i < start; ++i) result.push_back(Arg::plain(args[i]));
        std::vector<std::string> inner;
        for (std::size_t i = start + 1; i < end; ++i) inner.push_back(args[i]);
        result.push_back(Arg::list(std::move(inner)));
        next = std::max(next, end + 1);
    }
    for (std::size_t i = next; i < args.size(); ++i) result.push_back(Arg::plain(args[i]));
    return result;
}

std::vector<Arg> Clause::args() const {
    const std::string_view text = body.front();
    std::vector<std::string> raw;
    auto append_nonempty = [&raw](std::string_view piece) {
        for (std::string_view part : split(piece, ",")) {
            if (!part.empty()) raw.emplace_back(part);
        }
    };
    if (contains(text, "[")) {
        for (std::string_view piece : split(text, "[")) {
            if (contains(piece, "]")) {
                for (std::string& part : split_term(piece)) {
                    if (!part.empty()) raw.push_back(std::move(part));
                }
            } else {
                append_nonempty(piece);
            }
        }
    } else {
        append_nonempty(text);
    }
    if (contains(text, "$")) return argument_positions(raw);
    std::vector<Arg> result;
    result.reserve(raw.size());
    for (std::string& r : raw) result.push_back(Arg::plain(std::move(r)));
    return result;
}

std::vector<std::string> Clause::arg_texts() const {
    std::vector<std::string> out;
    for (Arg& a : args()) out.push_back(a.is_list ? list_key(a.items) : std::move(a.text));
    return out;
}

std::string predicate_of(std::string_view literal) {
    // Blanks and nested-list markers before the first "(" are the only things
    // the full parser would change in the predicate.
    const std::string_view before = literal.substr(0, literal.find('('));
    if (!contains(before, " ") && !contains(before, "[[") && !contains(before, "]]")) {
        return std::string(before);
    }
    return Clause(literal).predicate;
}

Meta::Meta(std::string_view mode) {
    const std::size_t sep = mode.find(":-");
    if (sep == std::string_view::npos) {
        head = mode;
    } else {
        head = mode.substr(0, sep);
        body = mode.substr(sep + 2);
    }
}

std::vector<std::string> Meta::get_body_clauses() const {
    std::vector<std::string> out;
    for (std::string_view piece : split(body, "&")) out.emplace_back(piece);
    return out;
}

std::string make_literal(std::string_view predicate, const std::vector<std::string>& args) {
    std::string out(predicate);
    if (args.empty()) return out;
    out += '(';
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i) out += ',';
        out += args[i];
    }
    out += ')';
    return out;
}

namespace {
std::string join_rule(std::string_view head, const std::vector<std::string>& body, char sep) {
    std::string out(head);
    out += ":-";
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (i) out += sep;
        out += body[i];
    }
    return out;
}
}  // namespace

std::string make_rule(std::string_view head, const std::vector<std::string>& body) {
    return join_rule(head, body, '&');
}

std::string make_prolog_rule(std::string_view head, const std::vector<std::string>& body) {
    return join_rule(head, body, ',');
}

bool is_float(std::string_view text) { return parses_as_float(text); }

ArgKind argument_kind(std::string_view arg) {
    if (is_upper(arg)) return ArgKind::Variable;
    if (is_numeric(arg) || is_float(arg)) return ArgKind::Numeric;
    return ArgKind::Constant;
}

const char* kind_name(ArgKind kind) {
    switch (kind) {
        case ArgKind::Variable: return "variable";
        case ArgKind::Numeric: return "numeric";
        case ArgKind::Constant: return "constant";
    }
    return "constant";
}

}  // namespace vantor::text
