// A background file parsed once and indexed for bottom-clause building.
//
// Whether a fact can enter a bottom clause depends on two things only: its
// first argument (known or a constant-set member) and which of its arguments
// are "findable". A known term reaches a fact only if it equals one of the
// fact's arguments exactly AND occurs in the fact's line as a substring; an
// argument the parser rebuilt (blanks dropped, nested-list text) may fail the
// second test, and then the fact cannot be reached through it. Both facts
// are fixed per line, so they are computed here once and the per-example
// work becomes lookups in term -> lines indexes instead of text scans.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bottom/odd_lines.hpp"
#include "text/clause.hpp"

namespace vantor::bottom {

// Texts -> dense ids. The texts are copied into one compact buffer: lookups
// then touch a few cache lines instead of the whole file.
class Interner {
public:
    static constexpr std::uint32_t npos = 0xFFFFFFFFu;

    std::uint32_t intern(std::string_view s);  // adds when absent
    std::uint32_t find(std::string_view s) const;
    std::string_view text(std::uint32_t id) const {
        const std::uint64_t span = spans_[id];
        return {chars_.data() + (span >> 32), static_cast<std::size_t>(span & 0xFFFFFFFFu)};
    }
    std::size_t size() const { return spans_.size(); }
    void shrink() {
        chars_.shrink_to_fit();
        spans_.shrink_to_fit();
    }

private:
    void grow();
    std::string chars_;
    std::vector<std::uint64_t> spans_;  // offset << 32 | length
    std::vector<std::uint64_t> slots_;  // 0 = empty, else hash << 32 | (id + 1)
};

// Term -> values (line numbers or fact offsets), kept in the order given.
struct LineIndex {
    std::vector<std::uint32_t> offsets;  // per term id, size terms + 1 (empty when unused)
    std::vector<std::uint32_t> lines;

    struct Range {
        const std::uint32_t* b;
        const std::uint32_t* e;
        const std::uint32_t* begin() const { return b; }
        const std::uint32_t* end() const { return e; }
    };
    Range of(std::uint32_t term) const {
        if (term + 1 >= offsets.size()) return {nullptr, nullptr};
        return {lines.data() + offsets[term], lines.data() + offsets[term + 1]};
    }
    // Builds from (term, value) pairs; each term keeps its values in the given order.
    static LineIndex build(std::size_t terms,
                           const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs);
};

// Every fact by every findable argument: fact offsets and, in parallel, the
// facts' line numbers.
struct AnyPositionIndex {
    LineIndex facts;
    LineIndex lines;
};

class Background {
public:
    // One argument of a parsed line: term id plus flags.
    static constexpr std::uint32_t kIdMask = 0x1FFFFFFFu;
    static constexpr std::uint32_t kConstant = 0x20000000u;  // a text of kind "constant"
    static constexpr std::uint32_t kFindable = 0x40000000u;  // occurs in its line's text
    static constexpr std::uint32_t kList = 0x80000000u;      // a nested-list argument
    static constexpr std::uint32_t kNoFact = 0xFFFFFFFFu;

    // A line that can be taken through at least one argument. Facts are
    // stored grouped by first argument: the facts a newly known term opens
    // up lie side by side in memory.
    struct Fact {
        const std::uint32_t* p;  // line, predicate id, arity, arguments...
        std::uint32_t line() const { return p[0]; }
        std::uint32_t predicate() const { return p[1]; }
        const std::uint32_t* begin() const { return p + 3; }
        const std::uint32_t* end() const { return p + 3 + p[2]; }
        std::uint32_t first() const { return p[3]; }
        std::uint32_t size() const { return 3 + p[2]; }  // in the fact table
    };

    // Reads `path` with the background-file rule (split, drop empty lines,
    // trim). Comment lines ("%" first) are kept as lines but never taken.
    static std::unique_ptr<Background> from_file(const std::string& path);
    // Lines used exactly as given.
    static std::unique_ptr<Background> from_lines(std::vector<std::string> lines);

    // The lines the input check must look at, found during from_file's read
    // (none for given lines); handed over once.
    OddLines take_odd_lines() { return std::move(odd_lines_); }

    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    std::size_t line_count() const { return fact_of_line_.size(); }
    const Interner& terms() const { return terms_; }
    // The term reads as a number (digits or a floating-point text).
    bool numeric(std::uint32_t id) const {
        return kinds_[id] == static_cast<std::uint8_t>(text::ArgKind::Numeric);
    }
    std::string_view predicate(std::uint32_t id) const { return predicates_.text(id); }
    std::size_t predicate_count() const { return predicates_.size(); }

    Fact fact(std::uint32_t offset) const { return Fact{facts_.data() + offset}; }
    // Offset of the line's fact, or kNoFact when the line cannot be taken.
    std::uint32_t fact_of_line(std::uint32_t line) const { return fact_of_line_[line]; }

    // The facts whose first argument is `term`: offsets [first, last), in
    // line order, walked with Fact::size().
    std::pair<std::uint32_t, std::uint32_t> facts_by_first(std::uint32_t term) const {
        if (term + 1 >= first_.size()) return {0, 0};
        return {first_[term], first_[term + 1]};
    }
    // Facts whose first argument is not findable, by every findable
    // argument (fact offsets): they need their first argument known and
    // another argument known, in either order.
    const LineIndex& late_by_findable() const { return late_; }

    // Every fact by every findable argument: the facts a newly known term
    // reaches when any argument position may connect a fact. Built on first
    // use, since the first-argument rule never needs it.
    const AnyPositionIndex& all_by_findable() const;

    // Facts by every findable argument (each fact once per term); `keep`
    // selects the facts (a per-call choice such as "first argument is a
    // constant-set member"). The index holds fact offsets.
    template <class Keep>
    LineIndex by_findable(Keep keep) const;

private:
    Background() { recent_predicates_.fill(Interner::npos); }
    void add_line(std::string_view line);
    std::uint32_t add_term(std::string_view text);
    std::uint32_t predicate_id(std::string_view name);
    std::uint32_t constant_flag(std::uint32_t id) const;
    // After the last add_line: regroup the parsed lines into the fact table.
    void finish();
    const std::uint32_t* args_begin(std::uint32_t line) const { return entries_.data() + line_begin_[line]; }
    const std::uint32_t* args_end(std::uint32_t line) const { return entries_.data() + line_begin_[line + 1]; }
    // A line can be taken through at least one of its arguments.
    bool reachable(std::uint32_t line) const;
    // Sizes first_ and marks the reachable lines; returns the table size.
    std::size_t size_fact_groups();
    void place_facts(std::size_t total);

    Interner terms_;
    std::vector<std::uint8_t> kinds_;  // per term: its text::ArgKind
    Interner predicates_;
    std::array<std::uint32_t, 64> recent_predicates_;  // see predicate_id

    // Parsed lines, in file order, until finish() regroups them.
    std::vector<std::uint32_t> line_pred_;
    std::vector<std::uint32_t> line_begin_;
    std::vector<std::uint32_t> entries_;

    std::vector<std::uint32_t> facts_;
    std::vector<std::uint32_t> first_;  // per term: offset of its first fact; size terms + 1
    std::vector<std::uint32_t> fact_of_line_;
    LineIndex late_;
    mutable std::unique_ptr<AnyPositionIndex> all_;
    OddLines odd_lines_;
};

// Each findable term of a fact, once.
template <class Visit>
void for_each_findable(Background::Fact f, Visit visit) {
    for (const std::uint32_t* a = f.begin(); a != f.end(); ++a) {
        if (!(*a & Background::kFindable)) continue;
        bool repeated = false;
        for (const std::uint32_t* p = f.begin(); p != a; ++p) {
            repeated = repeated || (((*p ^ *a) & Background::kIdMask) == 0 && (*p & Background::kFindable));
        }
        if (!repeated) visit(*a & Background::kIdMask);
    }
}

template <class Keep>
LineIndex Background::by_findable(Keep keep) const {
    // Pairs in line order, so that each term's list is in line order too.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    for (std::uint32_t line = 0; line < line_count(); ++line) {
        const std::uint32_t offset = fact_of_line_[line];
        if (offset == kNoFact || !keep(fact(offset))) continue;
        for_each_findable(fact(offset), [&](std::uint32_t term) { pairs.emplace_back(term, offset); });
    }
    return LineIndex::build(terms_.size(), pairs);
}

}  // namespace vantor::bottom
