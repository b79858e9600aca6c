#include <algorithm>
#include <unordered_set>

#include "bottom/variables.hpp"
#include "learn/candidates.hpp"
#include "learn/candidates_intern.hpp"
#include "learn/sampling_detail.hpp"

namespace vantor::learn {

namespace {

using detail::Id;

}  // namespace

std::vector<PredicatePair> relation_chains(const data::BottomClauseSet& pos,
                                           long long length_positive_examples,
                                           const text::ConstantSet& constant_set,
                                           const KeySize& key_size, bool set_chain,
                                           RandomSource& rng) {
    rng.seed(length_positive_examples);
    const long long pos_ind = key_size.given()
                                  ? detail::draw_count(key_size, pos.size(), "positive examples")
                                  : length_positive_examples / 10;
    std::vector<std::size_t> drawn;
    detail::draw_keys(pos, pos_ind == 0 ? 1 : pos_ind, rng, "positive examples", &drawn);

    detail::LiteralTable table(constant_set);
    const std::string head_text = bottom::variabilise_example(pos.keys[drawn.front()], constant_set);
    const detail::ParsedLiteral head = table.parse_uncached(head_text);
    std::vector<Id> head_args = head.args;
    std::sort(head_args.begin(), head_args.end());
    // Head arguments of kind "variable", removed from body links under set_chain.
    std::vector<Id> head_variables;
    {
        const text::Clause clause(head_text);
        for (const text::Arg& a : clause.args()) {
            if (argument_kind(a) == text::ArgKind::Variable) {
                head_variables.push_back(table.terms.intern(a.is_list ? text::list_key(a.items) : a.text));
            }
        }
        std::sort(head_variables.begin(), head_variables.end());
    }

    // Parse every drawn clause first, so the predicate count is known.
    std::vector<std::vector<const detail::ParsedLiteral*>> clauses;
    clauses.reserve(drawn.size());
    for (std::size_t position : drawn) {
        std::vector<const detail::ParsedLiteral*> parsed;
        parsed.reserve(pos.clauses[position].size());
        for (const std::string& literal : pos.clauses[position]) parsed.push_back(&table.parse(literal));
        clauses.push_back(std::move(parsed));
    }

    detail::PairSet accepted(table.predicates.size());
    std::vector<std::pair<Id, Id>> order;
    auto accept = [&](Id a, Id b) {
        accepted.insert(a, b);
        order.emplace_back(a, b);
    };

    std::vector<std::vector<Id>> linking;
    for (const auto& clause : clauses) {
        for (const detail::ParsedLiteral* lit : clause) {
            if (accepted.contains(head.predicate, lit->predicate)) continue;
            for (Id arg : lit->args) {
                if (std::binary_search(head_args.begin(), head_args.end(), arg)) {
                    accept(head.predicate, lit->predicate);
                    break;
                }
            }
        }

        linking.assign(clause.size(), {});
        for (std::size_t i = 0; i < clause.size(); ++i) {
            if (!set_chain) {
                linking[i] = clause[i]->linking;
                continue;
            }
            for (Id v : clause[i]->linking) {
                if (!std::binary_search(head_variables.begin(), head_variables.end(), v)) {
                    linking[i].push_back(v);
                }
            }
        }
        for (std::size_t a = 0; a < clause.size(); ++a) {
            const Id pa = clause[a]->predicate;
            if (linking[a].empty()) {
                continue;  // shares nothing with any literal
            }
            for (std::size_t b = a + 1; b < clause.size(); ++b) {
                const Id pb = clause[b]->predicate;
                if (accepted.contains(pa, pb)) continue;
                if (detail::intersects(linking[a], linking[b])) accept(pa, pb);
            }
        }
    }

    std::vector<PredicatePair> relation;
    relation.reserve(order.size());
    for (const auto& [a, b] : order) {
        relation.emplace_back(table.predicates.name(a), table.predicates.name(b));
    }
    return relation;
}

}  // namespace vantor::learn
