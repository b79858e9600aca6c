#include "learn/matching.hpp"

#include <algorithm>
#include <utility>

#include "bottom/variables.hpp"
#include "learn/chain_walk.hpp"
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

namespace {

using Renaming = std::vector<std::pair<Arg, Arg>>;  // one pair per one-entry substitution

// The literals of one position that are not variants of an earlier kept
// one; the substitution of each variant onto its kept literal is appended
// to `found`.
std::vector<std::string> drop_variants(const std::vector<std::string>& position, Renaming& found) {
    std::vector<std::string> kept;
    for (const std::string& literal : position) {
        bool variant = false;
        for (const std::string& earlier : kept) {
            std::optional<text::Substitution> s = text::literal_substitution(earlier, literal);
            if (s && !s->empty()) {
                found.insert(found.end(), s->begin(), s->end());
                variant = true;
                break;
            }
        }
        if (!variant) kept.push_back(literal);
    }
    return kept;
}

// The argument a variable is renamed to: the kept side of the first pair
// whose variant side it is, unless it is itself a kept side somewhere.
const Arg& renamed(const Arg& a, const Renaming& renaming) {
    if (argument_kind(a) != ArgKind::Variable) return a;
    const bool is_kept_side =
        std::any_of(renaming.begin(), renaming.end(), [&](const auto& m) { return m.first == a; });
    if (is_kept_side) return a;
    for (const auto& m : renaming) {
        if (m.second == a) return m.first;
    }
    return a;
}

std::vector<std::string> rename_onto_kept(const std::vector<std::string>& literals, const Renaming& renaming) {
    std::vector<std::string> out;
    for (const std::string& literal : literals) {
        const Clause clause(literal);
        std::vector<std::string> args;
        for (const Arg& a : clause.args()) args.push_back(arg_text(renamed(a, renaming)));
        out.push_back(text::make_literal(clause.predicate, args));
    }
    return out;
}

}  // namespace

std::vector<std::vector<std::string>> match_literals(const std::vector<std::vector<std::string>>& positions) {
    std::vector<std::vector<std::string>> final_list;
    Renaming renaming;  // of every position so far, each pair once
    for (std::size_t c = 0; c < positions.size(); ++c) {
        Renaming found;
        std::vector<std::string> kept = drop_variants(positions[c], found);
        if (c == 0) {
            final_list.push_back(std::move(kept));
        } else {
            std::vector<std::string> renamed_literals = rename_onto_kept(kept, renaming);
            if (!renamed_literals.empty()) final_list.push_back(std::move(renamed_literals));
        }
        for (auto& m : found) {
            if (std::find(renaming.begin(), renaming.end(), m) == renaming.end()) renaming.push_back(std::move(m));
        }
    }
    return final_list;
}

std::vector<std::string> normalise_rule(const std::vector<std::string>& rules) {
    std::vector<std::string> kept;
    for (const std::string& rule : rules) {
        const detail::SortedBody sorted = detail::sort_body(rule);
        if (sorted.literals.empty()) throw IndexError("rule '" + rule + "' has no body literal");
        if (detail::same_arguments(sorted.args.front(), sorted.head_args)) {
            kept.push_back(text::make_rule(sorted.head, {sorted.literals.front()}));
            continue;
        }
        if (sorted.head_args.empty()) throw IndexError("head of rule '" + rule + "' has no arguments");
        // A fixed budget of passes: each pass costs one, and every literal
        // it looks at one more, except an append that reaches the head's
        // last argument. Walking goes on after the chain got there.
        detail::ChainWalk walk(sorted);
        const std::size_t budget = walk.waiting() + 3;
        std::size_t spent = 1;
        bool reached = false;
        while (spent < budget) {
            const detail::ChainWalk::Pass pass = walk.pass(sorted.head_args.back());
            spent += pass.examined - pass.reached + 1;
            reached = reached || pass.reached > 0;
        }
        if (reached) kept.push_back(text::make_rule(sorted.head, walk.chain()));
    }
    return kept;
}

}  // namespace vantor::learn
