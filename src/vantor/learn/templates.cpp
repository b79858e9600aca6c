#include <algorithm>
#include <unordered_set>

#include "bottom/variables.hpp"
#include "learn/candidates.hpp"
#include "learn/candidates_intern.hpp"
#include "learn/candidates_text.hpp"
#include "learn/sampling_detail.hpp"

namespace vantor::learn {

namespace {

using detail::Id;

// One generate_hypotheses call: literals parsed once across all drawn
// examples, and the predicate multisets already abstracted.
class TemplateBuilder {
public:
    TemplateBuilder(const text::ConstantSet& constant, Track& track)
        : constant_(constant), table_(constant), track_(track) {
        for (const auto& names : track.signatures) {
            std::vector<Id> ids;
            for (const std::string& name : names) ids.push_back(table_.predicates.intern(name));
            std::sort(ids.begin(), ids.end());
            done_.insert(std::move(ids));
        }
    }

    std::vector<std::string> run(const std::vector<std::string>& bc, std::string_view h,
                                 long long max_literals, bool exact_literals,
                                 const std::string* new_head_override) {
        if (exact_literals && max_literals < 0) {
            throw ValueError("max_literals must not be negative, got " + std::to_string(max_literals));
        }
        const text::Clause head(h);
        const std::vector<text::Arg> arg_head = head.args();
        const std::string new_head =
            new_head_override ? *new_head_override : detail::make_literal_of_args("A", arg_head);
        const std::size_t head_arity = arg_head.size();

        std::vector<const detail::ParsedLiteral*> lits;
        lits.reserve(bc.size());
        for (const std::string& literal : bc) lits.push_back(&table_.parse(literal));

        std::vector<Id> head_vars;
        for (const text::Arg& a : arg_head) {
            std::string key = a.is_list ? text::list_key(a.items) : a.text;
            if (constant_.count(key) == 0 && argument_kind(a) == text::ArgKind::Variable) {
                head_vars.push_back(table_.terms.intern(key));
            }
        }
        // Marks are back to zero after every walk, so they only grow here.
        marks_.resize(table_.terms.size(), 0);
        for (Id v : head_vars) ++marks_[v];

        templates_.clear();
        in_templates_.clear();
        // With exact_literals and max_literals 0 the one empty body is tried
        // (it is linked, trivially); otherwise sizes run from 1.
        const long long first = exact_literals ? max_literals : 1;
        for (long long size = first; size <= max_literals; ++size) {
            if (static_cast<unsigned long long>(size) > lits.size()) break;
            chosen_.clear();
            walk(lits, static_cast<std::size_t>(size), 0, head_arity, new_head);
        }
        for (Id v : head_vars) --marks_[v];
        return templates_;
    }

private:
    bool linked(const detail::ParsedLiteral& lit) const {
        for (Id v : lit.linking) {
            if (marks_[v]) return true;
        }
        return false;
    }

    // Combinations of `size` positions from `start` on, in lexicographic
    // order. A prefix that is not linked cannot be completed into a linked
    // body (the test reads the body left to right), so it is cut.
    void walk(const std::vector<const detail::ParsedLiteral*>& lits, std::size_t size,
              std::size_t start, std::size_t head_arity, const std::string& new_head) {
        if (chosen_.size() == size) {
            visit(lits, head_arity, new_head);
            return;
        }
        const std::size_t remaining = size - chosen_.size();
        for (std::size_t p = start; p + remaining <= lits.size(); ++p) {
            const detail::ParsedLiteral& lit = *lits[p];
            if (!linked(lit)) continue;
            for (Id v : lit.linking) ++marks_[v];
            chosen_.push_back(p);
            walk(lits, size, p + 1, head_arity, new_head);
            chosen_.pop_back();
            for (Id v : lit.linking) --marks_[v];
        }
    }

    void visit(const std::vector<const detail::ParsedLiteral*>& lits, std::size_t head_arity,
               const std::string& new_head) {
        signature_.clear();
        for (std::size_t p : chosen_) signature_.push_back(lits[p]->predicate);
        std::sort(signature_.begin(), signature_.end());
        if (done_.count(signature_)) return;

        std::vector<std::string> body;
        body.reserve(chosen_.size());
        std::size_t total = head_arity;
        for (std::size_t k = 0; k < chosen_.size(); ++k) {
            std::vector<std::string> vars;
            for (std::size_t i = 0; i < lits[chosen_[k]]->args.size(); ++i) {
                vars.push_back(bottom::variable_name(static_cast<long long>(total++)));
            }
            body.push_back(text::make_literal(bottom::variable_name(static_cast<long long>(k + 1)), vars));
        }
        std::string rule = text::make_rule(new_head, body);

        done_.insert(signature_);
        std::vector<std::string> names;
        for (Id id : signature_) names.push_back(table_.predicates.name(id));
        std::sort(names.begin(), names.end());
        track_.signatures.push_back(std::move(names));

        if (in_templates_.insert(rule).second) templates_.push_back(std::move(rule));
    }

    const text::ConstantSet& constant_;
    detail::LiteralTable table_;
    Track& track_;
    std::unordered_set<std::vector<Id>, detail::IdsHash> done_;
    std::vector<int> marks_;  // per term id: how many chosen literals (or the head) hold it
    std::vector<std::size_t> chosen_;
    std::vector<Id> signature_;
    std::vector<std::string> templates_;
    std::unordered_set<std::string> in_templates_;
};

}  // namespace

std::vector<std::string> hypotheses_from_bottom_clause(const std::vector<std::string>& bc,
                                                       std::string_view h,
                                                       const text::ConstantSet& constant,
                                                       long long max_literals, bool exact_literals,
                                                       Track& track, const std::string* new_head) {
    TemplateBuilder builder(constant, track);
    return builder.run(bc, h, max_literals, exact_literals, new_head);
}

std::vector<std::string> generate_hypotheses(const data::BottomClauseSet& positives,
                                             const text::ConstantSet& constant,
                                             long long max_literals, bool exact_literals,
                                             const KeySize& key_size, RandomSource& rng) {
    long long tenth = static_cast<long long>(positives.size() / 10);
    if (tenth == 0) tenth = 1;
    const long long count =
        key_size.given() ? detail::draw_count(key_size, positives.size(), "positive examples") : tenth;
    std::vector<std::size_t> drawn;
    detail::draw_keys(positives, count, rng, "positive examples", &drawn);

    const std::string head = bottom::variabilise_example(positives.keys[drawn.front()], constant);
    Track track;
    TemplateBuilder builder(constant, track);
    std::vector<std::string> out;
    std::unordered_set<std::string> seen;
    for (std::size_t position : drawn) {
        const std::vector<std::string>& bc = positives.clauses[position];
        std::vector<std::string> templates =
            bc.size() > 50 ? builder.run(first_literal_per_predicate(bc), head, max_literals,
                                         exact_literals, nullptr)
                           : builder.run(bc, head, max_literals, exact_literals, nullptr);
        for (std::string& rule : templates) {
            if (seen.insert(rule).second) out.push_back(std::move(rule));
        }
    }
    return out;
}

}  // namespace vantor::learn
