#include "learn/refinement.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <unordered_set>

#include "bottom/variables.hpp"
#include "host.hpp"
#include "text/clause.hpp"

namespace vantor::learn {

namespace {

bool contains(const std::vector<std::string>& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

std::string slot_name(std::size_t literal, std::size_t position) {
    return "Q" + std::to_string(literal) + "_" + std::to_string(position);
}

// The literal with the variables outside `known` renamed in order of
// appearance: two literals with the same alias key say the same about a
// clause that holds `known`.
std::string alias_key(const Literal& literal, const std::vector<std::string>& known) {
    std::vector<std::string> fresh;
    std::string key = literal.name + "(";
    for (const std::string& arg : literal.args) {
        if (written_as_variable(arg) && !contains(known, arg)) {
            auto at = std::find(fresh.begin(), fresh.end(), arg);
            if (at == fresh.end()) at = fresh.insert(fresh.end(), arg);
            key += "_" + std::to_string(at - fresh.begin());
        } else {
            key += arg;
        }
        key += ",";
    }
    return key;
}

// Clause plus one literal: links and slots updated.
Clause with_literal(const Clause& clause, Literal literal, std::vector<std::string> new_links,
                    std::vector<Slot> new_slots) {
    Clause out = clause;
    for (Slot& s : new_slots) {
        s.literal = static_cast<std::uint32_t>(out.body.size());
        out.slots.push_back(std::move(s));
    }
    for (std::string& v : new_links) {
        if (!contains(out.links, v)) out.links.push_back(std::move(v));
    }
    out.body.push_back(std::move(literal));
    return out;
}

Literal test_literal(const std::string& var, bool at_least, const std::string& cut) {
    return {at_least ? ">=" : "=<", {var, cut}};
}

Clause bound(const Clause& clause, std::size_t slot, const std::string& value) {
    Clause out = clause;
    Slot& s = out.slots[slot];
    for (std::string& arg : out.body[s.literal].args) {
        if (arg == s.var) arg = value;
    }
    s.bound = true;
    return out;
}

Clause tested(const Clause& clause, std::size_t slot, bool at_least, const std::string& cut) {
    Clause out = clause;
    (at_least ? out.slots[slot].tested_ge : out.slots[slot].tested_le) = true;
    out.body.push_back(test_literal(out.slots[slot].var, at_least, cut));
    return out;
}

class Refiner {
public:
    Refiner(const Clause& clause, const Seed& seed, const RefineSettings& settings)
        : clause_(clause), seed_(seed), settings_(settings) {}

    std::vector<Clause> run() {
        const std::size_t room = settings_.max_literals > clause_.length() ? settings_.max_literals - clause_.length() : 0;
        if (room == 0) return std::move(out_);
        for (std::size_t i = 0; i < seed_.bottom.size(); ++i) add_bottom_literal(i, room);
        tests_and_bindings();
        if (settings_.recursive && !clause_.calls_target) target_calls();
        return std::move(out_);
    }

private:
    // What the literal's new object variables lead to: the other bottom
    // literals holding them, written with those variables marked and every
    // argument the clause does not hold blanked.
    std::string continuation(std::size_t literal, const std::vector<std::string>& new_links) const {
        std::vector<std::string> parts;
        for (std::size_t k = 0; k < new_links.size(); ++k) {
            const auto at = seed_.literals_of.find(new_links[k]);
            if (at == seed_.literals_of.end()) continue;
            for (std::uint32_t j : at->second) {
                if (j == literal) continue;
                const SeedLiteral& other = seed_.bottom[j];
                std::string text = std::to_string(k) + ":" + other.name + "(";
                for (const TypedArgument& a : other.args) {
                    if (a.text == new_links[k]) text += "@";
                    else if (a.kind == ColumnKind::object && (!a.variable || contains(clause_.links, a.text))) text += a.text;
                    else if (a.kind == ColumnKind::object) text += "_";
                    else text += "#";
                    text += ",";
                }
                parts.push_back(std::move(text));
            }
        }
        std::sort(parts.begin(), parts.end());
        std::string out;
        for (const std::string& p : parts) out += p + ";";
        return out;
    }

    std::vector<std::string> cuts_for(const Slot& slot, bool at_least) const {
        if (settings_.cuts) {
            std::vector<std::string> cuts = settings_.cuts(slot.column_key, at_least);
            if (!cuts.empty()) return cuts;
        }
        return slot.column->values;
    }

    void emit(Clause c, const std::string& alias) {
        if (!alias.empty() && !aliases_.insert(alias).second) return;
        out_.push_back(std::move(c));
    }

    void add_bottom_literal(std::size_t i, std::size_t room) {
        if (std::binary_search(clause_.used.begin(), clause_.used.end(), static_cast<std::uint32_t>(i))) return;
        const SeedLiteral& source = seed_.bottom[i];
        Literal literal{source.name, {}};
        std::vector<std::string> links;
        std::vector<Slot> slots;
        bool linked = false;
        for (std::size_t p = 0; p < source.args.size(); ++p) {
            const TypedArgument& a = source.args[p];
            const bool slot = a.kind == ColumnKind::number || (a.kind == ColumnKind::attribute && a.variable);
            if (slot) {
                Slot& s = slots.emplace_back();
                s.var = slot_name(i, p);
                s.column_key = source.name + "/" + std::to_string(source.args.size()) + "/" + std::to_string(p);
                s.kind = a.kind;
                s.column = a.column;
                if (a.kind == ColumnKind::number && !a.variable) s.seed_value = a.text;
                literal.args.push_back(slots.back().var);
                continue;
            }
            literal.args.push_back(a.text);
            if (!a.variable) continue;
            if (contains(clause_.links, a.text)) linked = true;
            else links.push_back(a.text);
        }
        if (!linked) return;
        const std::string alias = alias_key(literal, clause_.links) + "|" + continuation(i, links);
        if (!aliases_.insert(alias).second) return;
        Clause grown = with_literal(clause_, literal, links, slots);
        grown.used.insert(std::upper_bound(grown.used.begin(), grown.used.end(), static_cast<std::uint32_t>(i)),
                          static_cast<std::uint32_t>(i));
        // Lookahead: the literal with one of its attributes bound, or with a
        // test on one of its numbers.
        const std::size_t first = grown.slots.size() - slots.size();
        for (std::size_t s = first; s < grown.slots.size(); ++s) {
            const Slot& slot = grown.slots[s];
            if (slot.kind == ColumnKind::attribute) {
                for (const std::string& v : slot.column->values) out_.push_back(bound(grown, s, v));
                continue;
            }
            if (!slot.seed_value.empty()) out_.push_back(bound(grown, s, slot.seed_value));
            if (room >= 2) {
                for (bool at_least : {true, false}) {
                    for (const std::string& cut : cuts_for(slot, at_least)) out_.push_back(tested(grown, s, at_least, cut));
                }
            }
        }
        out_.push_back(std::move(grown));
    }

    // Binds an attribute of the last literal, or a number of it to the
    // seed's value; tests a number of any literal.
    void tests_and_bindings() {
        for (std::size_t s = 0; s < clause_.slots.size(); ++s) {
            const Slot& slot = clause_.slots[s];
            if (slot.kind == ColumnKind::attribute) {
                if (slot.bound || slot.literal + 1 != clause_.length()) continue;
                for (const std::string& v : slot.column->values) out_.push_back(bound(clause_, s, v));
                continue;
            }
            if (slot.bound) continue;
            const bool last = slot.literal + 1 == clause_.length();
            if (last && !slot.tested_ge && !slot.tested_le && !slot.seed_value.empty()) {
                out_.push_back(bound(clause_, s, slot.seed_value));
            }
            for (bool at_least : {true, false}) {
                if (at_least ? slot.tested_ge : slot.tested_le) continue;
                for (const std::string& cut : cuts_for(slot, at_least)) out_.push_back(tested(clause_, s, at_least, cut));
            }
        }
    }

    // Calls of the target over the clause's object variables, at least one
    // of them from the body: a call over the head's variables alone (such
    // as p(B,A) for p(A,B)) is answered by the positives themselves and
    // only restates them. A new variable in a call would be answered by any
    // positive at all, so there is none.
    void target_calls() {
        const std::vector<std::string>& pool = clause_.links;
        const std::size_t arity = seed_.head.args.size();
        if (pool.empty() || arity == 0) return;
        std::vector<std::size_t> pick(arity, 0);
        while (true) {
            Literal call{seed_.head.name, {}};
            for (std::size_t k : pick) call.args.push_back(pool[k]);
            const bool inner = std::any_of(call.args.begin(), call.args.end(), [&](const std::string& a) {
                return !contains(seed_.head.args, a);
            });
            if (inner) {
                Clause c = with_literal(clause_, call, {}, {});
                c.calls_target = true;
                emit(std::move(c), alias_key(call, clause_.links));
            }
            std::size_t d = 0;
            while (d < arity && ++pick[d] == pool.size()) pick[d++] = 0;
            if (d == arity) break;
        }
    }

    const Clause& clause_;
    const Seed& seed_;
    const RefineSettings& settings_;
    std::vector<Clause> out_;
    std::unordered_set<std::string> aliases_;
};

}  // namespace

bool written_as_variable(std::string_view term) {
    return !term.empty() && ((term.front() >= 'A' && term.front() <= 'Z') || term.front() == '_');
}

std::string Literal::text() const {
    if (args.empty()) return name;
    std::size_t size = name.size() + args.size() + 1;
    for (const std::string& a : args) size += a.size();
    std::string out;
    out.reserve(size);
    out += name;
    for (std::size_t i = 0; i < args.size(); ++i) {
        out += i ? ',' : '(';
        out += args[i];
    }
    out += ')';
    return out;
}

Literal parse_literal(std::string_view text) {
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.remove_suffix(1);
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos) return {std::string(text), {}};
    if (text.back() != ')') throw ValueError("not a literal: '" + std::string(text) + "'");
    Literal out{std::string(text.substr(0, open)), {}};
    for (std::string_view a : text::split_top_level(text.substr(open + 1, text.size() - open - 2), ",")) {
        out.args.emplace_back(a);
    }
    return out;
}

Literal seed_head(std::string_view example, const text::ConstantSet& constant) {
    Literal head = parse_literal(example);
    std::vector<std::pair<std::string, std::string>> seen;  // term -> its variable
    for (std::size_t p = 0; p < head.args.size(); ++p) {
        std::string& arg = head.args[p];
        if (constant.count(arg)) continue;
        const auto at = std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return s.first == arg; });
        if (at != seen.end()) {
            arg = at->second;
            continue;
        }
        seen.emplace_back(arg, bottom::variable_name(static_cast<long long>(p)));
        arg = seen.back().second;
    }
    return head;
}

Seed make_seed(std::string_view example, const std::vector<std::string>& bottom_clause,
               const text::ConstantSet& constant, const ColumnTypes& columns) {
    Seed seed;
    seed.head = seed_head(example, constant);
    for (const std::string& text : bottom_clause) {
        const Literal literal = parse_literal(text);
        SeedLiteral typed{literal.name, {}};
        for (std::size_t p = 0; p < literal.args.size(); ++p) {
            const Column& column = columns.column(literal.name, literal.args.size(), p);
            typed.args.push_back({literal.args[p], column.kind, written_as_variable(literal.args[p]), &column});
            if (column.kind == ColumnKind::object && typed.args.back().variable) {
                std::vector<std::uint32_t>& mine = seed.literals_of[literal.args[p]];
                const auto index = static_cast<std::uint32_t>(seed.bottom.size());
                if (mine.empty() || mine.back() != index) mine.push_back(index);
            }
        }
        seed.bottom.push_back(std::move(typed));
    }
    return seed;
}

Clause root_clause(const Seed& seed) {
    Clause root;
    for (const std::string& arg : seed.head.args) {
        if (written_as_variable(arg) && !contains(root.links, arg)) root.links.push_back(arg);
    }
    return root;
}

std::string Clause::key() const {
    std::vector<std::string> texts;
    for (const Literal& l : body) texts.push_back(l.text());
    std::sort(texts.begin(), texts.end());
    std::size_t size = texts.size();
    for (const std::string& t : texts) size += t.size();
    std::string out;
    out.reserve(size);
    for (const std::string& t : texts) {
        out += t;
        out += '&';
    }
    return out;
}

std::vector<Clause> refinements(const Clause& clause, const Seed& seed, const RefineSettings& settings) {
    return Refiner(clause, seed, settings).run();
}

std::string rule_text(const Literal& head, const Clause& clause) {
    std::map<std::string, std::string> names;
    auto rename = [&](const Literal& l) {
        Literal out = l;
        for (std::string& arg : out.args) {
            if (!written_as_variable(arg)) continue;
            auto [at, fresh] = names.try_emplace(arg, "");
            if (fresh) at->second = bottom::variable_name(static_cast<long long>(names.size() - 1));
            arg = at->second;
        }
        return out.text();
    };
    std::string out = rename(head) + ":-";
    if (clause.body.empty()) return out + "true";
    for (std::size_t i = 0; i < clause.body.size(); ++i) out += (i ? "," : "") + rename(clause.body[i]);
    return out;
}

}  // namespace vantor::learn
