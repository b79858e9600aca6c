#include <unordered_set>

#include "bottom/variables.hpp"
#include "host.hpp"
#include "tabular/tabular.hpp"
#include "text/clause.hpp"
#include "text/pystr.hpp"

namespace vantor::tabular {

namespace {

// The range number of a label such as g12: every "g" deleted, then read as
// a decimal integer (optional sign, single underscores between digits).
std::optional<long long> range_number(std::string_view arg) {
    std::string s;
    for (char c : arg) {
        if (c != 'g') s.push_back(c);
    }
    std::string_view t = text::strip(s);
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    if (t.empty() || t.front() == '_' || t.back() == '_') return std::nullopt;
    long long v = 0;
    char prev = 0;
    for (char c : t) {
        if (c == '_') {
            if (prev == '_') return std::nullopt;
        } else if (c >= '0' && c <= '9') {
            if (v > (1LL << 58)) return std::nullopt;  // far beyond any range count
            v = v * 10 + (c - '0');
        } else {
            return std::nullopt;
        }
        prev = c;
    }
    return negative ? -v : v;
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

const std::vector<std::string>& RuleDecoder::ranges_of(const std::string& predicate,
                                                       std::string_view literal) const {
    auto it = exact_.find(predicate);
    if (it != exact_.end()) return ranges_[it->second].second;
    it = normalised_.find(predicate);
    if (it != normalised_.end()) return ranges_[it->second].second;
    throw KeyError("predicate '" + predicate + "' of the literal " + std::string(literal) +
                   " is not a feature of the meta-information file");
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

// The range number of a range-label argument.
long long range_label_number(const std::string& arg, const std::string& literal) {
    const std::optional<long long> id = range_number(arg);
    if (!id) {
        throw ValueError("the argument '" + arg + "' of the literal " + literal +
                         " is not a range label (g followed by a number)");
    }
    return *id;
}

const std::string& range_text(long long id, const std::string& literal, const std::vector<std::string>& ranges) {
    if (id < 0 || static_cast<unsigned long long>(id) >= ranges.size()) {
        throw IndexError("range g" + std::to_string(id) + " of the literal " + literal +
                         " does not exist: the feature has " + std::to_string(ranges.size()) + " ranges");
    }
    return ranges[static_cast<std::size_t>(id)];
}

}  // namespace

// Each range argument becomes a fresh variable: the literal is written with
// the arguments up to it, followed by inRange(variable, 'low--high').
std::string RuleDecoder::decode(std::string_view rule) const {
    const std::string replaced = text::replace(rule, "),", ")&", std::string::npos);
    const text::Meta meta(replaced);
    const std::vector<std::string> body = meta.get_body_clauses();
    DecodedVariables variables(meta, body);
    std::vector<std::string> decoded;
    for (const std::string& literal : body) {
        const text::Clause clause(literal);
        std::vector<std::string> args_so_far;
        for (const text::Arg& a : clause.args()) {
            if (text::argument_kind(a) == text::ArgKind::Variable) {
                args_so_far.push_back(variables.keep(a));
                continue;
            }
            if (!text::contains(a.text, "g")) continue;
            const long long id = range_label_number(a.text, literal);
            const std::string& range = range_text(id, literal, ranges_of(clause.predicate, literal));
            std::string fresh = variables.fresh();
            args_so_far.push_back(fresh);
            decoded.push_back(text::make_literal(clause.predicate, args_so_far));
            decoded.push_back(text::make_literal("inRange", {fresh, range}));
        }
    }
    return text::make_prolog_rule(meta.head, decoded);
}

}  // namespace vantor::tabular
