#include "learn/coverage.hpp"

#include <algorithm>
#include <string>
#include <unordered_set>

#include "bottom/variables.hpp"
#include "learn/candidates_intern.hpp"
#include "learn/matching.hpp"
#include "text/clause.hpp"

namespace vantor::learn {

namespace detail {

constexpr RuleId kNoRule = UINT32_MAX;

struct Lit {
    Id predicate = 0;
    std::vector<Id> args;     // term ids, in order
    std::vector<Id> linking;  // variables outside the constant set, distinct, sorted
};

struct Entry {
    RuleId rule = kNoRule;  // kNoRule: the renaming collapsed two literals
    long long checked_for = -1;  // body size the check below was made for
    bool usable = false;         // no body literal repeats an argument, none collapsed
};

// Rule cache: sorted literal ids -> Entry. Almost every candidate has one
// or two body literals, so those keys pack into one 64-bit word in an
// open-addressing table (one probe sequence over flat arrays instead of a
// node per key); longer keys go to a node map.
class KeyTable {
public:
    Entry* find(const LiteralId* ids, std::size_t n) {
        if (n <= 2) {
            if (slots_.empty()) return nullptr;
            const std::uint64_t k = pack(ids, n);
            for (std::size_t i = hash(k) & mask_;; i = (i + 1) & mask_) {
                if (slots_[i] == 0) return nullptr;
                if (slots_[i] == k) return &entries_[values_[i]];
            }
        }
        auto it = long_.find(std::u32string(ids, ids + n));
        return it == long_.end() ? nullptr : &entries_[it->second];
    }
    // The key must not be present.
    Entry& insert(const LiteralId* ids, std::size_t n, const Entry& e) {
        const std::uint32_t index = static_cast<std::uint32_t>(entries_.size());
        entries_.push_back(e);
        if (n <= 2) {
            if ((used_ + 1) * 2 > slots_.size()) grow();
            place(pack(ids, n), index);
            ++used_;
        } else {
            long_.emplace(std::u32string(ids, ids + n), index);
        }
        return entries_.back();
    }

private:
    static std::uint64_t pack(const LiteralId* ids, std::size_t n) {
        // Ids are offset by one so that 0 marks an empty slot and a
        // one-literal key (high word 0) never equals a two-literal one.
        if (n == 1) return std::uint64_t{ids[0]} + 1;
        return ((std::uint64_t{ids[0]} + 1) << 32) | (std::uint64_t{ids[1]} + 1);
    }
    static std::size_t hash(std::uint64_t x) {
        x ^= x >> 30;
        x *= 0xbf58476d1ce4e5b9ULL;
        x ^= x >> 27;
        x *= 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return static_cast<std::size_t>(x);
    }
    void place(std::uint64_t k, std::uint32_t v) {
        std::size_t i = hash(k) & mask_;
        while (slots_[i] != 0) i = (i + 1) & mask_;
        slots_[i] = k;
        values_[i] = v;
    }
    void grow() {
        std::vector<std::uint64_t> old_slots = std::move(slots_);
        std::vector<std::uint32_t> old_values = std::move(values_);
        const std::size_t size = old_slots.empty() ? 1024 : old_slots.size() * 2;
        slots_.assign(size, 0);
        values_.assign(size, 0);
        mask_ = size - 1;
        for (std::size_t i = 0; i < old_slots.size(); ++i) {
            if (old_slots[i] != 0) place(old_slots[i], old_values[i]);
        }
    }

    std::vector<std::uint64_t> slots_;
    std::vector<std::uint32_t> values_;
    std::size_t mask_ = 0;
    std::size_t used_ = 0;
    std::unordered_map<std::u32string, std::uint32_t> long_;
    std::vector<Entry> entries_;
};

struct CoverageState {
    explicit CoverageState(const text::ConstantSet& c) : constant(c) {}

    text::ConstantSet constant;
    Interner predicates;
    Interner terms;
    std::vector<char> term_is_variable;
    std::unordered_map<std::string, LiteralId> literal_ids;
    std::vector<Lit> literals;
    std::vector<std::string> literal_texts;

    KeyTable rules_by_key;
    std::vector<std::u32string> key_order;
    bool keep_order = false;

    std::unordered_map<std::string, RuleId> rule_ids;
    std::vector<std::string> rule_texts;
    std::unordered_map<RuleId, RuleId> normalised;

    std::unordered_map<std::string, std::vector<RuleId>> examples;
    std::unordered_set<std::string> external;
    std::vector<std::string> computed;

    std::vector<std::string> variable_names;

    Id term(const std::string& t, bool variable) {
        const Id id = terms.intern(t);
        if (id >= term_is_variable.size()) term_is_variable.resize(id + 1, 0);
        term_is_variable[id] = variable ? 1 : 0;
        return id;
    }

    LiteralId literal(const std::string& text) {
        auto it = literal_ids.find(text);
        if (it != literal_ids.end()) return it->second;
        const text::Clause clause(text);
        Lit lit;
        lit.predicate = predicates.intern(clause.predicate);
        for (const text::Arg& a : clause.args()) {
            const bool variable = argument_kind(a) == text::ArgKind::Variable;
            const std::string key = a.is_list ? text::list_key(a.items) : a.text;
            const Id id = term(key, variable);
            lit.args.push_back(id);
            if (variable && constant.count(key) == 0) lit.linking.push_back(id);
        }
        std::sort(lit.linking.begin(), lit.linking.end());
        lit.linking.erase(std::unique(lit.linking.begin(), lit.linking.end()), lit.linking.end());
        const LiteralId lid = static_cast<LiteralId>(literals.size());
        literals.push_back(std::move(lit));
        literal_texts.push_back(text);
        literal_ids.emplace(text, lid);
        return lid;
    }

    RuleId rule(const std::string& text) {
        auto [it, inserted] = rule_ids.try_emplace(text, static_cast<RuleId>(rule_texts.size()));
        if (inserted) rule_texts.push_back(text);
        return it->second;
    }

    const std::string& variable_name(std::size_t k) {
        while (variable_names.size() <= k) {
            variable_names.push_back(bottom::variable_name(static_cast<long long>(variable_names.size())));
        }
        return variable_names[k];
    }

    // rename_variables([[head] + per]) over ids. `usable` tells whether no
    // body literal repeats an argument: renaming maps distinct arguments to
    // distinct texts (new names are upper-case, kept constants are not), so
    // this is read off the ids.
    RuleId rename(LiteralId head, const LiteralId* per, std::size_t n, bool& usable) {
        usable = true;
        for (std::size_t i = 0; i < n && usable; ++i) {
            const std::vector<Id>& a = literals[per[i]].args;
            for (std::size_t x = 0; x < a.size() && usable; ++x) {
                for (std::size_t y = x + 1; y < a.size(); ++y) {
                    if (a[x] == a[y]) {
                        usable = false;
                        break;
                    }
                }
            }
        }
        // Texts are written into buffers kept across calls (make_literal and
        // make_rule formats): this runs once per new set of literals.
        values_buf.clear();
        if (rewritten_buf.size() < n + 1) rewritten_buf.resize(n + 1);
        std::size_t distinct = 0;
        for (std::size_t i = 0; i <= n; ++i) {
            const Lit& lit = literals[i == 0 ? head : per[i - 1]];
            std::string& text = rewritten_buf[distinct];
            text.assign(predicates.name(lit.predicate));
            if (!lit.args.empty()) {
                text += '(';
                for (std::size_t j = 0; j < lit.args.size(); ++j) {
                    if (j) text += ',';
                    const Id a = lit.args[j];
                    if (!term_is_variable[a]) {
                        text += terms.name(a);
                        continue;
                    }
                    std::size_t k = 0;
                    while (k < values_buf.size() && values_buf[k] != a) ++k;
                    if (k == values_buf.size()) values_buf.push_back(a);
                    text += variable_name(k);
                }
                text += ')';
            }
            bool repeated = false;
            for (std::size_t d = 0; d < distinct && !repeated; ++d) repeated = rewritten_buf[d] == text;
            if (!repeated) ++distinct;
        }
        if (distinct != n + 1) return kNoRule;
        rule_buf.assign(rewritten_buf[0]);
        rule_buf += ":-";
        for (std::size_t i = 1; i <= n; ++i) {
            if (i > 1) rule_buf += '&';
            rule_buf += rewritten_buf[i];
        }
        return rule(rule_buf);
    }
    std::vector<Id> values_buf;
    std::vector<std::string> rewritten_buf;
    std::string rule_buf;

    // Body literals without a repeated argument, counted once each, must be
    // as many as the candidate's body.
    bool usable(RuleId r, long long len_cl) const {
        const text::Meta meta(rule_texts[r]);
        std::vector<std::string> kept;
        for (const std::string& b : meta.get_body_clauses()) {
            std::vector<std::string> a = text::Clause(b).arg_texts();
            std::sort(a.begin(), a.end());
            if (std::adjacent_find(a.begin(), a.end()) != a.end()) continue;
            if (std::find(kept.begin(), kept.end(), b) == kept.end()) kept.push_back(b);
        }
        return static_cast<long long>(kept.size()) == len_cl;
    }

    RuleId normalise(RuleId r) {
        auto it = normalised.find(r);
        if (it != normalised.end()) return it->second;
        const std::vector<std::string> out = normalise_rule({rule_texts[r]});
        const RuleId result = out.empty() ? kNoRule : rule(out.front());
        normalised.emplace(r, result);
        return result;
    }
};

namespace {

std::u32string key_of(std::vector<LiteralId> ids) {
    std::sort(ids.begin(), ids.end());
    return std::u32string(ids.begin(), ids.end());
}

struct CandidateShape {
    std::vector<Id> predicates;   // per body position
    std::vector<std::uint32_t> chunk, chunks;  // chunk j of k of the predicate's literals
    bool repeated = false;
};

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
        for (char32_t id : key) texts.push_back(state_->literal_texts[id]);
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

CoverageResult compute_coverage(const data::BottomClauseSet& bk, const std::string& head,
                                 const std::vector<std::string>& candidates,
                                 const CoverageOptions& options, CoverageCache& cache,
                                 RandomSource& rng, Progress& progress) {
    CoverageState& st = cache.state();
    using detail::Id;

    const LiteralId head_id = st.literal(head);
    const std::vector<Id> head_vars = st.literals[head_id].linking;

    std::vector<detail::CandidateShape> shapes;
    shapes.reserve(candidates.size());
    for (const std::string& bch : candidates) {
        detail::CandidateShape shape;
        const std::vector<std::string> body = text::Meta(bch).get_body_clauses();
        for (const std::string& b : body) shape.predicates.push_back(st.predicates.intern(text::predicate_of(b)));
        const std::size_t n = shape.predicates.size();
        shape.chunk.assign(n, 0);
        shape.chunks.assign(n, 1);
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t before = 0, total = 0;
            for (std::size_t j = 0; j < n; ++j) {
                if (shape.predicates[j] != shape.predicates[i]) continue;
                ++total;
                if (j < i) ++before;
            }
            shape.chunk[i] = before;
            shape.chunks[i] = total;
            if (total > 1) shape.repeated = true;
        }
        shapes.push_back(std::move(shape));
    }

    CoverageResult result;
    result.lists.reserve(bk.size());
    result.cached.reserve(bk.size());

    std::vector<std::vector<LiteralId>> groups;
    std::vector<Id> touched;
    std::vector<LiteralId> bc_ids;
    std::vector<std::uint32_t> seen_stamp;
    std::uint32_t stamp = 0;

    // Working data of one candidate.
    std::vector<const LiteralId*> pos_begin, pos_end;
    std::vector<std::vector<LiteralId>> matched;
    std::vector<LiteralId> tuple;
    std::vector<Id> linked;
    std::vector<std::size_t> linked_size;
    std::vector<LiteralId> key_ids;

    const std::size_t total = bk.size();
    const std::size_t step = std::max<std::size_t>(1, total / 100);
    std::size_t pending = 0;
    progress.start(total, "coverage");

    for (std::size_t e = 0; e < total; ++e) {
        const std::string& example = bk.keys[e];
        if (auto it = st.examples.find(example); it != st.examples.end()) {
            result.lists.push_back(it->second);
            result.cached.push_back(1);
        } else {
            const std::vector<std::string>& stored = bk.clauses[e];
            bc_ids.clear();
            if (options.reduce_bc) {
                if (options.bc_count < 0 || static_cast<std::size_t>(options.bc_count) > stored.size()) {
                    throw ValueError("reduce_bc: the bottom clause of example " + example + " has " +
                                     std::to_string(stored.size()) + " literals, fewer than bc_count=" +
                                     std::to_string(options.bc_count) +
                                     " (Sample larger than population or is negative)");
                }
                for (std::size_t p : rng.sample(stored.size(), static_cast<std::size_t>(options.bc_count))) {
                    bc_ids.push_back(st.literal(stored[p]));
                }
            } else {
                for (const std::string& l : stored) bc_ids.push_back(st.literal(l));
            }
            if (groups.size() < st.predicates.size()) groups.resize(st.predicates.size());
            for (LiteralId l : bc_ids) {
                const Id p = st.literals[l].predicate;
                if (groups[p].empty()) touched.push_back(p);
                groups[p].push_back(l);
            }
            std::vector<RuleId> hypo_set;
            ++stamp;

            for (const detail::CandidateShape& shape : shapes) {
                const std::size_t len_cl = shape.predicates.size();
                pos_begin.assign(len_cl, nullptr);
                pos_end.assign(len_cl, nullptr);
                bool complete = true;
                for (std::size_t i = 0; i < len_cl; ++i) {
                    const Id p = shape.predicates[i];
                    if (p >= groups.size() || groups[p].empty()) {
                        complete = false;
                        break;
                    }
                    const std::vector<LiteralId>& g = groups[p];
                    std::size_t from = 0, size = g.size();
                    if (shape.repeated) {
                        const std::size_t k = shape.chunks[i], j = shape.chunk[i];
                        const std::size_t base = g.size() / k, extra = g.size() % k;
                        from = j * base + std::min(j, extra);
                        size = base + (j < extra ? 1 : 0);
                    }
                    if (size == 0) {
                        complete = false;
                        break;
                    }
                    pos_begin[i] = g.data() + from;
                    pos_end[i] = g.data() + from + size;
                }
                if (!complete) continue;

                if (options.optimize) {
                    std::vector<std::vector<std::string>> texts(len_cl);
                    for (std::size_t i = 0; i < len_cl; ++i) {
                        for (const LiteralId* l = pos_begin[i]; l != pos_end[i]; ++l) {
                            texts[i].push_back(st.literal_texts[*l]);
                        }
                    }
                    const std::vector<std::vector<std::string>> reduced = match_literals(texts);
                    matched.assign(reduced.size(), {});
                    for (std::size_t i = 0; i < reduced.size(); ++i) {
                        for (const std::string& t : reduced[i]) matched[i].push_back(st.literal(t));
                    }
                    pos_begin.resize(matched.size());
                    pos_end.resize(matched.size());
                    for (std::size_t i = 0; i < matched.size(); ++i) {
                        pos_begin[i] = matched[i].data();
                        pos_end[i] = matched[i].data() + matched[i].size();
                    }
                }

                // Cartesian product in order (last position fastest), cut
                // short as soon as a prefix fails the linkage test: a tuple
                // is linked only if each of its prefixes is.
                const std::size_t n = pos_begin.size();
                if (n == 0) continue;
                tuple.assign(n, 0);
                std::vector<const LiteralId*> cursor(pos_begin.begin(), pos_begin.end());
                linked.assign(head_vars.begin(), head_vars.end());
                linked_size.assign(n + 1, 0);
                linked_size[0] = linked.size();
                std::size_t depth = 0;
                while (true) {
                    if (cursor[depth] == pos_end[depth]) {
                        if (depth == 0) break;
                        cursor[depth] = pos_begin[depth];
                        --depth;
                        ++cursor[depth];
                        continue;
                    }
                    const LiteralId l = *cursor[depth];
                    const detail::Lit& lit = st.literals[l];
                    linked.resize(linked_size[depth]);
                    bool shares = false;
                    for (Id v : lit.linking) {
                        if (std::find(linked.begin(), linked.end(), v) != linked.end()) {
                            shares = true;
                            break;
                        }
                    }
                    if (!shares) {
                        ++cursor[depth];
                        continue;
                    }
                    tuple[depth] = l;
                    for (Id v : lit.linking) {
                        if (std::find(linked.begin(), linked.begin() + static_cast<long>(linked_size[depth]), v) ==
                            linked.begin() + static_cast<long>(linked_size[depth])) {
                            linked.push_back(v);
                        }
                    }
                    linked_size[depth + 1] = linked.size();
                    if (depth + 1 < n) {
                        ++depth;
                        continue;
                    }
                    // A complete linked tuple.
                    ++cursor[depth];
                    key_ids.assign(tuple.begin(), tuple.end());
                    std::sort(key_ids.begin(), key_ids.end());
                    detail::Entry* found = st.rules_by_key.find(key_ids.data(), n);
                    if (found == nullptr) {
                        detail::Entry entry;
                        bool usable = false;
                        entry.rule = st.rename(head_id, tuple.data(), n, usable);
                        // Every renamed literal is distinct, so the usable
                        // body literals number len_cl exactly when all are.
                        entry.usable = usable && n == len_cl;
                        entry.checked_for = static_cast<long long>(len_cl);
                        found = &st.rules_by_key.insert(key_ids.data(), n, entry);
                        if (st.keep_order) st.key_order.emplace_back(key_ids.begin(), key_ids.end());
                    }
                    detail::Entry& entry = *found;
                    if (entry.rule == kNoRule) continue;
                    if (entry.checked_for != static_cast<long long>(len_cl)) {
                        entry.usable = st.usable(entry.rule, static_cast<long long>(len_cl));
                        entry.checked_for = static_cast<long long>(len_cl);
                    }
                    if (!entry.usable) continue;
                    RuleId hh = entry.rule;
                    if (options.rule_noise_check) {
                        hh = st.normalise(hh);
                        if (hh == kNoRule) continue;
                    }
                    if (hh >= seen_stamp.size()) seen_stamp.resize(std::max<std::size_t>(hh + 1, seen_stamp.size() * 2), 0);
                    if (seen_stamp[hh] != stamp) {
                        seen_stamp[hh] = stamp;
                        hypo_set.push_back(hh);
                    }
                }
            }

            for (Id p : touched) groups[p].clear();
            touched.clear();
            auto& slot = st.examples[example];
            slot = hypo_set;
            st.computed.push_back(example);
            result.lists.push_back(std::move(hypo_set));
            result.cached.push_back(0);
        }
        if (++pending >= step) {
            progress.advance(pending);
            pending = 0;
        }
    }
    if (pending) progress.advance(pending);
    progress.finish();
    return result;
}

}  // namespace vantor::learn
