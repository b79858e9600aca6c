#include <unordered_set>

#include "bottom/variables.hpp"
#include "host.hpp"
#include "tabular/tabular.hpp"
#include "text/clause.hpp"
#include "text/pystr.hpp"

namespace vantor::tabular {

namespace {

// The range number of a label: "g" followed by decimal digits and nothing
// else. Anything else (green, big, g-1, g1a) is a constant of the rule.
std::optional<long long> range_number(std::string_view arg) {
    if (arg.size() < 2 || arg[0] != 'g') return std::nullopt;
    long long v = 0;
    for (char c : arg.substr(1)) {
        if (c < '0' || c > '9') return std::nullopt;
        if (v > (1LL << 58)) return v;  // far beyond any range count
        v = v * 10 + (c - '0');
    }
    return v;
}

std::string arg_text(const text::Arg& a) {
    if (!a.is_list) return a.text;
    std::string out = "[";
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        if (i) out += ",";
        out += "[" + a.items[i] + "]";
    }
    return out + "]";
}

}  // namespace

RuleDecoder::RuleDecoder(RangeMap ranges, LowerFn lower)
    : ranges_(std::move(ranges)), lower_(std::move(lower)) {
    for (std::size_t i = 0; i < ranges_.size(); ++i) {
        exact_.emplace(ranges_[i].first, i);
        // Keys keep the column's case and brackets, with blanks as "_";
        // rules name the predicate as the background file wrote it.
        normalised_.emplace(predicate_term(ranges_[i].first, lower_), i);
    }
}

const std::vector<std::string>* RuleDecoder::ranges_of(const std::string& predicate) const {
    auto it = exact_.find(predicate);
    if (it == exact_.end()) it = normalised_.find(predicate);
    if (it == normalised_.end() || ranges_[it->second].second.empty()) return nullptr;
    return &ranges_[it->second].second;
}

namespace {

// The variables of a decoded rule: those it already has (a fresh one must
// not take their names) and those its decoded body names, in order.
class DecodedVariables {
public:
    explicit DecodedVariables(const text::Meta& meta, const std::vector<std::string>& body) {
        note_taken(meta.head);
        for (const std::string& literal : body) note_taken(literal);
    }

    // A variable argument of the body, kept as it is.
    std::string keep(const text::Arg& a) {
        std::string v = arg_text(a);
        if (seen_.insert(v).second) named_.push_back(v);
        return v;
    }

    // A new variable for a range argument: the next name by count that the
    // rule does not use.
    std::string fresh() {
        long long n = static_cast<long long>(named_.size());
        std::string name = bottom::variable_name(n);
        while (taken_.count(name) || seen_.count(name)) name = bottom::variable_name(++n);
        seen_.insert(name);
        named_.push_back(name);
        return name;
    }

private:
    void note_taken(std::string_view literal) {
        for (const text::Arg& a : text::Clause(literal).args()) {
            if (!a.is_list && text::argument_kind(a) == text::ArgKind::Variable) taken_.insert(a.text);
        }
    }

    std::unordered_set<std::string> taken_, seen_;
    std::vector<std::string> named_;
};

const std::string& range_text(long long id, const std::string& literal, const std::vector<std::string>& ranges) {
    if (id < 0 || static_cast<unsigned long long>(id) >= ranges.size()) {
        throw IndexError("range g" + std::to_string(id) + " of the literal " + literal +
                         " does not exist: the feature has " + std::to_string(ranges.size()) + " ranges");
    }
    return ranges[static_cast<std::size_t>(id)];
}

}  // namespace

// Only literals of a predicate with ranges can hold range labels. Each label
// becomes a fresh variable; the literal keeps all its other arguments and is
// followed by one inRange(Variable,low--high) per label. Every other literal
// stays as it is, so no condition of the rule is lost.
std::string RuleDecoder::decode(std::string_view rule) const {
    const std::string replaced = text::replace(rule, "),", ")&", std::string::npos);
    const text::Meta meta(replaced);
    const std::vector<std::string> body = meta.get_body_clauses();
    DecodedVariables variables(meta, body);
    std::vector<std::string> decoded;
    for (const std::string& literal : body) {
        const text::Clause clause(literal);
        const std::vector<std::string>* ranges = ranges_of(clause.predicate);
        std::vector<std::string> args, in_range;
        for (const text::Arg& a : clause.args()) {
            if (text::argument_kind(a) == text::ArgKind::Variable) {
                args.push_back(variables.keep(a));
                continue;
            }
            const std::optional<long long> id = ranges ? range_number(a.text) : std::nullopt;
            if (!id) {
                args.push_back(arg_text(a));
                continue;
            }
            const std::string& range = range_text(*id, literal, *ranges);
            std::string fresh = variables.fresh();
            args.push_back(fresh);
            in_range.push_back(text::make_literal("inRange", {fresh, range}));
        }
        decoded.push_back(in_range.empty() ? literal : text::make_literal(clause.predicate, args));
        decoded.insert(decoded.end(), in_range.begin(), in_range.end());
    }
    return text::make_prolog_rule(meta.head, decoded);
}

}  // namespace vantor::tabular
