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

std::string RuleDecoder::decode(std::string_view rule) const {
    const std::string replaced = text::replace(rule, "),", ")&", std::string::npos);
    const text::Meta meta(replaced);
    const std::vector<std::string> body = meta.get_body_clauses();

    // A fresh variable must not take a name the rule already uses.
    std::unordered_set<std::string> taken;
    auto note_variables = [&taken](std::string_view literal) {
        for (const text::Arg& a : text::Clause(literal).args()) {
            if (!a.is_list && text::argument_kind(a) == text::ArgKind::Variable) taken.insert(a.text);
        }
    };
    note_variables(meta.head);
    for (const std::string& lit : body) note_variables(lit);

    std::vector<std::string> decoded;
    std::vector<std::string> var_args;
    std::unordered_set<std::string> seen;
    for (const std::string& lit : body) {
        const text::Clause clause(lit);
        std::vector<std::string> args_temp;
        for (const text::Arg& a : clause.args()) {
            if (text::argument_kind(a) == text::ArgKind::Variable) {
                std::string v = arg_text(a);
                if (seen.insert(v).second) var_args.push_back(v);
                args_temp.push_back(std::move(v));
                continue;
            }
            if (!text::contains(a.text, "g")) continue;
            const std::optional<long long> id = range_number(a.text);
            if (!id) {
                throw ValueError("the argument '" + a.text + "' of the literal " + lit +
                                 " is not a range label (g followed by a number)");
            }
            const std::vector<std::string>& ranges = ranges_of(clause.predicate, lit);
            if (*id < 0 || static_cast<unsigned long long>(*id) >= ranges.size()) {
                throw IndexError("range g" + std::to_string(*id) + " of the literal " + lit +
                                 " does not exist: the feature has " +
                                 std::to_string(ranges.size()) + " ranges");
            }
            long long n = static_cast<long long>(var_args.size());
            std::string fresh = bottom::variable_name(n);
            while (taken.count(fresh) || seen.count(fresh)) fresh = bottom::variable_name(++n);
            seen.insert(fresh);
            var_args.push_back(fresh);
            args_temp.push_back(fresh);
            decoded.push_back(text::make_literal(clause.predicate, args_temp));
            decoded.push_back(text::make_literal("inRange", {fresh, ranges[static_cast<std::size_t>(*id)]}));
        }
    }
    return text::make_prolog_rule(meta.head, decoded);
}

}  // namespace vantor::tabular
