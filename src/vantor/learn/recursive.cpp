#include "learn/recursive.hpp"

#include <algorithm>

#include "learn/driver.hpp"
#include "learn/matching.hpp"
#include "text/clause.hpp"

namespace vantor::learn {

using text::Arg;
using text::Clause;

namespace detail {
struct SortedBody {
    std::string head;
    std::vector<Arg> head_args;
    std::vector<std::string> literals;
    std::vector<std::vector<Arg>> args;
};
SortedBody sort_body(const std::string& rule);
bool same_arguments(const std::vector<Arg>& a, const std::vector<Arg>& b);
}  // namespace detail

namespace {
std::string arg_text(const Arg& a) { return a.is_list ? list_text(a.items) : a.text; }
}  // namespace

std::vector<std::string> chain_rule_body(const std::vector<std::string>& rules) {
    std::vector<std::string> out;
    out.reserve(rules.size());
    for (const std::string& rule : rules) {
        const detail::SortedBody sb = detail::sort_body(rule);
        if (sb.literals.empty()) {
            // Nothing to chain.
            out.push_back(rule);
            continue;
        }
        const std::string& temp_1 = sb.literals.front();
        if (detail::same_arguments(sb.args.front(), sb.head_args)) {
            out.push_back(text::make_rule(sb.head, {temp_1}));
            continue;
        }
        std::vector<std::string> new_r{temp_1};
        if (sb.head_args.empty()) {
            out.push_back(text::make_rule(sb.head, new_r));
            continue;
        }
        const Arg& stop_var = sb.head_args.back();
        std::vector<std::size_t> remaining;
        for (std::size_t i = 1; i < sb.literals.size(); ++i) {
            bool seen = false;
            for (std::size_t r : remaining) seen = seen || sb.literals[r] == sb.literals[i];
            if (!seen) remaining.push_back(i);
        }
        Arg start_var = sb.args.front().back();
        // Passes until the chain has reached the head's last argument during
        // a pass; a pass that appends nothing means it never will (the passes
        // would repeat unchanged forever).
        bool reached = false;
        while (!reached) {
            bool appended = false;
            const std::vector<std::size_t> snapshot = remaining;
            for (std::size_t l : snapshot) {
                if (sb.args[l].front() == start_var) {
                    new_r.push_back(sb.literals[l]);
                    remaining.erase(std::find(remaining.begin(), remaining.end(), l));
                    start_var = sb.args[l].back();
                    appended = true;
                    if (start_var == stop_var) reached = true;
                }
            }
            if (!appended) break;
        }
        out.push_back(text::make_rule(sb.head, new_r));
    }
    return out;
}

std::vector<std::string> make_recursive_rules(const std::vector<std::string>& rules) {
    std::vector<std::size_t> order(rules.size());
    std::vector<std::size_t> length(rules.size());
    for (std::size_t i = 0; i < rules.size(); ++i) {
        order[i] = i;
        length[i] = text_length(rules[i]);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return length[a] < length[b]; });
    std::vector<std::string> list_1;
    auto add_once = [&](const std::optional<std::string>& r) {
        if (!r) return;  // cannot be written as a rule
        if (std::find(list_1.begin(), list_1.end(), *r) == list_1.end()) list_1.push_back(*r);
    };
    for (std::size_t idx : order) {
        const std::string& rule = rules[idx];
        const text::Meta meta(rule);
        const std::vector<std::string> body = meta.get_body_clauses();
        if (body.size() <= 1) {
            list_1.push_back(rule);
            continue;
        }
        std::vector<std::string> predicates;
        for (const std::string& b : body) predicates.push_back(Clause(b).predicate);
        if (std::any_of(predicates.begin(), predicates.end(),
                        [&](const std::string& p) { return p != predicates.front(); })) {
            continue;
        }
        std::vector<Arg> var;
        for (std::size_t j = 1; j < body.size(); ++j) {
            for (const Arg& k : Clause(body[j]).args()) {
                auto it = std::find(var.begin(), var.end(), k);
                if (it == var.end()) var.push_back(k);
                else var.erase(it);
            }
        }
        std::vector<std::string> var_texts;
        for (const Arg& a : var) var_texts.push_back(arg_text(a));
        const std::string new_predicate = text::make_literal(Clause(meta.head).predicate, var_texts);
        const std::optional<std::string> step = rename_variables({{meta.head, body.front(), new_predicate}});
        std::vector<std::string> pi_args;
        for (const Arg& a : Clause(new_predicate).args()) pi_args.push_back(arg_text(a));
        const std::string new_pi = text::make_literal(predicates.front(), pi_args);
        const std::optional<std::string> base = rename_variables({{new_predicate, new_pi}});
        add_once(step);
        add_once(base);
    }
    return list_1;
}

std::vector<std::string> postprocess_hypotheses(const std::vector<std::string>& rules, long long length) {
    (void)length;
    return rules;
}

}  // namespace vantor::learn
