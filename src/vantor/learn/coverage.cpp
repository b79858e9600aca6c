#include "learn/coverage.hpp"

#include <algorithm>
#include <string>

#include "bottom/variables.hpp"
#include "learn/coverage_state.hpp"
#include "learn/matching.hpp"
#include "text/clause.hpp"

namespace vantor::learn {

namespace detail {

bool CoverageState::all_arguments_distinct(const LiteralId* body, std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i) {
        const std::vector<Id>& args = literals.at(body[i]).args;
        for (std::size_t x = 0; x < args.size(); ++x) {
            for (std::size_t y = x + 1; y < args.size(); ++y) {
                if (args[x] == args[y]) return false;
            }
        }
    }
    return true;
}

const std::string& CoverageState::variable_name(std::size_t k) {
    while (variable_names_.size() <= k) {
        variable_names_.push_back(bottom::variable_name(static_cast<long long>(variable_names_.size())));
    }
    return variable_names_[k];
}

// make_literal of `literal` with each variable term replaced by the name of
// its order of first appearance in the rule being renamed.
void CoverageState::write_renamed(const ParsedLiteral& literal, std::string& out) {
    out.assign(literals.predicates.name(literal.predicate));
    if (literal.args.empty()) return;
    out += '(';
    for (std::size_t j = 0; j < literal.args.size(); ++j) {
        if (j) out += ',';
        const Id term = literal.args[j];
        if (!literals.is_variable(term)) {
            out += literals.terms.name(term);
            continue;
        }
        std::size_t k = 0;
        while (k < renamed_terms_.size() && renamed_terms_[k] != term) ++k;
        if (k == renamed_terms_.size()) renamed_terms_.push_back(term);
        out += variable_name(k);
    }
    out += ')';
}

// Renaming maps distinct arguments to distinct texts (new names are
// upper-case, kept constants are not), so `usable` is read off the ids. The
// texts go into buffers kept across calls: this runs once per new set of
// literals.
RuleId CoverageState::rename(LiteralId head, const LiteralId* body, std::size_t n, bool& usable) {
    usable = all_arguments_distinct(body, n);
    renamed_terms_.clear();
    if (renamed_texts_.size() < n + 1) renamed_texts_.resize(n + 1);
    for (std::size_t i = 0; i <= n; ++i) {
        std::string& text = renamed_texts_[i];
        write_renamed(literals.at(i == 0 ? head : body[i - 1]), text);
        for (std::size_t earlier = 0; earlier < i; ++earlier) {
            if (renamed_texts_[earlier] == text) return kNoRule;  // two literals collapsed
        }
    }
    rule_text_.assign(renamed_texts_[0]);
    rule_text_ += ":-";
    for (std::size_t i = 1; i <= n; ++i) {
        if (i > 1) rule_text_ += '&';
        rule_text_ += renamed_texts_[i];
    }
    return rule(rule_text_);
}

bool CoverageState::usable(RuleId rule, long long body_size) const {
    const text::Meta meta(rule_texts[rule]);
    std::vector<std::string> kept;
    for (const std::string& literal : meta.get_body_clauses()) {
        std::vector<std::string> args = text::Clause(literal).arg_texts();
        std::sort(args.begin(), args.end());
        if (std::adjacent_find(args.begin(), args.end()) != args.end()) continue;
        if (std::find(kept.begin(), kept.end(), literal) == kept.end()) kept.push_back(literal);
    }
    return static_cast<long long>(kept.size()) == body_size;
}

RuleId CoverageState::normalise(RuleId rule_id) {
    if (rule_id < normalised.size() && normalised[rule_id] != kNotNormalised) return normalised[rule_id];
    const std::vector<std::string> out = normalise_rule({rule_texts[rule_id]});
    const RuleId result = out.empty() ? kNoRule : rule(out.front());
    if (normalised.size() <= rule_id) normalised.resize(rule_texts.size(), kNotNormalised);
    normalised[rule_id] = result;
    return result;
}

namespace {

std::u32string key_of(std::vector<LiteralId> ids) {
    std::sort(ids.begin(), ids.end());
    return std::u32string(ids.begin(), ids.end());
}

}  // namespace
}  // namespace detail

using detail::CoverageState;
using detail::kNoRule;

CoverageCache::CoverageCache(const text::ConstantSet& constant)
    : state_(std::make_unique<CoverageState>(constant)) {}
CoverageCache::~CoverageCache() = default;
CoverageCache::CoverageCache(CoverageCache&&) noexcept = default;
CoverageCache& CoverageCache::operator=(CoverageCache&&) noexcept = default;

const std::string& CoverageCache::rule_text(RuleId id) const { return state_->rule_texts[id]; }
RuleId CoverageCache::intern_rule(const std::string& text) { return state_->rule(text); }
std::size_t CoverageCache::rule_count() const { return state_->rule_texts.size(); }

void CoverageCache::put_rule_entry(const std::vector<std::string>& sorted_key,
                                   std::optional<std::string> value) {
    if (!std::is_sorted(sorted_key.begin(), sorted_key.end())) return;
    std::vector<LiteralId> ids;
    for (const std::string& t : sorted_key) ids.push_back(state_->literal(t));
    std::u32string key = detail::key_of(std::move(ids));
    detail::Entry e;
    if (value) e.rule = state_->rule(*value);
    const auto* ids_of_key = reinterpret_cast<const LiteralId*>(key.data());
    if (key.empty() || state_->rules_by_key.find(ids_of_key, key.size())) return;
    state_->rules_by_key.insert(ids_of_key, key.size(), e);
    if (state_->keep_order) state_->key_order.push_back(std::move(key));
}

void CoverageCache::put_external_example(const std::string& example) {
    state_->external.insert(example);
    state_->examples.try_emplace(example);
}

void CoverageCache::keep_entry_order() { state_->keep_order = true; }

std::size_t CoverageCache::rule_entry_count() const { return state_->key_order.size(); }

void CoverageCache::rule_entries_since(
    std::size_t mark, std::vector<std::pair<std::vector<std::string>, std::optional<RuleId>>>& out) const {
    for (std::size_t i = mark; i < state_->key_order.size(); ++i) {
        const std::u32string& key = state_->key_order[i];
        std::vector<std::string> texts;
        for (char32_t id : key) texts.push_back(state_->literals.text(id));
        std::sort(texts.begin(), texts.end());
        const detail::Entry& e =
            *state_->rules_by_key.find(reinterpret_cast<const LiteralId*>(key.data()), key.size());
        out.emplace_back(std::move(texts), e.rule == kNoRule ? std::nullopt : std::optional<RuleId>(e.rule));
    }
}

const std::vector<RuleId>* CoverageCache::example(const std::string& example) const {
    auto it = state_->examples.find(example);
    return it == state_->examples.end() ? nullptr : &it->second;
}

bool CoverageCache::external_example(const std::string& example) const {
    return state_->external.count(example) != 0;
}

const std::vector<std::string>& computed_examples(const CoverageCache& cache) {
    return const_cast<CoverageCache&>(cache).state().computed;
}

}  // namespace vantor::learn
