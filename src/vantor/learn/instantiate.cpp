#include <algorithm>
#include <unordered_set>

#include "learn/candidates.hpp"
#include "learn/candidates_intern.hpp"
#include "learn/candidates_text.hpp"

namespace vantor::learn {

namespace {

using detail::Id;

struct TemplateLiteral {
    std::size_t arity = 0;
    std::vector<std::string> args;  // argument texts, copied into every rule
};

class Instantiator {
public:
    Instantiator(const std::string& head_text, const ArityTable& table,
                 const std::vector<PredicatePair>& relation, bool distinct)
        : head_text_(head_text), distinct_(distinct) {
        for (const auto& entry : table.entries) {
            const Id id = names_.intern(entry.first);
            if (id == arity_.size()) arity_.push_back(entry.second);  // first entry of a name wins
        }
        table_size_ = arity_.size();
        head_ = names_.intern(text::Clause(head_text).predicate);
        // Only pairs of table predicates (and the head) can ever be asked for.
        const std::size_t n = names_.size();
        linked_ = detail::PairSet(n);
        for (const auto& [a, b] : relation) {
            const long long ia = names_.find(a), ib = names_.find(b);
            if (ia >= 0 && ib >= 0) linked_.insert(static_cast<Id>(ia), static_cast<Id>(ib));
        }
    }

    void add_template(const std::string& template_rule) {
        const text::Meta meta(text::remove_blanks(template_rule));
        body_.clear();
        for (const std::string& literal : meta.get_body_clauses()) {
            const std::vector<text::Arg> args = text::Clause(literal).args();
            body_.push_back({args.size(), detail::arg_texts_for_literal(args)});
        }
        choices_.assign(body_.size(), {});
        for (std::size_t c = 0; c < body_.size(); ++c) {
            for (Id k = 0; k < table_size_; ++k) {
                if (arity_[k] != body_[c].arity) continue;
                if (c == 0 && !is_linked(head_, k)) continue;
                choices_[c].push_back(k);
            }
        }
        combinations_ = distinct_ && std::all_of(choices_.begin(), choices_.end(),
                                                  [this](const std::vector<Id>& l) { return l == choices_.front(); });
        chosen_.clear();
        walk(0, 0);
    }

    std::vector<std::string> result() { return std::move(rules_); }

private:
    bool is_linked(Id a, Id b) const { return linked_.contains(a, b); }

    // Choices in order: combinations of positions of the one shared list, or
    // the product with the last literal varying fastest. A prefix that
    // repeats a predicate (when distinct) or breaks the chain between
    // neighbours cannot be completed, so it is cut.
    void walk(std::size_t depth, std::size_t start) {
        if (depth == choices_.size()) {
            visit();
            return;
        }
        const std::vector<Id>& candidates = choices_[depth];
        const std::size_t remaining = choices_.size() - depth;
        for (std::size_t i = combinations_ ? start : 0; i < candidates.size(); ++i) {
            if (combinations_ && i + remaining > candidates.size()) break;
            const Id k = candidates[i];
            if (distinct_ && std::find(chosen_.begin(), chosen_.end(), k) != chosen_.end()) continue;
            if (!chosen_.empty() && !is_linked(chosen_.back(), k) && !is_linked(k, chosen_.back())) continue;
            chosen_.push_back(k);
            walk(depth + 1, i + 1);
            chosen_.pop_back();
        }
    }

    void visit() {
        signature_ = chosen_;
        std::sort(signature_.begin(), signature_.end());
        if (signatures_done_.count(signature_)) return;
        std::vector<std::string> literals;
        literals.reserve(chosen_.size());
        for (std::size_t c = 0; c < chosen_.size(); ++c) {
            literals.push_back(text::make_literal(names_.name(chosen_[c]), body_[c].args));
        }
        std::string rule = text::make_rule(head_text_, literals);
        signatures_done_.insert(signature_);
        if (seen_.insert(rule).second) rules_.push_back(std::move(rule));
    }

    const std::string& head_text_;
    bool distinct_;
    detail::Interner names_;
    std::vector<std::size_t> arity_;  // by table predicate id
    Id table_size_ = 0;
    Id head_ = 0;
    detail::PairSet linked_{0};

    std::vector<TemplateLiteral> body_;
    std::vector<std::vector<Id>> choices_;  // per body position: table predicates of its arity
    bool combinations_ = false;
    std::vector<Id> chosen_;  // predicates chosen for the positions walked so far
    std::vector<Id> signature_;
    std::unordered_set<std::vector<Id>, detail::IdsHash> signatures_done_;
    std::vector<std::string> rules_;
    std::unordered_set<std::string> seen_;
};

}  // namespace

std::vector<std::string> apply_meta_rules(const std::string& head, const std::vector<std::string>& templates,
                                          const ArityTable& arity,
                                          const std::vector<PredicatePair>& relation, bool distinct) {
    Instantiator instantiator(head, arity, relation, distinct);
    for (const std::string& template_rule : templates) instantiator.add_template(template_rule);
    return instantiator.result();
}

}  // namespace vantor::learn
