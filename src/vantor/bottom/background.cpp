#include "bottom/background.hpp"

#include <functional>

#include "data/files.hpp"
#include "host.hpp"
#include "text/pystr.hpp"

namespace vantor::bottom {

namespace {
std::uint64_t hash_of(std::string_view s) {
    const std::size_t h = std::hash<std::string_view>{}(s);
    return (h ^ (h >> 32)) & 0xFFFFFFFFu;
}

// Bytes that send a line to the full parser: blanks and list brackets (and
// "$", which the parser gives a meaning of its own).
struct SpecialBytes {
    bool table[256] = {};
    SpecialBytes() {
        for (unsigned char c : std::string_view(" []$")) table[c] = true;
    }
};
const SpecialBytes kSpecial;

bool plain_line(std::string_view line) {
    for (unsigned char c : line) {
        if (kSpecial.table[c]) return false;
    }
    return true;
}
}  // namespace

std::uint32_t Interner::find(std::string_view s) const {
    if (slots_.empty()) return npos;
    const std::uint64_t h = hash_of(s);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
        const std::uint64_t slot = slots_[i];
        if (slot == 0) return npos;
        if ((slot >> 32) == h) {
            const auto id = static_cast<std::uint32_t>(slot - 1);
            if (text(id) == s) return id;
        }
    }
}

std::uint32_t Interner::intern(std::string_view s) {
    if ((spans_.size() + 1) * 2 > slots_.size()) grow();
    const std::uint64_t h = hash_of(s);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = h & mask;
    for (;; i = (i + 1) & mask) {
        const std::uint64_t slot = slots_[i];
        if (slot == 0) break;
        if ((slot >> 32) == h) {
            const auto id = static_cast<std::uint32_t>(slot - 1);
            if (text(id) == s) return id;
        }
    }
    if (spans_.size() >= Background::kIdMask || chars_.size() + s.size() >= (std::uint64_t{1} << 32)) {
        throw std::length_error("background file too large: over 4 GB of distinct terms");
    }
    const auto id = static_cast<std::uint32_t>(spans_.size());
    spans_.push_back((static_cast<std::uint64_t>(chars_.size()) << 32) | s.size());
    chars_.append(s);
    slots_[i] = (h << 32) | (std::uint64_t{id} + 1);
    return id;
}

void Interner::grow() {
    std::vector<std::uint64_t> slots(slots_.empty() ? 64 : slots_.size() * 2, 0);
    const std::size_t mask = slots.size() - 1;
    for (const std::uint64_t slot : slots_) {
        if (slot == 0) continue;
        std::size_t i = (slot >> 32) & mask;
        while (slots[i] != 0) i = (i + 1) & mask;
        slots[i] = slot;
    }
    slots_.swap(slots);
}

LineIndex LineIndex::build(std::size_t terms,
                           const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs) {
    LineIndex index;
    if (pairs.empty()) return index;
    index.offsets.assign(terms + 1, 0);
    for (const auto& [term, line] : pairs) ++index.offsets[term + 1];
    for (std::size_t t = 0; t < terms; ++t) index.offsets[t + 1] += index.offsets[t];
    index.lines.resize(pairs.size());
    std::vector<std::uint32_t> fill(index.offsets.begin(), index.offsets.end() - 1);
    for (const auto& [term, line] : pairs) index.lines[fill[term]++] = line;
    return index;
}

std::unique_ptr<Background> Background::from_file(const std::string& path) {
    std::unique_ptr<Background> bg(new Background());
    {
        // Terms are copied out of the text: it goes before the regrouping.
        const std::string content = data::read_text_file(path);
        // Enough candidates for any checker that stops at the first real
        // problem; it reads the file itself in the rare case of more.
        bg->odd_lines_ = find_odd_lines(content, 4096);
        const std::vector<std::string_view> lines = data::background_lines(content);
        bg->line_pred_.reserve(lines.size());
        bg->line_begin_.reserve(lines.size() + 1);
        bg->entries_.reserve(lines.size() * 2);
        for (std::string_view line : lines) bg->add_line(line);
    }
    bg->finish();
    return bg;
}

std::unique_ptr<Background> Background::from_lines(std::vector<std::string> lines) {
    std::unique_ptr<Background> bg(new Background());
    bg->line_pred_.reserve(lines.size());
    bg->line_begin_.reserve(lines.size() + 1);
    for (const std::string& line : lines) bg->add_line(line);
    bg->finish();
    return bg;
}

std::uint32_t Background::add_term(std::string_view text) {
    const std::size_t before = terms_.size();
    const std::uint32_t id = terms_.intern(text);
    if (terms_.size() != before) kinds_.push_back(static_cast<std::uint8_t>(text::argument_kind(text)));
    return id;
}

std::uint32_t Background::predicate_id(std::string_view name) {
    // A file names a handful of predicates on every line: a small table by
    // length and first and last byte answers most lines with one compare.
    if (name.empty()) return predicates_.intern(name);
    const std::size_t slot = (name.size() * 31 + static_cast<unsigned char>(name.front()) * 7 +
                              static_cast<unsigned char>(name.back())) % recent_predicates_.size();
    std::uint32_t& id = recent_predicates_[slot];
    if (id == Interner::npos || predicates_.text(id) != name) id = predicates_.intern(name);
    return id;
}

std::uint32_t Background::constant_flag(std::uint32_t id) const {
    return kinds_[id] == static_cast<std::uint8_t>(text::ArgKind::Constant) ? kConstant : 0;
}

void Background::add_line(std::string_view line) {
    line_begin_.push_back(static_cast<std::uint32_t>(entries_.size()));
    // Prolog reads a "%" line as a comment: its text must not become a fact
    // of a predicate named "%..." (a rule using one would read as a comment).
    // With no arguments the line can never be taken.
    if (data::comment_line(line)) {
        line_pred_.push_back(predicates_.intern(""));
        return;
    }
    // Lines without blanks or brackets (nearly all facts) are split in place:
    // that is all the full parser would do with them.
    if (plain_line(line)) {
        const std::size_t open = line.find('(');
        if (open == std::string_view::npos) {
            line_pred_.push_back(predicates_.intern(line));
            return;
        }
        line_pred_.push_back(predicate_id(line.substr(0, open)));
        std::string_view rest = text::strip(line.substr(open + 1));
        rest = rest.substr(0, rest.find(')'));
        std::size_t start = 0;
        while (start <= rest.size()) {
            std::size_t comma = rest.find(',', start);
            if (comma == std::string_view::npos) comma = rest.size();
            if (comma > start) {
                const std::uint32_t id = add_term(rest.substr(start, comma - start));
                entries_.push_back(id | kFindable | constant_flag(id));
            }
            start = comma + 1;
        }
        return;
    }
    const text::Clause clause(line);
    line_pred_.push_back(predicates_.intern(clause.predicate));
    for (const text::Arg& arg : clause.args()) {
        const std::string key = arg.is_list ? text::list_key(arg.items) : arg.text;
        std::uint32_t entry = add_term(key);
        entry |= arg.is_list ? kList : constant_flag(entry);
        if (line.find(key) != std::string_view::npos) entry |= kFindable;
        entries_.push_back(entry);
    }
}

bool Background::reachable(std::uint32_t line) const {
    for (const std::uint32_t* a = args_begin(line); a != args_end(line); ++a) {
        if (*a & kFindable) return true;
    }
    return false;
}

std::size_t Background::size_fact_groups() {
    // Group sizes by first argument, as offsets after the prefix sum below
    // (a counting sort: line order is kept within a group).
    first_.assign(terms_.size() + 1, 0);
    fact_of_line_.assign(line_pred_.size(), kNoFact);
    std::size_t total = 0;
    for (std::uint32_t line = 0; line < line_pred_.size(); ++line) {
        if (!reachable(line)) continue;
        const std::size_t size = 3 + static_cast<std::size_t>(args_end(line) - args_begin(line));
        first_[(*args_begin(line) & kIdMask) + 1] += static_cast<std::uint32_t>(size);
        total += size;
        fact_of_line_[line] = 0;  // reachable; the offset comes in place_facts
    }
    if (total >= kNoFact) throw std::length_error("background file has too many facts");
    for (std::size_t t = 0; t + 1 < first_.size(); ++t) first_[t + 1] += first_[t];
    return total;
}

void Background::place_facts(std::size_t total) {
    facts_.resize(total);
    std::vector<std::uint32_t> fill(first_.begin(), first_.end() - 1);
    for (std::uint32_t line = 0; line < line_pred_.size(); ++line) {
        if (fact_of_line_[line] == kNoFact) continue;
        std::uint32_t& at = fill[*args_begin(line) & kIdMask];
        fact_of_line_[line] = at;
        facts_[at++] = line;
        facts_[at++] = line_pred_[line];
        facts_[at++] = static_cast<std::uint32_t>(args_end(line) - args_begin(line));
        for (const std::uint32_t* a = args_begin(line); a != args_end(line); ++a) facts_[at++] = *a;
    }
}

void Background::finish() {
    line_begin_.push_back(static_cast<std::uint32_t>(entries_.size()));
    terms_.shrink();
    predicates_.shrink();
    place_facts(size_fact_groups());
    // The per-line parse is now held in the fact table.
    std::vector<std::uint32_t>().swap(line_pred_);
    std::vector<std::uint32_t>().swap(line_begin_);
    std::vector<std::uint32_t>().swap(entries_);
    kinds_.shrink_to_fit();
    late_ = by_findable([](Fact f) { return !(f.first() & kFindable); });
}

const AnyPositionIndex& Background::all_by_findable() const {
    if (all_) return *all_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> offsets, lines;
    for (std::uint32_t line = 0; line < line_count(); ++line) {
        const std::uint32_t offset = fact_of_line_[line];
        if (offset == kNoFact) continue;
        for_each_findable(fact(offset), [&](std::uint32_t term) {
            offsets.emplace_back(term, offset);
            lines.emplace_back(term, line);
        });
    }
    all_ = std::make_unique<AnyPositionIndex>();
    all_->facts = LineIndex::build(terms_.size(), offsets);
    all_->lines = LineIndex::build(terms_.size(), lines);
    return *all_;
}

}  // namespace vantor::bottom
