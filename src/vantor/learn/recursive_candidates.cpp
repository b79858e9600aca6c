#include "learn/recursive_candidates.hpp"

#include <cctype>
#include <string_view>
#include <unordered_set>

#include "text/clause.hpp"

namespace vantor::learn {

namespace {

std::vector<std::string_view> body_literals(std::string_view body) {
    return text::split_top_level(body, "&,");
}

std::size_t arity_of(std::string_view literal) {
    const std::size_t open = literal.find('(');
    if (open == std::string_view::npos || literal.size() < open + 2) return 0;
    return text::split_top_level(literal.substr(open + 1, literal.size() - open - 2), ",").size();
}

std::string_view name_of(std::string_view literal) { return literal.substr(0, literal.find('(')); }

// The top-level arguments of a literal.
std::vector<std::string_view> arguments_of(std::string_view literal) {
    const std::size_t open = literal.find('(');
    if (open == std::string_view::npos || literal.size() < open + 2) return {};
    return body_literals(literal.substr(open + 1, literal.size() - open - 2));
}

bool is_variable(std::string_view term) {
    return !term.empty() && term[0] >= 'A' && term[0] <= 'Z';
}

// Whether `name` occurs in `text` as a whole word (not as part of a longer
// name: C is not in CD).
bool mentions(std::string_view text, std::string_view name) {
    auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
        const std::size_t end = at + name.size();
        if ((at == 0 || !word(text[at - 1])) && (end == text.size() || !word(text[end]))) return true;
    }
    return false;
}

// Whether every variable of the call at body position `at` occurs in the
// head or in another kept literal. A variable of the call alone
// (path(A,B):-edge(A,C)&path(D,B)) only asks whether some positive ends in
// B, which the positives answer for nearly every example during the search.
bool call_is_linked(std::string_view call, std::string_view head, const std::vector<std::string_view>& body,
                    std::size_t at, std::size_t dropped) {
    for (std::string_view term : arguments_of(call)) {
        if (!is_variable(term) || mentions(head, term)) continue;
        bool elsewhere = false;
        for (std::size_t i = 0; i < body.size() && !elsewhere; ++i)
            elsewhere = i != at && i != dropped && mentions(body[i], term);
        if (!elsewhere) return false;
    }
    return true;
}

struct Rule {
    std::string_view head, target;
    std::size_t arity;
    std::vector<std::string_view> body;
};

std::string join_rule(const Rule& rule, std::size_t replaced, const std::string& call, std::size_t dropped) {
    std::string out = std::string(rule.head) + ":-";
    bool first = true;
    for (std::size_t j = 0; j < rule.body.size(); ++j) {
        if (j == dropped) continue;
        if (!first) out += '&';
        first = false;
        out += j == replaced ? call : std::string(rule.body[j]);
    }
    return out;
}

// One body literal with the head's arity becomes a call of the target over
// its arguments.
void single_variants(const Rule& rule, std::vector<std::string>& out) {
    for (std::size_t k = 0; k < rule.body.size(); ++k) {
        const std::string_view literal = rule.body[k];
        if (name_of(literal) == rule.target || arity_of(literal) != rule.arity) continue;
        std::string call = std::string(rule.target) + std::string(literal.substr(name_of(literal).size()));
        if (call != rule.head && call_is_linked(call, rule.head, rule.body, k, rule.body.size()))
            out.push_back(join_rule(rule, k, call, rule.body.size()));
    }
}

// The variable two binary literals share, when they share exactly one and
// it occurs nowhere else in the rule; empty otherwise. `outer` receives the
// other argument of each.
std::string_view private_link(const Rule& rule, std::size_t j, std::size_t k,
                              std::pair<std::string_view, std::string_view>& outer) {
    const std::vector<std::string_view> a = arguments_of(rule.body[j]), b = arguments_of(rule.body[k]);
    if (a.size() != 2 || b.size() != 2) return {};
    std::string_view link;
    for (std::size_t x = 0; x < 2; ++x)
        for (std::size_t y = 0; y < 2; ++y)
            if (a[x] == b[y] && is_variable(a[x]) && a[1 - x] != b[1 - y] && a[1 - x] != a[x] &&
                b[1 - y] != b[y]) {
                if (!link.empty()) return {};
                link = a[x];
                outer = {a[1 - x], b[1 - y]};
            }
    if (link.empty() || mentions(rule.head, link)) return {};
    for (std::size_t i = 0; i < rule.body.size(); ++i)
        if (i != j && i != k && mentions(rule.body[i], link)) return {};
    return link;
}

// Two binary literals joined only through a variable of their own, such as
// child(C,E)&child(D,E), become one call of a binary target over their other
// arguments, same_generation(C,D): the pair is the body of a shorter rule of
// the target, so the call stands for any chain of such steps.
void pair_variants(const Rule& rule, std::vector<std::string>& out) {
    if (rule.arity != 2) return;
    for (std::size_t j = 0; j < rule.body.size(); ++j) {
        if (name_of(rule.body[j]) == rule.target) continue;
        for (std::size_t k = j + 1; k < rule.body.size(); ++k) {
            if (name_of(rule.body[k]) == rule.target) continue;
            std::pair<std::string_view, std::string_view> outer;
            if (private_link(rule, j, k, outer).empty()) continue;
            // A call over head variables alone (same_generation(B,A)) is
            // answered by the positives themselves during the search, so it
            // would cover every positive without being a step.
            if (mentions(rule.head, outer.first) && mentions(rule.head, outer.second)) continue;
            std::string call = std::string(rule.target) + "(" + std::string(outer.first) + "," +
                               std::string(outer.second) + ")";
            if (call_is_linked(call, rule.head, rule.body, j, k)) out.push_back(join_rule(rule, j, call, k));
        }
    }
}

}  // namespace

std::vector<std::string> recursive_variants(const std::vector<std::string>& rules) {
    std::unordered_set<std::string> seen(rules.begin(), rules.end());
    std::vector<std::string> out;
    for (const std::string& text : rules) {
        const std::size_t neck = text.find(":-");
        if (neck == std::string::npos) continue;
        Rule rule;
        rule.head = std::string_view(text).substr(0, neck);
        rule.target = name_of(rule.head);
        rule.arity = arity_of(rule.head);
        rule.body = body_literals(std::string_view(text).substr(neck + 2));
        std::vector<std::string> variants;
        single_variants(rule, variants);
        pair_variants(rule, variants);
        for (std::string& variant : variants)
            if (seen.insert(variant).second) out.push_back(std::move(variant));
    }
    return out;
}

}  // namespace vantor::learn
