#include <algorithm>
#include <memory>
#include <unordered_set>

#include "bottom/variables.hpp"
#include "learn/candidates.hpp"
#include "learn/candidates_intern.hpp"
#include "learn/sampling_detail.hpp"

namespace vantor::learn {

namespace {

using detail::Id;

// The drawn examples' literals and the accepted predicate pairs, in order of
// first acceptance.
class ChainFinder {
public:
    ChainFinder(const text::ConstantSet& constant_set, const std::string& head_text, bool set_chain)
        : table_(constant_set), head_(table_.parse_uncached(head_text)), set_chain_(set_chain) {
        head_args_ = head_.args;
        std::sort(head_args_.begin(), head_args_.end());
        for (const text::Arg& a : text::Clause(head_text).args()) {
            if (argument_kind(a) == text::ArgKind::Variable) {
                head_variables_.push_back(table_.terms.intern(a.is_list ? text::list_key(a.items) : a.text));
            }
        }
        std::sort(head_variables_.begin(), head_variables_.end());
    }

    // Every drawn clause is parsed before any pair is looked at, so that the
    // predicate count (and with it the pair set's layout) is known.
    void parse(const std::vector<std::string>& clause) {
        std::vector<const detail::ParsedLiteral*> parsed;
        parsed.reserve(clause.size());
        for (const std::string& literal : clause) parsed.push_back(&table_.parse(literal));
        clauses_.push_back(std::move(parsed));
    }

    std::vector<PredicatePair> find() {
        accepted_ = std::make_unique<detail::PairSet>(table_.predicates.size());
        for (const auto& clause : clauses_) {
            link_head(clause);
            link_body(clause);
        }
        std::vector<PredicatePair> relation;
        relation.reserve(order_.size());
        for (const auto& [a, b] : order_) {
            relation.emplace_back(table_.predicates.name(a), table_.predicates.name(b));
        }
        return relation;
    }

private:
    using Clause = std::vector<const detail::ParsedLiteral*>;

    void accept(Id a, Id b) {
        accepted_->insert(a, b);
        order_.emplace_back(a, b);
    }

    // Head-to-body pairs: the body literal holds one of the head's arguments.
    void link_head(const Clause& clause) {
        for (const detail::ParsedLiteral* literal : clause) {
            if (accepted_->contains(head_.predicate, literal->predicate)) continue;
            for (Id arg : literal->args) {
                if (std::binary_search(head_args_.begin(), head_args_.end(), arg)) {
                    accept(head_.predicate, literal->predicate);
                    break;
                }
            }
        }
    }

    // The variables a literal links by; under set_chain the head's variables
    // do not count.
    void linking_variables(const Clause& clause) {
        linking_.assign(clause.size(), {});
        for (std::size_t i = 0; i < clause.size(); ++i) {
            if (!set_chain_) {
                linking_[i] = clause[i]->linking;
                continue;
            }
            for (Id v : clause[i]->linking) {
                if (!std::binary_search(head_variables_.begin(), head_variables_.end(), v)) {
                    linking_[i].push_back(v);
                }
            }
        }
    }

    // Body-to-body pairs, earlier literal first: the two share a linking
    // variable.
    void link_body(const Clause& clause) {
        linking_variables(clause);
        for (std::size_t a = 0; a < clause.size(); ++a) {
            if (linking_[a].empty()) continue;  // shares nothing with any literal
            const Id pa = clause[a]->predicate;
            for (std::size_t b = a + 1; b < clause.size(); ++b) {
                const Id pb = clause[b]->predicate;
                if (accepted_->contains(pa, pb)) continue;
                if (detail::intersects(linking_[a], linking_[b])) accept(pa, pb);
            }
        }
    }

    detail::LiteralTable table_;
    const detail::ParsedLiteral head_;
    const bool set_chain_;
    std::vector<Id> head_args_;       // sorted
    std::vector<Id> head_variables_;  // head arguments of kind "variable", sorted
    std::vector<Clause> clauses_;
    std::unique_ptr<detail::PairSet> accepted_;
    std::vector<std::pair<Id, Id>> order_;
    std::vector<std::vector<Id>> linking_;  // per literal of the clause being linked
};

}  // namespace

std::vector<PredicatePair> relation_chains(const data::BottomClauseSet& pos,
                                           long long length_positive_examples,
                                           const text::ConstantSet& constant_set,
                                           const KeySize& key_size, bool set_chain,
                                           RandomSource& rng) {
    rng.seed(length_positive_examples);
    const long long count = key_size.given()
                                  ? detail::draw_count(key_size, pos.size(), "positive examples")
                                  : length_positive_examples / 10;
    std::vector<std::size_t> drawn;
    detail::draw_keys(pos, count == 0 ? 1 : count, rng, "positive examples", &drawn);

    const std::string head_text = bottom::variabilise_example(pos.keys[drawn.front()], constant_set);
    ChainFinder finder(constant_set, head_text, set_chain);
    for (std::size_t position : drawn) finder.parse(pos.clauses[position]);
    return finder.find();
}

}  // namespace vantor::learn
