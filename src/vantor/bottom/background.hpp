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

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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
        return {chars_.data() + (span >> 24), static_cast<std::size_t>(span & 0xFFFFFF)};
    }
    std::size_t size() const { return spans_.size(); }
    void shrink() {
        chars_.shrink_to_fit();
        spans_.shrink_to_fit();
    }

private:
    void grow();
    std::string chars_;
    std::vector<std::uint64_t> spans_;  // offset << 24 | length
    std::vector<std::uint64_t> slots_;  // 0 = empty, else hash << 32 | (id + 1)
};

// Term -> lines, in ascending line order.
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
    // Builds from (term, line) pairs given in ascending line order.
    static LineIndex build(std::size_t terms,
                           const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs);
};

class Background {
public:
    // One argument of a parsed line: term id plus two flags.
    static constexpr std::uint32_t kIdMask = 0x1FFFFFFFu;
    static constexpr std::uint32_t kConstant = 0x20000000u;  // a text of kind "constant"
    static constexpr std::uint32_t kFindable = 0x40000000u;  // occurs in its line's text
    static constexpr std::uint32_t kList = 0x80000000u;      // a nested-list argument

    // Reads `path` with the background-file rule (split, drop empty lines,
    // trim).
    static std::unique_ptr<Background> from_file(const std::string& path);
    // Lines used exactly as given.
    static std::unique_ptr<Background> from_lines(std::vector<std::string> lines);

    // Term texts point into the object's own buffers: it stays in place.
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    std::size_t line_count() const { return line_pred_.size(); }
    const Interner& terms() const { return terms_; }
    text::ArgKind kind(std::uint32_t term) const { return static_cast<text::ArgKind>(kinds_[term]); }

    std::string_view predicate(std::uint32_t line) const { return predicates_.text(line_pred_[line]); }
    const std::uint32_t* args_begin(std::uint32_t line) const { return entries_.data() + line_begin_[line]; }
    const std::uint32_t* args_end(std::uint32_t line) const { return entries_.data() + line_begin_[line + 1]; }
    // The line can be taken through at least one argument.
    bool reachable(std::uint32_t line) const { return reachable_[line] != 0; }

    // Reachable lines by first argument.
    const LineIndex& by_first() const { return by_first_; }
    // Reachable lines whose first argument is not findable, by every
    // findable argument: they need their first argument known and another
    // argument known, in either order.
    const LineIndex& late_by_findable() const { return late_; }

    // Reachable lines by every findable argument (each line once per term);
    // `keep` selects the lines (a per-call choice such as "first argument is
    // a constant-set member").
    template <class Keep>
    LineIndex by_findable(Keep keep) const;

private:
    Background() = default;
    void add_line(std::string_view line);
    std::uint32_t add_term(std::string_view text);
    std::uint32_t constant_flag(std::uint32_t id) const;
    void finish();

    Interner terms_;
    std::vector<std::uint8_t> kinds_;
    Interner predicates_;

    std::vector<std::uint32_t> line_pred_;
    std::vector<std::uint32_t> line_begin_;  // size lines + 1
    std::vector<std::uint32_t> entries_;
    std::vector<std::uint8_t> reachable_;

    LineIndex by_first_;
    LineIndex late_;
};

template <class Keep>
LineIndex Background::by_findable(Keep keep) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    for (std::uint32_t line = 0; line < line_count(); ++line) {
        if (!reachable(line) || !keep(line)) continue;
        const std::uint32_t* b = args_begin(line);
        const std::uint32_t* e = args_end(line);
        for (const std::uint32_t* a = b; a != e; ++a) {
            if (!(*a & kFindable)) continue;
            bool repeated = false;
            for (const std::uint32_t* p = b; p != a; ++p) {
                repeated = repeated || (((*p ^ *a) & kIdMask) == 0 && (*p & kFindable));
            }
            if (!repeated) pairs.emplace_back(*a & kIdMask, line);
        }
    }
    return LineIndex::build(terms_.size(), pairs);
}

}  // namespace vantor::bottom
