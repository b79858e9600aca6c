// One coverage pass over a bottom-clause set: for every example, the rules
// formed by each linked choice of its bottom-clause literals for each
// candidate's body.
#include <algorithm>
#include <string>

#include "learn/coverage.hpp"
#include "learn/coverage_state.hpp"
#include "learn/matching.hpp"
#include "text/clause.hpp"

namespace vantor::learn {

namespace detail {
namespace {

// The body predicates of one candidate. A predicate the body names k times
// splits its bottom-clause literals into k consecutive chunks, the j-th
// occurrence choosing from the j-th chunk.
struct CandidateShape {
    std::vector<Id> predicates;          // per body position
    std::vector<std::uint32_t> chunk;    // which chunk of the predicate's literals
    std::vector<std::uint32_t> chunks;   // how many chunks they are split into
    bool repeated = false;               // some predicate occurs twice
};

CandidateShape shape_of(const std::string& candidate, Interner& predicates) {
    CandidateShape shape;
    for (const std::string& literal : text::Meta(candidate).get_body_clauses()) {
        shape.predicates.push_back(predicates.intern(text::predicate_of(literal)));
    }
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
    return shape;
}

// The working data of one pass, reused across examples and candidates.
class CoveragePass {
public:
    CoveragePass(CoverageState& state, const std::string& head, const std::vector<std::string>& candidates,
                 const CoverageOptions& options)
        : state_(state), options_(options), head_(state.literal(head)),
          head_variables_(state.literals.at(head_).linking) {
        shapes_.reserve(candidates.size());
        for (const std::string& candidate : candidates) {
            shapes_.push_back(shape_of(candidate, state.literals.predicates));
        }
    }

    // The distinct rules of one example, in order of first production.
    std::vector<RuleId> cover(const std::string& example, const std::vector<std::string>& bottom_clause,
                              RandomSource& rng) {
        load_bottom_clause(example, bottom_clause, rng);
        std::vector<RuleId> rules;
        ++stamp_;
        for (const CandidateShape& shape : shapes_) {
            if (!choose_ranges(shape)) continue;
            if (options_.optimize) narrow_by_matching();
            walk_linked_tuples(shape.predicates.size(), rules);
        }
        for (Id p : touched_) groups_[p].clear();
        touched_.clear();
        return rules;
    }

private:
    // Parses (or samples, under reduce_bc) the example's literals and groups
    // them by predicate, in bottom-clause order.
    void load_bottom_clause(const std::string& example, const std::vector<std::string>& stored,
                            RandomSource& rng) {
        bottom_.clear();
        // A bottom clause shorter than bc_count is kept whole: there is
        // nothing to reduce, and stopping the whole run for it would make
        // reduce_bc unusable on data with a few short bottom clauses.
        if (options_.reduce_bc && (options_.bc_count < 0 || static_cast<std::size_t>(options_.bc_count) <= stored.size())) {
            if (options_.bc_count < 0) {
                throw ValueError("reduce_bc: bc_count must be at least 0, got " + std::to_string(options_.bc_count) +
                                 " (example " + example + ")");
            }
            for (std::size_t p : rng.sample(stored.size(), static_cast<std::size_t>(options_.bc_count))) {
                bottom_.push_back(state_.literal(stored[p]));
            }
        } else {
            for (const std::string& literal : stored) bottom_.push_back(state_.literal(literal));
        }
        if (groups_.size() < state_.literals.predicates.size()) groups_.resize(state_.literals.predicates.size());
        for (LiteralId l : bottom_) {
            const Id p = state_.literals.at(l).predicate;
            if (groups_[p].empty()) touched_.push_back(p);
            groups_[p].push_back(l);
        }
    }

    // The literals each body position may take; false when some position
    // has none.
    bool choose_ranges(const CandidateShape& shape) {
        const std::size_t n = shape.predicates.size();
        begin_.assign(n, nullptr);
        end_.assign(n, nullptr);
        for (std::size_t i = 0; i < n; ++i) {
            const Id p = shape.predicates[i];
            if (p >= groups_.size() || groups_[p].empty()) return false;
            const std::vector<LiteralId>& group = groups_[p];
            std::size_t from = 0, size = group.size();
            if (shape.repeated) {
                const std::size_t k = shape.chunks[i], j = shape.chunk[i];
                const std::size_t base = group.size() / k, extra = group.size() % k;
                from = j * base + std::min(j, extra);
                size = base + (j < extra ? 1 : 0);
            }
            if (size == 0) return false;
            begin_[i] = group.data() + from;
            end_[i] = group.data() + from + size;
        }
        return true;
    }

    // Under `optimize`, the choices are narrowed by match_literals (which
    // may also drop positions).
    void narrow_by_matching() {
        std::vector<std::vector<std::string>> texts(begin_.size());
        for (std::size_t i = 0; i < begin_.size(); ++i) {
            for (const LiteralId* l = begin_[i]; l != end_[i]; ++l) texts[i].push_back(state_.literals.text(*l));
        }
        const std::vector<std::vector<std::string>> reduced = match_literals(texts);
        matched_.assign(reduced.size(), {});
        for (std::size_t i = 0; i < reduced.size(); ++i) {
            for (const std::string& t : reduced[i]) matched_[i].push_back(state_.literal(t));
        }
        begin_.resize(matched_.size());
        end_.resize(matched_.size());
        for (std::size_t i = 0; i < matched_.size(); ++i) {
            begin_[i] = matched_[i].data();
            end_[i] = matched_[i].data() + matched_[i].size();
        }
    }

    // The literal shares a linking variable with the chosen prefix (the
    // head's and those of the literals before `depth`).
    bool links(const ParsedLiteral& literal, std::size_t depth) const {
        const auto prefix_end = linked_.begin() + static_cast<long>(linked_size_[depth]);
        for (Id v : literal.linking) {
            if (std::find(linked_.begin(), prefix_end, v) != prefix_end) return true;
        }
        return false;
    }

    void extend_linked(const ParsedLiteral& literal, std::size_t depth) {
        linked_.resize(linked_size_[depth]);
        for (Id v : literal.linking) {
            const auto prefix_end = linked_.begin() + static_cast<long>(linked_size_[depth]);
            if (std::find(linked_.begin(), prefix_end, v) == prefix_end) linked_.push_back(v);
        }
        linked_size_[depth + 1] = linked_.size();
    }

    // The cartesian product of the ranges in order (last position fastest),
    // cut short as soon as a prefix fails the linkage test: a tuple is
    // linked only if each of its prefixes is.
    void walk_linked_tuples(std::size_t body_size, std::vector<RuleId>& rules) {
        const std::size_t n = begin_.size();
        if (n == 0) return;
        tuple_.assign(n, 0);
        cursor_.assign(begin_.begin(), begin_.end());
        linked_.assign(head_variables_.begin(), head_variables_.end());
        linked_size_.assign(n + 1, 0);
        linked_size_[0] = linked_.size();
        std::size_t depth = 0;
        while (true) {
            if (cursor_[depth] == end_[depth]) {
                if (depth == 0) break;
                cursor_[depth] = begin_[depth];
                --depth;
                ++cursor_[depth];
                continue;
            }
            const LiteralId l = *cursor_[depth];
            const ParsedLiteral& literal = state_.literals.at(l);
            if (!links(literal, depth)) {
                ++cursor_[depth];
                continue;
            }
            tuple_[depth] = l;
            extend_linked(literal, depth);
            if (depth + 1 < n) {
                ++depth;
                continue;
            }
            ++cursor_[depth];
            const RuleId rule = rule_of_tuple(body_size);
            if (rule != kNoRule) add_once(rule, rules);
        }
    }

    // The rule a complete linked tuple stands for, through the rule cache;
    // kNoRule when it is not kept.
    RuleId rule_of_tuple(std::size_t body_size) {
        const std::size_t n = tuple_.size();
        const auto size = static_cast<long long>(body_size);
        key_.assign(tuple_.begin(), tuple_.end());
        std::sort(key_.begin(), key_.end());
        Entry* found = state_.rules_by_key.find(key_.data(), n);
        if (found == nullptr) {
            Entry entry;
            bool usable = false;
            entry.rule = state_.rename(head_, tuple_.data(), n, usable);
            // Every renamed literal is distinct, so the usable body literals
            // number body_size exactly when all are.
            entry.usable = usable && n == body_size;
            entry.checked_for = size;
            found = &state_.rules_by_key.insert(key_.data(), n, entry);
            if (state_.keep_order) state_.key_order.emplace_back(key_.begin(), key_.end());
        }
        Entry& entry = *found;
        if (entry.rule == kNoRule) return kNoRule;
        if (entry.checked_for != size) {
            entry.usable = state_.usable(entry.rule, size);
            entry.checked_for = size;
        }
        if (!entry.usable) return kNoRule;
        return options_.rule_noise_check ? state_.normalise(entry.rule) : entry.rule;
    }

    void add_once(RuleId rule, std::vector<RuleId>& rules) {
        if (rule >= seen_stamp_.size()) seen_stamp_.resize(std::max<std::size_t>(rule + 1, seen_stamp_.size() * 2), 0);
        if (seen_stamp_[rule] != stamp_) {
            seen_stamp_[rule] = stamp_;
            rules.push_back(rule);
        }
    }

    CoverageState& state_;
    const CoverageOptions& options_;
    const LiteralId head_;
    const std::vector<Id> head_variables_;
    std::vector<CandidateShape> shapes_;

    // The example being covered.
    std::vector<LiteralId> bottom_;
    std::vector<std::vector<LiteralId>> groups_;  // by predicate id
    std::vector<Id> touched_;                     // predicates with a non-empty group
    std::vector<std::uint32_t> seen_stamp_;       // by rule id: stamp_ when already listed
    std::uint32_t stamp_ = 0;

    // The candidate being walked.
    std::vector<const LiteralId*> begin_, end_, cursor_;
    std::vector<std::vector<LiteralId>> matched_;
    std::vector<LiteralId> tuple_;
    std::vector<Id> linked_;              // linking variables of the head and the chosen prefix
    std::vector<std::size_t> linked_size_;  // linked_ size before each depth
    std::vector<LiteralId> key_;
};

}  // namespace
}  // namespace detail

CoverageResult compute_coverage(const data::BottomClauseSet& bk, const std::string& head,
                                 const std::vector<std::string>& candidates,
                                 const CoverageOptions& options, CoverageCache& cache,
                                 RandomSource& rng, Progress& progress) {
    detail::CoverageState& state = cache.state();
    detail::CoveragePass pass(state, head, candidates, options);

    CoverageResult result;
    result.lists.reserve(bk.size());
    result.cached.reserve(bk.size());
    const std::size_t total = bk.size();
    const std::size_t step = std::max<std::size_t>(1, total / 100);
    std::size_t pending = 0;
    progress.start(total, "coverage");
    for (std::size_t e = 0; e < total; ++e) {
        const std::string& example = bk.keys[e];
        if (auto it = state.examples.find(example); it != state.examples.end()) {
            result.lists.push_back(it->second);
            result.cached.push_back(1);
        } else {
            std::vector<RuleId> rules = pass.cover(example, bk.clauses[e], rng);
            state.examples[example] = rules;
            state.computed.push_back(example);
            result.lists.push_back(std::move(rules));
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
