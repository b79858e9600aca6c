#include "learn/recursive.hpp"

#include <algorithm>
#include <optional>

#include "learn/chain_walk.hpp"
#include "learn/stages.hpp"
#include "learn/matching.hpp"
#include "text/clause.hpp"

namespace vantor::learn {

using text::Arg;
using text::Clause;

namespace {
std::string arg_text(const Arg& a) { return a.is_list ? list_text(a.items) : a.text; }
}  // namespace

std::vector<std::string> chain_rule_body(const std::vector<std::string>& rules) {
    std::vector<std::string> out;
    out.reserve(rules.size());
    for (const std::string& rule : rules) {
        const detail::SortedBody sorted = detail::sort_body(rule);
        if (sorted.literals.empty()) {
            out.push_back(rule);  // nothing to chain
            continue;
        }
        if (detail::same_arguments(sorted.args.front(), sorted.head_args) || sorted.head_args.empty()) {
            out.push_back(text::make_rule(sorted.head, {sorted.literals.front()}));
            continue;
        }
        // Passes until the chain has reached the head's last argument during
        // a pass; a pass that appends nothing means it never will (the passes
        // would repeat unchanged forever).
        detail::ChainWalk walk(sorted);
        while (true) {
            const detail::ChainWalk::Pass pass = walk.pass(sorted.head_args.back());
            if (pass.appended == 0 || pass.reached > 0) break;
        }
        out.push_back(text::make_rule(sorted.head, walk.chain()));
    }
    return out;
}

namespace {

// Positions of `rules`, shortest text first (stable).
std::vector<std::size_t> shortest_first(const std::vector<std::string>& rules) {
    std::vector<std::size_t> order(rules.size());
    std::vector<std::size_t> length(rules.size());
    for (std::size_t i = 0; i < rules.size(); ++i) {
        order[i] = i;
        length[i] = text_length(rules[i]);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return length[a] < length[b]; });
    return order;
}

// The predicate every body literal has, or nullopt when they differ.
std::optional<std::string> single_predicate(const std::vector<std::string>& body) {
    std::vector<std::string> predicates;
    for (const std::string& b : body) predicates.push_back(Clause(b).predicate);
    if (std::any_of(predicates.begin(), predicates.end(),
                    [&](const std::string& p) { return p != predicates.front(); })) {
        return std::nullopt;
    }
    return predicates.front();
}

// The terms that occur an odd number of times in the body after its first
// literal, in order of first appearance: the ends of the chain the step rule
// hands over to the recursive call.
std::vector<std::string> chain_ends(const std::vector<std::string>& body) {
    std::vector<Arg> ends;
    for (std::size_t j = 1; j < body.size(); ++j) {
        for (const Arg& k : Clause(body[j]).args()) {
            auto it = std::find(ends.begin(), ends.end(), k);
            if (it == ends.end()) ends.push_back(k);
            else ends.erase(it);
        }
    }
    std::vector<std::string> texts;
    for (const Arg& a : ends) texts.push_back(arg_text(a));
    return texts;
}

struct RecursivePair {
    std::optional<std::string> step;  // head :- first body literal, recursive call
    std::optional<std::string> base;  // recursive call's head :- the body predicate
};

RecursivePair recursive_pair(const text::Meta& meta, const std::vector<std::string>& body,
                             const std::string& predicate) {
    const std::string call = text::make_literal(Clause(meta.head).predicate, chain_ends(body));
    RecursivePair pair;
    pair.step = rename_variables({{meta.head, body.front(), call}});
    std::vector<std::string> call_args;
    for (const Arg& a : Clause(call).args()) call_args.push_back(arg_text(a));
    pair.base = rename_variables({{call, text::make_literal(predicate, call_args)}});
    return pair;
}

}  // namespace

std::vector<std::string> make_recursive_rules(const std::vector<std::string>& rules) {
    std::vector<std::string> theory;
    auto add_once = [&](const std::optional<std::string>& r) {
        if (!r) return;  // cannot be written as a rule
        if (std::find(theory.begin(), theory.end(), *r) == theory.end()) theory.push_back(*r);
    };
    for (std::size_t idx : shortest_first(rules)) {
        const std::string& rule = rules[idx];
        const text::Meta meta(rule);
        const std::vector<std::string> body = meta.get_body_clauses();
        if (body.size() <= 1) {
            theory.push_back(rule);
            continue;
        }
        const std::optional<std::string> predicate = single_predicate(body);
        if (!predicate) continue;
        const RecursivePair pair = recursive_pair(meta, body, *predicate);
        add_once(pair.step);
        add_once(pair.base);
    }
    return theory;
}

std::vector<std::string> postprocess_hypotheses(const std::vector<std::string>& rules, long long length) {
    (void)length;
    return rules;
}

}  // namespace vantor::learn
