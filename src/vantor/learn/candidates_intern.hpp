// Literals parsed once per stage call: predicate and argument texts become
// small integer ids, so the inner loops compare integers instead of
// re-parsing text.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "text/clause.hpp"
#include "text/substitution.hpp"

namespace vantor::learn::detail {

using Id = std::uint32_t;

class Interner {
public:
    Id intern(const std::string& s) {
        auto [it, inserted] = ids_.try_emplace(s, static_cast<Id>(names_.size()));
        if (inserted) names_.push_back(s);
        return it->second;
    }
    // Id of a text already interned, or -1.
    long long find(const std::string& s) const {
        auto it = ids_.find(s);
        return it == ids_.end() ? -1 : static_cast<long long>(it->second);
    }
    const std::string& name(Id id) const { return names_[id]; }
    std::size_t size() const { return names_.size(); }

private:
    std::unordered_map<std::string, Id> ids_;
    std::vector<std::string> names_;
};

struct ParsedLiteral {
    Id predicate = 0;
    std::vector<Id> args;     // every argument, in order (list-valued: its list_key)
    std::vector<Id> linking;  // distinct arguments of kind "variable" outside the constant set, sorted
};

// Parses each distinct literal text once. Bottom clauses of one data set
// repeat the same variabilised literals across examples, so the cache keyed
// by text saves most of the parsing. Each literal parsed through the table
// gets a dense id (its order of first parse), and every term remembers
// whether it was last met as a variable.
class LiteralTable {
public:
    explicit LiteralTable(const text::ConstantSet& constant) : constant_(constant) {}

    Interner predicates;
    Interner terms;

    const ParsedLiteral& parse(const std::string& literal) { return literals_[id(literal)]; }

    // The id of `literal`, parsing it the first time it is met.
    Id id(const std::string& literal) {
        auto it = cache_.find(literal);
        if (it != cache_.end()) return it->second;
        const Id new_id = static_cast<Id>(literals_.size());
        literals_.push_back(parse_uncached(literal));
        texts_.push_back(&cache_.emplace(literal, new_id).first->first);
        return new_id;
    }

    const ParsedLiteral& at(Id literal) const { return literals_[literal]; }
    const std::string& text(Id literal) const { return *texts_[literal]; }
    bool is_variable(Id term) const { return term_is_variable_[term] != 0; }

    ParsedLiteral parse_uncached(std::string_view literal) {
        const text::Clause clause(literal);
        ParsedLiteral p;
        p.predicate = predicates.intern(clause.predicate);
        for (const text::Arg& a : clause.args()) {
            const bool variable = argument_kind(a) == text::ArgKind::Variable;
            std::string key = a.is_list ? text::list_key(a.items) : a.text;
            const bool is_constant = constant_.count(key) != 0;
            const Id term = terms.intern(key);
            if (term >= term_is_variable_.size()) term_is_variable_.resize(term + 1, 0);
            term_is_variable_[term] = variable ? 1 : 0;
            p.args.push_back(term);
            if (variable && !is_constant) p.linking.push_back(term);
        }
        std::sort(p.linking.begin(), p.linking.end());
        p.linking.erase(std::unique(p.linking.begin(), p.linking.end()), p.linking.end());
        return p;
    }

private:
    const text::ConstantSet& constant_;
    std::unordered_map<std::string, Id> cache_;
    std::deque<ParsedLiteral> literals_;  // references from parse() stay valid
    std::vector<const std::string*> texts_;  // by literal id: the keys of cache_ (nodes never move)
    std::vector<char> term_is_variable_;  // by term id
};

// Ordered predicate pairs already accepted. Asked for every pair of literals
// of every drawn bottom clause (or every choice of predicates), so with a moderate number
// of predicates it is a flat matrix; beyond that a hash set.
class PairSet {
public:
    explicit PairSet(std::size_t predicates) : n_(predicates) {
        if (n_ <= kDenseLimit) dense_.assign(n_ * n_, 0);
    }
    bool contains(Id a, Id b) const {
        if (!dense_.empty()) return dense_[a * n_ + b] != 0;
        return sparse_.count(key(a, b)) != 0;
    }
    void insert(Id a, Id b) {
        if (!dense_.empty()) dense_[a * n_ + b] = 1;
        else sparse_.insert(key(a, b));
    }

private:
    static constexpr std::size_t kDenseLimit = 4096;
    static std::uint64_t key(Id a, Id b) { return (std::uint64_t{a} << 32) | b; }
    std::size_t n_;
    std::vector<char> dense_;
    std::unordered_set<std::uint64_t> sparse_;
};

// Hash of an id sequence (predicate signatures).
struct IdsHash {
    std::size_t operator()(const std::vector<Id>& ids) const noexcept {
        std::size_t h = 1469598103934665603ULL;
        for (Id id : ids) h = (h ^ id) * 1099511628211ULL;
        return h;
    }
};

// Two sorted id vectors share an element.
inline bool intersects(const std::vector<Id>& a, const std::vector<Id>& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i] == b[j]) return true;
        if (a[i] < b[j]) ++i; else ++j;
    }
    return false;
}

}  // namespace vantor::learn::detail
