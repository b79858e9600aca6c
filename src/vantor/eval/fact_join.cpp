#include "eval/fact_join.hpp"

#include <cmath>
#include <span>
#include <unordered_map>

namespace vantor::eval::facts {

namespace {

constexpr std::uint32_t kUnbound = 0xFFFFFFFFu;

std::optional<JoinLiteral::Kind> comparison(const std::string& name) {
    if (name == ">=") return JoinLiteral::at_least;
    if (name == "=<") return JoinLiteral::at_most;
    if (name == ">") return JoinLiteral::above;
    if (name == "<") return JoinLiteral::below;
    if (name == "=:=") return JoinLiteral::equal;
    if (name == "=\\=") return JoinLiteral::unequal;
    return std::nullopt;
}

// -1, 0, 1 as the engine compares two numbers; integers beyond 2^53 beside
// a float are left to the engine.
int compare_numbers(const TermTable& terms, std::uint32_t a, std::uint32_t b) {
    const auto ka = terms.kind(a), kb = terms.kind(b);
    if (ka == TermTable::atom || kb == TermTable::atom) throw JoinUnsure{};
    if (ka == TermTable::integer && kb == TermTable::integer) {
        const auto x = terms.integer_value(a), y = terms.integer_value(b);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    constexpr std::int64_t exact = std::int64_t{1} << 53;
    for (auto [k, id] : {std::pair{ka, a}, std::pair{kb, b}}) {
        if (k == TermTable::integer && std::llabs(terms.integer_value(id)) > exact) throw JoinUnsure{};
    }
    const double x = ka == TermTable::integer ? static_cast<double>(terms.integer_value(a)) : terms.real_value(a);
    const double y = kb == TermTable::integer ? static_cast<double>(terms.integer_value(b)) : terms.real_value(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

class Join {
public:
    Join(const TermTable& terms, std::size_t budget, JoinScratch& scratch)
        : terms_(terms), budget_(budget), binding_(scratch.binding), trail_(scratch.trail), values_(scratch.values) {}

    bool prove(const JoinClause& clause, const std::vector<std::uint32_t>& example) {
        if (example.size() != clause.head.size()) return false;
        binding_.assign(clause.variables, kUnbound);
        trail_.clear();
        for (std::size_t k = 0; k < example.size(); ++k) {
            if (!unify(clause.head[k], example[k])) return false;
        }
        return from(clause, 0);
    }

private:
    std::uint32_t value(const Slot& s) const { return s.variable ? binding_[s.value] : s.value; }

    bool unify(const Slot& s, std::uint32_t term) {
        const std::uint32_t have = value(s);
        if (have != kUnbound) return have == term;
        binding_[s.value] = term;
        trail_.push_back(s.value);
        return true;
    }

    void undo(std::size_t mark) {
        while (trail_.size() > mark) {
            binding_[trail_.back()] = kUnbound;
            trail_.pop_back();
        }
    }

    void step() {
        if (++steps_ > budget_) throw JoinUnsure{};
    }

    bool test(const JoinLiteral& l) {
        const std::uint32_t a = value(l.args[0]), b = value(l.args[1]);
        if (a == kUnbound || b == kUnbound) throw JoinUnsure{};
        const int c = compare_numbers(terms_, a, b);
        switch (l.kind) {
            case JoinLiteral::at_least: return c >= 0;
            case JoinLiteral::at_most: return c <= 0;
            case JoinLiteral::above: return c > 0;
            case JoinLiteral::below: return c < 0;
            case JoinLiteral::equal: return c == 0;
            default: return c != 0;
        }
    }

    // The facts holding the literal's bound values, or every fact when
    // nothing is bound (`all`).
    std::span<const std::uint32_t> candidates(const JoinLiteral& l, bool& all) {
        all = l.bound == 0;
        if (all) return {};
        if ((l.bound & (l.bound - 1)) == 0) {  // one position: its own index
            std::size_t k = 0;
            while (!(l.bound >> k & 1)) ++k;
            return l.predicate->index[k].find(value(l.args[k]));
        }
        values_.resize(l.args.size());
        for (std::size_t k = 0; k < l.args.size(); ++k) values_[k] = value(l.args[k]);
        return l.by_bound->find(bound_key(values_.data(), values_.size(), l.bound));
    }

    bool match(const JoinLiteral& l, std::uint32_t fact) {
        const std::uint32_t* args = l.predicate->args.data() + static_cast<std::size_t>(fact) * l.predicate->arity;
        for (std::size_t k = 0; k < l.args.size(); ++k) {
            if (!unify(l.args[k], args[k])) return false;
        }
        return true;
    }

    bool from(const JoinClause& clause, std::size_t at) {
        if (at == clause.body.size()) return true;
        const JoinLiteral& l = clause.body[at];
        step();
        if (l.kind != JoinLiteral::facts) return test(l) && from(clause, at + 1);
        bool all = false;
        const std::span<const std::uint32_t> list = candidates(l, all);
        const std::size_t n = all ? l.predicate->count : list.size();
        const std::size_t mark = trail_.size();
        for (std::size_t i = 0; i < n; ++i) {
            if (match(l, all ? static_cast<std::uint32_t>(i) : list[i])) {
                step();
                if (from(clause, at + 1)) return true;
            }
            undo(mark);
        }
        return false;
    }

    const TermTable& terms_;
    std::size_t budget_;
    std::size_t steps_ = 0;
    std::vector<std::uint32_t>& binding_;
    std::vector<std::uint32_t>& trail_;
    std::vector<std::uint32_t>& values_;
};

}  // namespace

Predicate* FactScope::find(const std::string& key) const {
    if (Predicate* p = background ? background->find(key) : nullptr) return p;
    return common ? common->find(key) : nullptr;
}

std::optional<JoinClause> compile_clause(const ParsedClause& clause, const FactScope& scope, TermTable& terms) {
    JoinClause out;
    std::unordered_map<std::string, std::uint32_t> variables;
    auto slot = [&](const Argument& a) {
        if (a.kind != Argument::variable) return Slot{false, terms.intern(a)};
        auto [it, added] = variables.try_emplace(a.name, static_cast<std::uint32_t>(variables.size()));
        return Slot{true, it->second};
    };
    for (const Argument& a : clause.head.args) out.head.push_back(slot(a));
    std::vector<bool> bound(variables.size(), true);  // the example binds the head
    for (const Atom& atom : clause.body) {
        JoinLiteral l;
        if (atom.name == "true" && atom.args.empty()) continue;
        if (auto kind = comparison(atom.name); kind && atom.args.size() == 2) {
            l.kind = *kind;
        } else {
            l.predicate = scope.find(indicator(atom.name, atom.args.size()));
            if (!l.predicate) return std::nullopt;
        }
        if (atom.args.size() > 64) return std::nullopt;
        for (std::size_t k = 0; k < atom.args.size(); ++k) {
            const Slot s = slot(atom.args[k]);
            if (!s.variable || (s.value < bound.size() && bound[s.value])) l.bound |= std::uint64_t{1} << k;
            l.args.push_back(s);
        }
        if (l.predicate && (l.bound & (l.bound - 1)) != 0) l.by_bound = &l.predicate->index_for(l.bound);
        bound.assign(variables.size(), true);  // the literal binds all its variables
        out.body.push_back(std::move(l));
    }
    out.variables = static_cast<std::uint32_t>(variables.size());
    return out;
}

bool prove_example(const std::vector<JoinClause>& clauses, const std::vector<std::uint32_t>& example,
                   const TermTable& terms, std::size_t budget, JoinScratch& scratch) {
    Join join(terms, budget, scratch);
    for (const JoinClause& clause : clauses) {
        if (join.prove(clause, example)) return true;
    }
    return false;
}

}  // namespace vantor::eval::facts
