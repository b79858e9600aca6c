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
    Instantiator(const std::string& hd, const ArityTable& table,
                 const std::vector<PredicatePair>& relation, bool distinct)
        : hd_(hd), distinct_(distinct) {
        for (const auto& entry : table.entries) {
            const Id id = names_.intern(entry.first);
            if (id == arity_.size()) arity_.push_back(entry.second);  // first entry of a name wins
        }
        table_size_ = arity_.size();
        head_ = names_.intern(text::Clause(hd).predicate);
        // Only pairs of table predicates (and the head) can ever be asked for.
        const std::size_t n = names_.size();
        linked_ = detail::PairSet(n);
        for (const auto& [a, b] : relation) {
            const long long ia = names_.find(a), ib = names_.find(b);
            if (ia >= 0 && ib >= 0) linked_.insert(static_cast<Id>(ia), static_cast<Id>(ib));
        }
    }

    void add_template(const std::string& mi) {
        const text::Meta meta(text::remove_blanks(mi));
        body_.clear();
        for (const std::string& literal : meta.get_body_clauses()) {
            const std::vector<text::Arg> args = text::Clause(literal).args();
            body_.push_back({args.size(), detail::arg_texts_for_literal(args)});
        }
        lists_.assign(body_.size(), {});
        for (std::size_t c = 0; c < body_.size(); ++c) {
            for (Id k = 0; k < table_size_; ++k) {
                if (arity_[k] != body_[c].arity) continue;
                if (c == 0 && !is_linked(head_, k)) continue;
                lists_[c].push_back(k);
            }
        }
        combinations_ = distinct_ && std::all_of(lists_.begin(), lists_.end(),
                                                  [this](const std::vector<Id>& l) { return l == lists_.front(); });
        perm_.clear();
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
        if (depth == lists_.size()) {
            visit();
            return;
        }
        const std::vector<Id>& candidates = lists_[depth];
        const std::size_t remaining = lists_.size() - depth;
        for (std::size_t i = combinations_ ? start : 0; i < candidates.size(); ++i) {
            if (combinations_ && i + remaining > candidates.size()) break;
            const Id k = candidates[i];
            if (distinct_ && std::find(perm_.begin(), perm_.end(), k) != perm_.end()) continue;
            if (!perm_.empty() && !is_linked(perm_.back(), k) && !is_linked(k, perm_.back())) continue;
            perm_.push_back(k);
            walk(depth + 1, i + 1);
            perm_.pop_back();
        }
    }

    void visit() {
        signature_ = perm_;
        std::sort(signature_.begin(), signature_.end());
        if (track_.count(signature_)) return;
        std::vector<std::string> literals;
        literals.reserve(perm_.size());
        for (std::size_t c = 0; c < perm_.size(); ++c) {
            literals.push_back(text::make_literal(names_.name(perm_[c]), body_[c].args));
        }
        std::string rule = text::make_rule(hd_, literals);
        track_.insert(signature_);
        if (seen_.insert(rule).second) rules_.push_back(std::move(rule));
    }

    const std::string& hd_;
    bool distinct_;
    detail::Interner names_;
    std::vector<std::size_t> arity_;  // by table predicate id
    Id table_size_ = 0;
    Id head_ = 0;
    detail::PairSet linked_{0};

    std::vector<TemplateLiteral> body_;
    std::vector<std::vector<Id>> lists_;
    bool combinations_ = false;
    std::vector<Id> perm_;
    std::vector<Id> signature_;
    std::unordered_set<std::vector<Id>, detail::IdsHash> track_;
    std::vector<std::string> rules_;
    std::unordered_set<std::string> seen_;
};

}  // namespace

std::vector<std::string> apply_meta_rules(const std::string& hd, const std::vector<std::string>& rule,
                                          const ArityTable& dict_1,
                                          const std::vector<PredicatePair>& relation, bool distinct) {
    Instantiator inst(hd, dict_1, relation, distinct);
    for (const std::string& mi : rule) inst.add_template(mi);
    return inst.result();
}

}  // namespace vantor::learn
