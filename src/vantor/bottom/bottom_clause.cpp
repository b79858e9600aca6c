#include "bottom/bottom_clause.hpp"

#include <algorithm>
#include <functional>
#include <queue>
#include <unordered_map>

#include "bottom/variables.hpp"

namespace vantor::bottom {

namespace {
constexpr std::uint32_t kBeforeFirstLine = 0xFFFFFFFFu;

// The texts already in `clauses`, as positions into it (no copies).
class LiteralSet {
public:
    explicit LiteralSet(const std::vector<std::string>& clauses) : clauses_(clauses), slots_(64, 0) {}

    // True when `text` is new; the caller then appends it to the clauses.
    bool add(std::string_view text) {
        if ((clauses_.size() + 1) * 2 > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash(text) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == 0) {
                slots_[i] = static_cast<std::uint32_t>(clauses_.size()) + 1;
                return true;
            }
            if (clauses_[slots_[i] - 1] == text) return false;
        }
    }

private:
    static std::size_t hash(std::string_view s) { return std::hash<std::string_view>{}(s); }
    void grow() {
        std::vector<std::uint32_t> slots(slots_.size() * 2, 0);
        const std::size_t mask = slots.size() - 1;
        for (std::uint32_t k = 0; k < clauses_.size(); ++k) {
            std::size_t i = hash(clauses_[k]) & mask;
            while (slots[i] != 0) i = (i + 1) & mask;
            slots[i] = k + 1;
        }
        slots_.swap(slots);
    }
    const std::vector<std::string>& clauses_;
    std::vector<std::uint32_t> slots_;
};
}  // namespace

// What every build reads: the background and the constant set's indexes.
struct BottomClauseBuilder::Shared {
    const Background& bg;
    std::vector<std::uint8_t> is_constant;  // per term: a constant-set member
    LineIndex constant_first;               // facts whose first argument is a member, by findable term

    Shared(const Background& b, const text::ConstantSet& constant) : bg(b) {
        const Interner& terms = bg.terms();
        is_constant.assign(terms.size(), 0);
        bool any = false;
        for (const std::string& c : constant) {
            const std::uint32_t id = terms.find(c);
            if (id != Interner::npos) {
                is_constant[id] = 1;
                any = true;
            }
        }
        if (any) {
            constant_first = bg.by_findable([this](Background::Fact f) {
                return !(f.first() & Background::kList) && is_constant[f.first() & Background::kIdMask];
            });
        }
    }
};

// One build's scratch space. Marks carry the number of the example they
// belong to, so nothing is cleared between examples.
struct BottomClauseBuilder::State {
    const Background& bg;
    const std::vector<std::uint8_t>& is_constant;
    const LineIndex& constant_first;

    std::uint32_t mark = 0;
    struct Known {
        std::uint32_t mark;  // == mark: the term is known
        std::uint32_t pos;   // its position in the known-term list
    };
    std::vector<Known> terms;  // together: one cache line per lookup
    std::vector<std::uint32_t> line_mark;  // == mark: visit already decided
    std::vector<std::string> names;        // variable_name cache
    std::vector<std::uint32_t> per_predicate;  // facts one term opened, per predicate (hops)

    explicit State(const Shared& shared)
        : bg(shared.bg), is_constant(shared.is_constant), constant_first(shared.constant_first) {
        this->terms.assign(bg.terms().size(), Known{0, 0});
        line_mark.assign(bg.line_count(), 0);
        per_predicate.assign(bg.predicate_count(), 0);
    }

    void next_example() {
        if (++mark == 0) {  // wrapped: old marks could look current
            std::fill(terms.begin(), terms.end(), Known{0, 0});
            std::fill(line_mark.begin(), line_mark.end(), 0);
            mark = 1;
        }
    }

    bool known(std::uint32_t term) const { return terms[term].mark == mark; }
    void learn(std::uint32_t term, std::uint32_t pos) { terms[term] = Known{mark, pos}; }

    const std::string& name(std::uint32_t pos) {
        while (names.size() <= pos) names.push_back(variable_name(static_cast<long long>(names.size())));
        return names[pos];
    }
};

// A scratch space held by one build: an idle one, or a new one when every
// one is in use; handed back for later builds.
class BottomClauseBuilder::Lease {
public:
    explicit Lease(BottomClauseBuilder& owner) : owner_(owner) {
        std::lock_guard<std::mutex> lock(owner_.idle_mutex_);
        if (owner_.idle_.empty()) {
            state_ = std::make_unique<State>(*owner_.shared_);
        } else {
            state_ = std::move(owner_.idle_.back());
            owner_.idle_.pop_back();
        }
    }
    ~Lease() {
        std::lock_guard<std::mutex> lock(owner_.idle_mutex_);
        owner_.idle_.push_back(std::move(state_));
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    State& state() { return *state_; }

private:
    BottomClauseBuilder& owner_;
    std::unique_ptr<State> state_;
};

BottomClauseBuilder::BottomClauseBuilder(BackgroundSource source, text::ConstantSet constant,
                                         ReachOptions reach)
    : source_(std::move(source)), constant_(std::move(constant)), reach_(reach) {}

BottomClauseBuilder::~BottomClauseBuilder() = default;

void BottomClauseBuilder::prepare() {
    std::lock_guard<std::mutex> lock(prepare_mutex_);
    if (shared_) return;
    background_ = source_.path ? Background::from_file(*source_.path)
                               : Background::from_lines(std::move(source_.lines));
    // Built here, before any build reads it: later builds only read.
    if (reach_.follow == Follow::Any) background_->all_by_findable();
    shared_ = std::make_unique<Shared>(*background_, constant_);
}

OddLines BottomClauseBuilder::odd_lines() {
    if (!source_.path) return {};
    prepare();
    return background_->take_odd_lines();
}

// One example's scan: the visits still to come, in scan order, and the
// literals found so far.
class BottomClauseBuilder::Scan {
public:
    Scan(State& st, const Background& bg, ReachOptions reach, long long depth, std::size_t limit)
        : st_(st), bg_(bg), any_position_(reach.follow == Follow::Any),
          numbers_as_terms_(reach.numbers == Numbers::Variable),
          passes_(static_cast<std::uint64_t>(depth)), limit_(limit), recall_(reach.recall),
          seen_(clauses_) {
        st_.next_example();
    }

    // The example's arguments are the first known terms, duplicates and
    // terms absent from the background included (each holds a position).
    void seed(std::string_view example) {
        for (const std::string& t : text::Clause(example).arg_texts()) {
            const std::uint32_t id = bg_.terms().find(t);
            if (id != Interner::npos && !st_.known(id)) {
                st_.learn(id, known_count_);
                fresh_.push_back(id);
            }
            ++known_count_;
        }
    }

    // Takes the pending facts in scan order until none is left or the
    // bottom clause holds `limit` literals.
    std::vector<std::string> run_passes() {
        for (std::uint32_t id : std::vector<std::uint32_t>(std::move(fresh_))) open_facts_of(id, 0, kBeforeFirstLine);
        while (!pending_.empty() && clauses_.size() < limit_) {
            const Visit visit = pending_.top();
            pending_.pop();
            fresh_.clear();
            take(visit.fact);
            for (std::uint32_t id : fresh_) open_facts_of(id, visit.pass, visit.line);
        }
        return std::move(clauses_);
    }

    // Breadth first: each step first gathers every fact the terms reached
    // by the step before open (so the follow conditions see exactly the
    // terms of earlier steps), then writes their literals in that order;
    // the terms those literals make known are the next step's frontier.
    std::vector<std::string> run_hops() {
        std::vector<std::uint32_t> frontier = std::move(fresh_);
        for (std::uint64_t step = 0; step < passes_ && !frontier.empty(); ++step) {
            step_facts_.clear();
            for (std::uint32_t term : frontier) gather_capped(term);
            fresh_.clear();
            for (std::uint32_t offset : step_facts_) {
                if (clauses_.size() >= limit_) return std::move(clauses_);
                take(offset);
            }
            frontier.swap(fresh_);
        }
        return std::move(clauses_);
    }

private:
    struct Visit {
        std::uint64_t pass;
        std::uint32_t line;
        std::uint32_t fact;
        bool operator>(const Visit& o) const { return pass != o.pass ? pass > o.pass : line > o.line; }
    };

    // The fact becomes takeable now, during (pass, at): its turn comes later
    // in this pass or, at or before `at`, in the next one. Only the first
    // such moment counts: a line's literal is fixed by its first visit.
    void schedule_line(std::uint32_t line, std::uint32_t offset, std::uint64_t pass, std::uint32_t at) {
        if (st_.line_mark[line] == st_.mark) return;
        st_.line_mark[line] = st_.mark;
        const std::uint64_t when = (at == kBeforeFirstLine || line > at) ? pass : pass + 1;
        if (when < passes_) pending_.push(Visit{when, line, offset});
    }

    bool first_ok(Background::Fact f) const {
        const std::uint32_t id = f.first() & Background::kIdMask;
        return st_.known(id) || (!(f.first() & Background::kList) && st_.is_constant[id]);
    }

    bool some_findable_known(Background::Fact f) const {
        for (const std::uint32_t a : f) {
            if ((a & Background::kFindable) && st_.known(a & Background::kIdMask)) return true;
        }
        return false;
    }

    // Every fact whose conditions the newly known `term` completes: those it
    // stands first in, those it is a findable later argument of (first
    // argument known already), those led by a constant-set member. `visit`
    // gets each one's line and fact offset.
    template <class Visit>
    void each_opened(std::uint32_t term, Visit visit) {
        if (any_position_) {
            // Holding the known term in any findable position is enough. The
            // index carries each fact's line: a fact already decided costs
            // no visit to the fact table.
            const AnyPositionIndex& all = bg_.all_by_findable();
            const LineIndex::Range facts = all.facts.of(term);
            const std::uint32_t* line = all.lines.of(term).begin();
            for (const std::uint32_t* f = facts.begin(); f != facts.end(); ++f, ++line) visit(*line, *f);
            return;
        }
        const auto [first, last] = bg_.facts_by_first(term);
        for (std::uint32_t offset = first; offset < last;) {
            const Background::Fact f = bg_.fact(offset);
            if ((f.first() & Background::kFindable) || some_findable_known(f)) visit(f.line(), offset);
            offset += f.size();
        }
        for (std::uint32_t offset : bg_.late_by_findable().of(term)) {
            const Background::Fact f = bg_.fact(offset);
            if (first_ok(f)) visit(f.line(), offset);
        }
        for (std::uint32_t offset : st_.constant_first.of(term)) visit(bg_.fact(offset).line(), offset);
    }

    void open_facts_of(std::uint32_t term, std::uint64_t pass, std::uint32_t at) {
        each_opened(term, [&](std::uint32_t line, std::uint32_t offset) { schedule_line(line, offset, pass, at); });
    }

    // The facts `term` opens, in file order, at most `recall` per predicate
    // (facts another term took already count too, so which facts a term
    // contributes does not depend on the order of the frontier), appended
    // to this step's facts unless an earlier term took them.
    void gather_capped(std::uint32_t term) {
        opened_.clear();
        each_opened(term, [&](std::uint32_t line, std::uint32_t offset) { opened_.emplace_back(line, offset); });
        if (!any_position_) {
            // Three lists, each in file order, that may share a fact.
            std::sort(opened_.begin(), opened_.end());
            opened_.erase(std::unique(opened_.begin(), opened_.end()), opened_.end());
        }
        for (const auto& [line, offset] : opened_) {
            const std::uint32_t predicate = bg_.fact(offset).predicate();
            std::uint32_t& count = st_.per_predicate[predicate];
            if (count == 0) counted_.push_back(predicate);
            if (count++ >= recall_) continue;
            if (st_.line_mark[line] == st_.mark) continue;
            st_.line_mark[line] = st_.mark;
            step_facts_.push_back(offset);
        }
        for (std::uint32_t predicate : counted_) st_.per_predicate[predicate] = 0;
        counted_.clear();
    }

    void take(std::uint32_t offset) {
        write_literal(bg_.fact(offset));
        if (seen_.add(literal_)) clauses_.push_back(literal_);
    }

    // The variabilised literal of `f` into literal_; terms it makes known
    // for the first time go to fresh_.
    void write_literal(Background::Fact f) {
        literal_.assign(bg_.predicate(f.predicate()));
        literal_ += '(';
        bool first_arg = true;
        for (const std::uint32_t a : f) {
            const std::uint32_t id = a & Background::kIdMask;
            if (!first_arg) literal_ += ',';
            first_arg = false;
            if (!(a & Background::kList) && st_.is_constant[id]) {
                literal_ += bg_.terms().text(id);
            } else if ((a & (Background::kList | Background::kConstant)) ||
                       (numbers_as_terms_ && bg_.numeric(id))) {
                if (!st_.known(id)) {
                    st_.learn(id, known_count_++);
                    fresh_.push_back(id);
                }
                literal_ += st_.name(st_.terms[id].pos);
            } else {
                literal_ += bg_.terms().text(id);  // numbers (by default) and upper-case texts stay
            }
        }
        literal_ += ')';
    }

    State& st_;
    const Background& bg_;
    const bool any_position_;
    const bool numbers_as_terms_;
    const std::uint64_t passes_;
    const std::size_t limit_;
    const std::size_t recall_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> opened_;  // (line, fact offset)
    std::vector<std::uint32_t> counted_;                           // predicates counted for one term
    std::vector<std::uint32_t> step_facts_;
    std::priority_queue<Visit, std::vector<Visit>, std::greater<Visit>> pending_;
    std::uint32_t known_count_ = 0;  // length of the known-term list
    std::vector<std::uint32_t> fresh_;
    std::vector<std::string> clauses_;
    LiteralSet seen_;
    std::string literal_;
};

std::vector<std::string> BottomClauseBuilder::build(std::string_view example, long long depth,
                                                    std::size_t limit) {
    if (depth == 0) return {variabilise_example(example, constant_)};
    if (depth < 0 || limit == 0) return {};
    prepare();
    Lease lease(*this);
    Scan scan(lease.state(), *background_, reach_, depth, limit);
    scan.seed(example);
    return reach_.reach == Reach::Hops ? scan.run_hops() : scan.run_passes();
}

data::BottomClauseSet BottomClauseBuilder::build_set(const std::vector<std::string>& examples,
                                                     long long depth, Progress& progress,
                                                     std::size_t limit) {
    data::BottomClauseSet set;
    std::unordered_map<std::string_view, std::size_t> where;
    progress.start(examples.size(), "");
    for (const std::string& example : examples) {
        if (where.find(example) == where.end()) {
            where.emplace(example, set.keys.size());
            set.keys.push_back(example);
            set.clauses.push_back(build(example, depth, limit));
        }
        progress.advance(1);
    }
    progress.finish();
    return set;
}

}  // namespace vantor::bottom
