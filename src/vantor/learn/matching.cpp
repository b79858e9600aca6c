#include "learn/matching.hpp"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "bottom/variables.hpp"
#include "host.hpp"
#include "text/clause.hpp"
#include "text/substitution.hpp"

namespace vantor::learn {

using text::Arg;
using text::ArgKind;
using text::Clause;

std::string list_text(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += '\'';
        out += items[i];
        out += '\'';
    }
    out += ']';
    return out;
}

namespace {

std::string arg_text(const Arg& a) { return a.is_list ? list_text(a.items) : a.text; }


std::string set_key(const Arg& a) { return a.is_list ? text::list_key(a.items) : a.text; }

}  // namespace

std::optional<std::string> rename_variables(const std::vector<std::vector<std::string>>& hypo) {
    if (hypo.empty()) throw IndexError("rename_variables needs at least one list of literals");
    std::vector<std::string> hypo_new;
    for (const std::vector<std::string>& subset : hypo) {
        std::vector<Arg> values;  // values[k] is what variable_name(k) stands for
        for (const std::string& literal : subset) {
            const Clause clause(literal);
            std::vector<std::string> args;
            for (const Arg& a : clause.args()) {
                if (argument_kind(a) != ArgKind::Variable) {
                    args.push_back(arg_text(a));
                    continue;
                }
                auto it = std::find(values.begin(), values.end(), a);
                std::size_t k = static_cast<std::size_t>(it - values.begin());
                if (it == values.end()) values.push_back(a);
                args.push_back(bottom::variable_name(static_cast<long long>(k)));
            }
            std::string rewritten = text::make_literal(clause.predicate, args);
            if (std::find(hypo_new.begin(), hypo_new.end(), rewritten) == hypo_new.end()) {
                hypo_new.push_back(std::move(rewritten));
            }
        }
    }
    if (hypo_new.size() != hypo.front().size()) return std::nullopt;
    if (hypo_new.empty()) throw IndexError("rename_variables: the first list of literals is empty");
    return text::make_rule(hypo_new.front(),
                           std::vector<std::string>(hypo_new.begin() + 1, hypo_new.end()));
}

std::vector<std::vector<std::string>> match_literals(const std::vector<std::vector<std::string>>& list_1) {
    std::vector<std::vector<std::string>> final_list;
    std::vector<std::pair<Arg, Arg>> watch_all;  // WATCH, one pair per one-entry map
    for (std::size_t c = 0; c < list_1.size(); ++c) {
        std::vector<std::string> kept;
        std::vector<std::pair<Arg, Arg>> watch;
        for (const std::string& i : list_1[c]) {
            if (kept.empty()) {
                kept.push_back(i);
                continue;
            }
            bool matched = false;
            for (const std::string& j : kept) {
                std::optional<text::Substitution> s = text::literal_substitution(j, i);
                if (s && !s->empty()) {
                    watch.insert(watch.end(), s->begin(), s->end());
                    matched = true;
                    break;
                }
            }
            if (!matched) kept.push_back(i);
        }
        if (c == 0) {
            final_list.push_back(std::move(kept));
        } else {
            std::vector<std::string> renamed;
            for (const std::string& j : kept) {
                const Clause clause(j);
                std::vector<std::string> args;
                for (const Arg& a : clause.args()) {
                    const Arg* replacement = nullptr;
                    if (argument_kind(a) == ArgKind::Variable) {
                        const bool is_key = std::any_of(watch_all.begin(), watch_all.end(),
                                                        [&](const auto& m) { return m.first == a; });
                        if (!is_key) {
                            for (const auto& m : watch_all) {
                                if (m.second == a) {
                                    replacement = &m.first;
                                    break;
                                }
                            }
                        }
                    }
                    args.push_back(arg_text(replacement ? *replacement : a));
                }
                renamed.push_back(text::make_literal(clause.predicate, args));
            }
            if (!renamed.empty()) final_list.push_back(std::move(renamed));
        }
        for (auto& m : watch) {
            if (std::find(watch_all.begin(), watch_all.end(), m) == watch_all.end()) {
                watch_all.push_back(std::move(m));
            }
        }
    }
    return final_list;
}

namespace detail {

// What normalise_rule and chain_rule_body share: the body ordered by first
// argument (stable), each entry the first body literal with that argument
// list.
struct SortedBody {
    std::string head;
    std::vector<Arg> head_args;
    std::vector<std::string> literals;        // sorted_body
    std::vector<std::vector<Arg>> args;       // arguments of each sorted_body literal
};

SortedBody sort_body(const std::string& rule) {
    const text::Meta meta(rule);
    SortedBody out;
    out.head = meta.head;
    out.head_args = Clause(meta.head).args();
    const std::vector<std::string> body = meta.get_body_clauses();
    std::vector<std::vector<Arg>> args;
    for (const std::string& b : body) {
        args.push_back(Clause(b).args());
        if (args.back().empty()) {
            throw IndexError("body literal '" + b + "' of rule '" + rule +
                             "' has no arguments: a chain needs a first argument");
        }
    }
    std::vector<std::size_t> order(args.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return set_key(args[a].front()) < set_key(args[b].front());
    });
    for (std::size_t i : order) {
        const std::size_t first = static_cast<std::size_t>(
            std::find(args.begin(), args.end(), args[i]) - args.begin());
        out.literals.push_back(body[first]);
        out.args.push_back(args[first]);
    }
    return out;
}

bool same_arguments(const std::vector<Arg>& a, const std::vector<Arg>& b) {
    if (a == b) return true;
    std::unordered_set<std::string> sa, sb;
    for (const Arg& x : a) sa.insert(set_key(x));
    for (const Arg& x : b) sb.insert(set_key(x));
    return sa == sb;
}

}  // namespace detail

std::vector<std::string> normalise_rule(const std::vector<std::string>& rules) {
    std::vector<std::string> new_rule;
    for (const std::string& rule : rules) {
        const detail::SortedBody sb = detail::sort_body(rule);
        if (sb.literals.empty()) throw IndexError("rule '" + rule + "' has no body literal");
        const std::string& temp_1 = sb.literals.front();
        if (detail::same_arguments(sb.args.front(), sb.head_args)) {
            new_rule.push_back(text::make_rule(sb.head, {temp_1}));
            continue;
        }
        if (sb.head_args.empty()) throw IndexError("head of rule '" + rule + "' has no arguments");
        const Arg& stop_var = sb.head_args.back();
        std::vector<std::string> new_r{temp_1};
        // dict_1: remaining literals, a repeated one once, at its first place.
        std::vector<std::size_t> remaining;
        for (std::size_t i = 1; i < sb.literals.size(); ++i) {
            bool seen = false;
            for (std::size_t r : remaining) seen = seen || sb.literals[r] == sb.literals[i];
            if (!seen) remaining.push_back(i);
        }
        Arg start_var = sb.args.front().back();
        long long count = 1;
        const long long len_dic = static_cast<long long>(remaining.size());
        bool flag = false;
        while (count < len_dic + 3) {
            const std::vector<std::size_t> snapshot = remaining;
            for (std::size_t l : snapshot) {
                if (sb.args[l].front() == start_var) {
                    new_r.push_back(sb.literals[l]);
                    remaining.erase(std::find(remaining.begin(), remaining.end(), l));
                    start_var = sb.args[l].back();
                    if (start_var == stop_var) flag = true;
                    else ++count;
                } else {
                    ++count;
                }
            }
            ++count;
        }
        if (flag) new_rule.push_back(text::make_rule(sb.head, new_r));
    }
    return new_rule;
}

}  // namespace vantor::learn
