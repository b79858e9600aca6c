#include "abduce/abduce.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "bottom/variables.hpp"
#include "host.hpp"
#include "text/clause.hpp"
#include "text/pystr.hpp"

namespace vantor::abduce {

using text::Arg;

namespace {

// ----------------------------------------------------------------- terms

using Id = std::uint32_t;
using Pair = std::pair<Id, Id>;
using Sub = std::vector<Pair>;  // one key -> value pair per map, in list order

struct ArgHash {
    std::size_t operator()(const Arg& a) const noexcept {
        std::hash<std::string> h;
        if (!a.is_list) return h(a.text);
        std::size_t seed = 0x9e3779b97f4a7c15ULL;
        for (const std::string& s : a.items) seed ^= h(s) + 0x9e3779b9 + (seed << 6) + (seed >> 2);
        return seed;
    }
};

struct SubHash {
    std::size_t operator()(const Sub& s) const noexcept {
        std::size_t seed = s.size();
        for (const auto& [k, v] : s) {
            const std::uint64_t x = (std::uint64_t(k) << 32) | v;
            seed ^= std::hash<std::uint64_t>{}(x) + 0x9e3779b9 + (seed << 6) + (seed >> 2);
        }
        return seed;
    }
};

// Terms are compared over and over while examples are matched; each distinct
// term is stored once and compared by its id.
class Terms {
public:
    Id id(const Arg& a) {
        auto [it, inserted] = index_.try_emplace(a, static_cast<Id>(args_.size()));
        if (inserted) {
            args_.push_back(a);
            variable_.push_back(!a.is_list && text::is_upper(a.text));
        }
        return it->second;
    }
    bool is_variable(Id i) const { return variable_[i]; }
    // The text make_literal writes for the term (str() of the host value).
    std::string str(Id i) const {
        const Arg& a = args_[i];
        return a.is_list ? python_list_text(a.items) : a.text;
    }

private:
    std::unordered_map<Arg, Id, ArgHash> index_;
    std::vector<Arg> args_;
    std::vector<bool> variable_;
};

Sub intern(Terms& terms, const text::Substitution& s) {
    Sub out;
    out.reserve(s.size());
    for (const auto& [k, v] : s) out.emplace_back(terms.id(k), terms.id(v));
    return out;
}

// A literal parsed for matching (after blank removal, as literal_substitution
// parses it) or for instantiation.
struct Literal {
    std::string predicate;
    std::vector<Id> args;
};

Literal parse_blank_free(Terms& terms, std::string_view literal) {
    const text::Clause clause(text::remove_blanks(literal));
    Literal out{clause.predicate, {}};
    for (const Arg& a : clause.args()) out.args.push_back(terms.id(a));
    return out;
}

// ------------------------------------------------------- the three steps

// literal_substitution(a, b) on parsed literals of the same predicate and
// arity; nullopt for "false".
std::optional<Sub> match(const Terms& terms, const Literal& a, const Literal& b) {
    Sub out;
    out.reserve(a.args.size());
    for (std::size_t i = 0; i < a.args.size(); ++i) {
        const Id x = a.args[i], y = b.args[i];
        if (x == y || terms.is_variable(x)) {
            out.emplace_back(x, y);
        } else if (terms.is_variable(y)) {
            out.emplace_back(y, x);
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool has_key(const Sub& s, Id key) {
    return std::any_of(s.begin(), s.end(), [key](const Pair& p) { return p.first == key; });
}

// The values of every shared key, compared as sequences. The verdict does not
// depend on the order in which the keys are visited, so none is imposed.
bool consistent(const Sub& a, const Sub& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        const Id key = a[i].first;
        bool first_in_a = true;
        for (std::size_t j = 0; j < i; ++j) {
            if (a[j].first == key) {
                first_in_a = false;
                break;
            }
        }
        if (!first_in_a || !has_key(b, key)) continue;
        std::size_t ia = 0, ib = 0;
        while (true) {
            while (ia < a.size() && a[ia].first != key) ++ia;
            while (ib < b.size() && b[ib].first != key) ++ib;
            const bool end_a = ia == a.size(), end_b = ib == b.size();
            if (end_a || end_b) {
                if (end_a != end_b) return false;
                break;
            }
            if (a[ia].second != b[ib].second) return false;
            ++ia;
            ++ib;
        }
    }
    return true;
}

// Calls `emit` with every fact of one literal, first argument varying slowest.
template <class Emit>
void instantiate(const Terms& terms, const Literal& literal, const Sub& dic, Emit&& emit) {
    const std::size_t n = literal.args.size();
    std::vector<std::vector<std::string>> choices(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Id t = literal.args[i];
        for (const auto& [k, v] : dic) {
            if (k == t) choices[i].push_back(terms.str(v));
        }
        if (choices[i].empty()) choices[i].push_back(terms.str(t));
    }
    std::vector<std::size_t> at(n, 0);
    std::vector<std::string> combination(n);
    while (true) {
        for (std::size_t i = 0; i < n; ++i) combination[i] = choices[i][at[i]];
        emit(text::make_literal(literal.predicate, combination));
        std::size_t i = n;
        while (i > 0) {
            --i;
            if (++at[i] < choices[i].size()) break;
            at[i] = 0;
            if (i == 0) return;
        }
        if (n == 0) return;
    }
}

std::size_t abducible_count(const std::string& rule, const PredicateSet& abduce) {
    std::size_t count = 0;
    for (const std::string& literal : text::Meta(rule).get_body_clauses()) {
        if (abduce.count(text::predicate_of(literal))) ++count;
    }
    return count;
}

// ------------------------------------------------------------- the driver

// What one rule needs for every example, worked out once.
struct RulePlan {
    std::string head;
    std::vector<Literal> body;  // for matching against bottom-clause literals
    struct PairPlan {
        std::size_t p, q;
        std::vector<Id> common;  // terms of both, in order of first appearance in p
    };
    std::vector<PairPlan> pairs;  // pairs without a common term are left out
    Literal abducible;
};

RulePlan plan_rule(Terms& terms, const std::string& rule, const std::string& abducible) {
    const text::Meta meta(rule);
    RulePlan plan;
    plan.head = meta.head;
    const std::vector<std::string> body = meta.get_body_clauses();
    std::vector<std::vector<Id>> body_args;
    for (const std::string& literal : body) {
        plan.body.push_back(parse_blank_free(terms, literal));
        std::vector<Id> ids;
        for (const Arg& a : text::Clause(literal).args()) ids.push_back(terms.id(a));
        body_args.push_back(std::move(ids));
    }
    for (std::size_t p = 0; p < body.size(); ++p) {
        for (std::size_t q = p + 1; q < body.size(); ++q) {
            std::vector<Id> common;
            for (Id t : body_args[p]) {
                if (std::find(common.begin(), common.end(), t) != common.end()) continue;
                if (std::find(body_args[q].begin(), body_args[q].end(), t) != body_args[q].end()) {
                    common.push_back(t);
                }
            }
            if (!common.empty()) plan.pairs.push_back({p, q, std::move(common)});
        }
    }
    plan.abducible = parse_blank_free(terms, abducible);
    return plan;
}

Sub project(const Sub& u, const std::vector<Id>& common) {
    Sub out;
    for (Id t : common) {
        for (const auto& [k, v] : u) {
            if (k == t) out.emplace_back(t, v);
        }
    }
    return out;
}

// A bottom clause grouped by (predicate, arity): only literals in the same
// group as a body literal can match it. Groups keep bottom-clause order.
class BottomIndex {
public:
    void reset(const std::vector<const Literal*>& literals) {
        groups_.clear();
        for (const Literal* l : literals) groups_[{l->predicate, l->args.size()}].push_back(l);
    }
    const std::vector<const Literal*>* group(const Literal& l) const {
        auto it = groups_.find({l.predicate, l.args.size()});
        return it == groups_.end() ? nullptr : &it->second;
    }

private:
    struct KeyHash {
        std::size_t operator()(const std::pair<std::string, std::size_t>& k) const noexcept {
            return std::hash<std::string>{}(k.first) * 31 + k.second;
        }
    };
    std::unordered_map<std::pair<std::string, std::size_t>, std::vector<const Literal*>, KeyHash>
        groups_;
};

std::string decimal(std::int64_t v) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    return std::string(buf, end);
}

std::string python_repr(std::string_view s) {
    const bool has_single = s.find('\'') != std::string_view::npos;
    const bool has_double = s.find('"') != std::string_view::npos;
    const char quote = (has_single && !has_double) ? '"' : '\'';
    std::string out(1, quote);
    for (unsigned char c : s) {
        if (c == static_cast<unsigned char>(quote) || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += quote;
    return out;
}

}  // namespace

std::string python_list_text(const std::vector<std::string>& items) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        out += python_repr(items[i]);
    }
    return out + "]";
}

Separated separate_abducibles(const std::vector<std::string>& rules, const PredicateSet& abduce) {
    Separated out;
    out.rules.reserve(rules.size());
    for (const std::string& rule : rules) {
        const text::Meta meta(rule);
        std::vector<std::string> new_body;
        for (std::string& literal : meta.get_body_clauses()) {
            if (abduce.count(text::predicate_of(literal))) {
                out.abducibles.push_back(std::move(literal));
            } else {
                new_body.push_back(std::move(literal));
            }
        }
        out.rules.push_back(text::make_rule(meta.head, new_body));
    }
    return out;
}

bool consistent_substitutions(const text::Substitution& a, const text::Substitution& b) {
    Terms terms;
    const Sub sa = intern(terms, a);
    const Sub sb = intern(terms, b);
    return consistent(sa, sb);
}

std::vector<std::string> instantiate_abducibles(const std::vector<std::string>& a,
                                                const text::Substitution& dic) {
    Terms terms;
    const Sub d = intern(terms, dic);
    std::vector<std::string> out;
    for (const std::string& literal : a) {
        instantiate(terms, parse_blank_free(terms, literal), d,
                    [&out](std::string fact) { out.push_back(std::move(fact)); });
    }
    return out;
}

namespace {

// The k-th rule goes with the k-th abducible literal; a rule with none or
// with several would silently shift every later pairing.
void require_one_abducible_each(const std::vector<std::string>& rules, const PredicateSet& abducible) {
    for (const std::string& rule : rules) {
        const std::size_t n = abducible_count(rule, abducible);
        if (n != 1) {
            throw ValueError("rule '" + rule + "' carries " + std::to_string(n) +
                             " abducible literals; each rule must carry exactly one abducible "
                             "literal");
        }
    }
}

// Positions in `dictionary` of the examples, in their order.
std::vector<std::size_t> example_positions(const data::BottomClauseSet& dictionary,
                                           const std::vector<std::string>& example_ids) {
    std::unordered_map<std::string_view, std::size_t> position;
    position.reserve(dictionary.size());
    for (std::size_t i = 0; i < dictionary.size(); ++i) position.emplace(dictionary.keys[i], i);
    std::vector<std::size_t> examples;
    examples.reserve(example_ids.size());
    for (const std::string& e : example_ids) {
        auto it = position.find(e);
        if (it == position.end()) {
            throw KeyError("example '" + e + "' is not a key of the bottom-clause dictionary");
        }
        examples.push_back(it->second);
    }
    return examples;
}

// One abduction run: the rules planned once, bottom-clause literals parsed
// once, and the facts proposed so far with their counts.
class Abduction {
public:
    Abduction(const std::vector<std::string>& rules, const PredicateSet& abducible) {
        const Separated separated = separate_abducibles(rules, abducible);
        plans_.reserve(rules.size());
        for (std::size_t k = 0; k < separated.rules.size(); ++k) {
            plans_.push_back(plan_rule(terms_, separated.rules[k], separated.abducibles[k]));
        }
    }

    bool has_rules() const { return !plans_.empty(); }

    // Proposes the facts every rule abduces for one example.
    void abduce_for(const std::string& example, const std::vector<std::string>& bottom_clause,
                 const text::ConstantSet& constant_set) {
        load_bottom_clause(bottom_clause);
        const std::string variabilised = bottom::variabilise_example(example, constant_set);
        for (const RulePlan& plan : plans_) {
            const auto head_to_example = text::literal_substitution(plan.head, example);
            if (!head_to_example || head_to_example->empty()) continue;
            const auto head_to_variabilised = text::literal_substitution(plan.head, variabilised);
            // The head matches the example but not its variabilised form: no
            // bottom-clause term can be tied to the head, so nothing is proposed.
            if (!head_to_variabilised) continue;
            if (!match_body(plan, intern(terms_, *head_to_variabilised))) continue;
            if (!agree_on_shared_terms(plan)) continue;
            Sub dic = intern(terms_, *head_to_example);
            for (const Sub& element : agreed_) dic.insert(dic.end(), element.begin(), element.end());
            instantiate(terms_, plan.abducible, dic, [this](std::string fact) { propose(std::move(fact)); });
        }
    }

    AbductionResult take_result() { return std::move(result_); }

private:
    void load_bottom_clause(const std::vector<std::string>& clause) {
        bottom_.clear();
        for (const std::string& literal : clause) {
            auto [it, inserted] = parsed_.try_emplace(literal);
            if (inserted) it->second = std::make_unique<Literal>(parse_blank_free(terms_, literal));
            bottom_.push_back(it->second.get());
        }
        index_.reset(bottom_);
    }

    // For each ordinary body literal, its substitutions onto the bottom
    // clause that agree with the head's; false when one has none.
    bool match_body(const RulePlan& plan, const Sub& head) {
        matches_.clear();
        for (const Literal& body_literal : plan.body) {
            std::vector<Sub> kept;
            if (const auto* group = index_.group(body_literal)) {
                for (const Literal* candidate : *group) {
                    std::optional<Sub> u = match(terms_, body_literal, *candidate);
                    if (u && !u->empty() && consistent(head, *u)) kept.push_back(std::move(*u));
                }
            }
            if (kept.empty()) return false;
            matches_.push_back(std::move(kept));
        }
        return true;
    }

    // For each pair of body literals sharing terms, the projections onto
    // those terms that both literals reach; the agreed list keeps, in
    // order, those every pair so far allows. False when nothing is agreed.
    bool agree_on_shared_terms(const RulePlan& plan) {
        agreed_.clear();
        for (const RulePlan::PairPlan& pair : plan.pairs) {
            first_seen_.clear();
            for (const Sub& u : matches_[pair.p]) first_seen_.insert(project(u, pair.common));
            both_.clear();
            for (const Sub& u : matches_[pair.q]) {
                Sub x = project(u, pair.common);
                if (first_seen_.count(x)) both_.push_back(std::move(x));
            }
            if (both_.empty()) continue;
            in_both_.clear();
            in_both_.insert(both_.begin(), both_.end());
            merged_.clear();
            for (Sub& y : agreed_) {
                if (in_both_.count(y)) merged_.push_back(std::move(y));
            }
            for (Sub& x : both_) merged_.push_back(std::move(x));
            agreed_.swap(merged_);
        }
        return !agreed_.empty();
    }

    void propose(std::string fact) {
        auto [it, inserted] = slot_.try_emplace(std::move(fact), result_.counts.size());
        if (inserted) {
            result_.counts.emplace_back(it->first, 1);
        } else {
            ++result_.counts[it->second].second;
        }
    }

    Terms terms_;
    std::vector<RulePlan> plans_;
    std::unordered_map<std::string, std::unique_ptr<Literal>> parsed_;  // by bottom-clause text
    BottomIndex index_;
    std::vector<const Literal*> bottom_;
    std::unordered_map<std::string, std::size_t> slot_;  // fact -> position in result_.counts
    AbductionResult result_;

    std::vector<std::vector<Sub>> matches_;  // per ordinary body literal
    std::vector<Sub> both_, merged_, agreed_;
    std::unordered_set<Sub, SubHash> first_seen_, in_both_;
};

// The facts in text order, each with its coverage count or (under
// PredictivePower) the score that replaces the count.
void write_abduction_file(AbductionResult& result, Metric metric, std::int64_t example_count) {
    std::vector<std::size_t> order(result.counts.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return result.counts[a].first < result.counts[b].first;
    });
    result.file_text = kAbductionHeader;
    for (std::size_t i : order) {
        auto& [fact, count] = result.counts[i];
        if (metric == Metric::Coverage) {
            result.file_text += fact + "\t" + decimal(count) + "\n";
        } else if (metric == Metric::PredictivePower) {
            // Real division, then truncation, as N * (count - 1) / count reads.
            const double ratio = static_cast<double>(example_count * (count - 1)) / static_cast<double>(count);
            const auto value = static_cast<std::int64_t>(std::trunc(ratio));
            result.file_text += fact + "\t" + decimal(value) + "\n";
            count = value;
        }
    }
}

}  // namespace

AbductionResult abduce(const data::BottomClauseSet& dictionary,
                       const std::vector<std::string>& example_ids,
                       const text::ConstantSet& constant_set,
                       const std::vector<std::string>& rules, const PredicateSet& abducible,
                       Metric metric) {
    require_one_abducible_each(rules, abducible);
    const std::vector<std::size_t> examples = example_positions(dictionary, example_ids);
    Abduction run(rules, abducible);
    for (std::size_t i = 0; i < examples.size() && run.has_rules(); ++i) {
        run.abduce_for(example_ids[i], dictionary.clauses[examples[i]], constant_set);
    }
    AbductionResult result = run.take_result();
    write_abduction_file(result, metric, static_cast<std::int64_t>(example_ids.size()));
    return result;
}

}  // namespace vantor::abduce
