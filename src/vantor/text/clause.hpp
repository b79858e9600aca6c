// Literal and rule texts: the one parser (Clause, Meta) and the builders.
//
// Every logical object travels as text. The parser's quirks (empty
// arguments vanish, an argument ends at the first ")", nested lists become
// list-valued arguments) are part of every stored and compared text, so they
// are reproduced exactly rather than "fixed".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantor::text {

// One argument of a literal: a plain text, or (only for nested lists such as
// [[a,b],[c]]) a list of texts.
struct Arg {
    std::string text;                // plain argument text
    std::vector<std::string> items;  // elements when is_list
    bool is_list = false;

    static Arg plain(std::string t) { return Arg{std::move(t), {}, false}; }
    static Arg list(std::vector<std::string> xs) { return Arg{{}, std::move(xs), true}; }
    bool operator==(const Arg&) const = default;
};

// Text that stands for a list-valued argument where a single string is
// needed (known-term lists, cache keys). "$" never survives in parsed
// output, so this text cannot collide with a background term.
std::string list_key(const std::vector<std::string>& items);

class Clause {
public:
    explicit Clause(std::string_view mode);

    std::string predicate;
    std::vector<std::string> body;

    std::vector<Arg> args() const;
    // The arguments as texts; a list-valued argument appears as list_key().
    std::vector<std::string> arg_texts() const;
};

// Only the predicate of a literal (what Clause(mode).predicate gives),
// without building the body.
std::string predicate_of(std::string_view literal);

std::vector<std::string> split_term(std::string_view var);

// The pieces of `text` between the separators that stand outside every
// bracket ("p(a,b)&q(b)" at "&," gives "p(a,b)" and "q(b)"); the views point
// into `text`. Used for rule bodies and argument lists written by the
// library itself (no quoted atoms).
std::vector<std::string_view> split_top_level(std::string_view text, std::string_view separators);
std::vector<Arg> argument_positions(const std::vector<std::string>& args);

// A rule in internal form, cut at its first ":-".
class Meta {
public:
    explicit Meta(std::string_view mode);

    std::string head;
    std::string body;

    std::vector<std::string> get_body_clauses() const;
};

// With no arguments the literal is the bare predicate (p, not p)).
std::string make_literal(std::string_view predicate, const std::vector<std::string>& args);
std::string make_rule(std::string_view head, const std::vector<std::string>& body);
std::string make_prolog_rule(std::string_view head, const std::vector<std::string>& body);

enum class ArgKind { Variable, Numeric, Constant };

ArgKind argument_kind(std::string_view arg);
inline ArgKind argument_kind(const Arg& arg) {
    return arg.is_list ? ArgKind::Variable : argument_kind(arg.text);
}
const char* kind_name(ArgKind kind);

bool is_float(std::string_view text);

// Remove every space character (only U+0020).
std::string remove_blanks(std::string_view s);

}  // namespace vantor::text
