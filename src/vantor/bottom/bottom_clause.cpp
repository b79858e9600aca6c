#include "bottom/bottom_clause.hpp"

#include <functional>
#include <queue>
#include <unordered_map>
#include <unordered_set>

#include "bottom/variables.hpp"

namespace vantor::bottom {

namespace {
constexpr std::uint32_t kBeforeFirstLine = 0xFFFFFFFFu;
}

// Per-call indexes and per-example scratch space. Marks carry the number of
// the example they belong to, so nothing is cleared between examples.
struct BottomClauseBuilder::State {
    const Background& bg;
    std::vector<std::uint8_t> is_constant;  // per term: a constant-set member
    LineIndex constant_first;               // lines whose first argument is constant, by findable term

    std::uint32_t mark = 0;
    std::vector<std::uint32_t> term_mark;  // == mark: term known
    std::vector<std::uint32_t> term_pos;   // its position in the known-term list
    std::vector<std::uint32_t> line_mark;  // == mark: visit already decided
    std::vector<std::string> names;        // variable_name cache

    explicit State(const Background& b, const text::ConstantSet& constant) : bg(b) {
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
            constant_first = bg.by_findable([this](std::uint32_t line) {
                const std::uint32_t first = *bg.args_begin(line);
                return !(first & Background::kList) && is_constant[first & Background::kIdMask];
            });
        }
        term_mark.assign(terms.size(), 0);
        term_pos.assign(terms.size(), 0);
        line_mark.assign(bg.line_count(), 0);
    }

    void next_example() {
        if (++mark == 0) {  // wrapped: old marks could look current
            std::fill(term_mark.begin(), term_mark.end(), 0);
            std::fill(line_mark.begin(), line_mark.end(), 0);
            mark = 1;
        }
    }

    bool known(std::uint32_t term) const { return term_mark[term] == mark; }

    const std::string& name(std::uint32_t pos) {
        while (names.size() <= pos) names.push_back(variable_name(static_cast<long long>(names.size())));
        return names[pos];
    }
};

BottomClauseBuilder::BottomClauseBuilder(BackgroundSource source, text::ConstantSet constant)
    : source_(std::move(source)), constant_(std::move(constant)) {}

BottomClauseBuilder::~BottomClauseBuilder() = default;

void BottomClauseBuilder::prepare() {
    if (state_) return;
    background_ = source_.path ? Background::from_file(*source_.path)
                               : Background::from_lines(std::move(source_.lines));
    state_ = std::make_unique<State>(*background_, constant_);
}

std::vector<std::string> BottomClauseBuilder::build(std::string_view example, long long depth) {
    if (depth == 0) return {variabilise_example(example, constant_)};
    if (depth < 0) return {};
    prepare();
    State& st = *state_;
    const Background& bg = *background_;
    st.next_example();

    // Visits in scan order: (pass, line).
    using Visit = std::pair<std::uint64_t, std::uint32_t>;
    std::priority_queue<Visit, std::vector<Visit>, std::greater<Visit>> pending;
    const auto passes = static_cast<std::uint64_t>(depth);

    std::uint32_t known_count = 0;  // length of the known-term list
    std::vector<std::uint32_t> fresh;

    // The line becomes takeable now, during (pass, at): its turn comes later
    // in this pass or, at or before `at`, in the next one.
    auto takeable = [&](std::uint32_t line, std::uint64_t pass, std::uint32_t at) {
        if (st.line_mark[line] == st.mark) return;
        st.line_mark[line] = st.mark;
        const std::uint64_t when = (at == kBeforeFirstLine || line > at) ? pass : pass + 1;
        if (when < passes) pending.emplace(when, line);
    };
    auto first_ok = [&](std::uint32_t line) {
        const std::uint32_t first = *bg.args_begin(line);
        const std::uint32_t id = first & Background::kIdMask;
        return st.known(id) || (!(first & Background::kList) && st.is_constant[id]);
    };
    auto some_findable_known = [&](std::uint32_t line) {
        for (const std::uint32_t* a = bg.args_begin(line); a != bg.args_end(line); ++a) {
            if ((*a & Background::kFindable) && st.known(*a & Background::kIdMask)) return true;
        }
        return false;
    };
    // Every line whose conditions a newly known term can complete.
    auto learnt = [&](std::uint32_t term, std::uint64_t pass, std::uint32_t at) {
        for (std::uint32_t line : bg.by_first().of(term)) {
            if ((*bg.args_begin(line) & Background::kFindable) || some_findable_known(line)) {
                takeable(line, pass, at);
            }
        }
        for (std::uint32_t line : bg.late_by_findable().of(term)) {
            if (first_ok(line)) takeable(line, pass, at);
        }
        for (std::uint32_t line : st.constant_first.of(term)) takeable(line, pass, at);
    };

    {
        const Interner& terms = bg.terms();
        for (const std::string& t : text::Clause(example).arg_texts()) {
            const std::uint32_t id = terms.find(t);
            if (id != Interner::npos && !st.known(id)) {
                st.term_mark[id] = st.mark;
                st.term_pos[id] = known_count;
                fresh.push_back(id);
            }
            ++known_count;  // repeated and unseen terms still hold a position
        }
        for (std::uint32_t id : fresh) learnt(id, 0, kBeforeFirstLine);
    }

    std::vector<std::string> clauses;
    std::unordered_set<std::string> seen;
    std::string literal;
    while (!pending.empty()) {
        const auto [pass, line] = pending.top();
        pending.pop();
        fresh.clear();
        literal.assign(bg.predicate(line));
        literal += '(';
        bool first_arg = true;
        for (const std::uint32_t* a = bg.args_begin(line); a != bg.args_end(line); ++a) {
            const std::uint32_t id = *a & Background::kIdMask;
            const bool list = (*a & Background::kList) != 0;
            if (!first_arg) literal += ',';
            first_arg = false;
            if (!list && st.is_constant[id]) {
                literal += bg.terms().text(id);
            } else if (list || bg.kind(id) == text::ArgKind::Constant) {
                if (!st.known(id)) {
                    st.term_mark[id] = st.mark;
                    st.term_pos[id] = known_count++;
                    fresh.push_back(id);
                }
                literal += st.name(st.term_pos[id]);
            } else {
                literal += bg.terms().text(id);  // numbers and upper-case texts stay
            }
        }
        literal += ')';
        if (seen.insert(literal).second) clauses.push_back(literal);
        for (std::uint32_t id : fresh) learnt(id, pass, line);
    }
    return clauses;
}

data::BottomClauseSet BottomClauseBuilder::build_set(const std::vector<std::string>& examples,
                                                     long long depth, Progress& progress) {
    data::BottomClauseSet set;
    std::unordered_map<std::string_view, std::size_t> where;
    progress.start(examples.size(), "");
    for (const std::string& example : examples) {
        if (where.find(example) == where.end()) {
            where.emplace(example, set.keys.size());
            set.keys.push_back(example);
            set.clauses.push_back(build(example, depth));
        }
        progress.advance(1);
    }
    progress.finish();
    return set;
}

}  // namespace vantor::bottom
