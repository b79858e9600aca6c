#include "eval/fact_store.hpp"

#include <algorithm>
#include <cstring>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vantor::eval::facts {

std::uint32_t TermTable::add(Kind kind, std::int64_t i, double r) {
    kinds_.push_back(kind);
    integers_.push_back(i);
    reals_.push_back(r);
    return static_cast<std::uint32_t>(kinds_.size() - 1);
}

std::uint32_t TermTable::intern(const Argument& a) {
    switch (a.kind) {
        case Argument::integer: {
            auto [it, added] = integers_by_value_.try_emplace(a.integer_value, 0);
            if (added) it->second = add(integer, a.integer_value, static_cast<double>(a.integer_value));
            return it->second;
        }
        case Argument::real: {
            std::uint64_t bits = 0;
            std::memcpy(&bits, &a.real_value, sizeof bits);
            auto [it, added] = reals_by_bits_.try_emplace(bits, 0);
            if (added) it->second = add(real, 0, a.real_value);
            return it->second;
        }
        default: {
            auto [it, added] = atoms_.try_emplace(a.name, 0);
            if (added) it->second = add(atom, 0, 0.0);
            return it->second;
        }
    }
}

std::uint64_t bound_key(const std::uint32_t* values, std::size_t arity, std::uint64_t mask) {
    std::uint64_t h = 0x9E3779B97F4A7C15ULL;
    for (std::size_t k = 0; k < arity; ++k) {
        if (!(mask >> k & 1)) continue;
        h ^= values[k] + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
        h *= 0xBF58476D1CE4E5B9ULL;
    }
    return h ^ (h >> 31);
}

const FactIndex& Predicate::index_for(std::uint64_t mask) {
    auto at = by_mask.find(mask);
    if (at == by_mask.end()) {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> entries;
        entries.reserve(count);
        for (std::uint32_t f = 0; f < count; ++f) {
            entries.emplace_back(bound_key(args.data() + static_cast<std::size_t>(f) * arity, arity, mask), f);
        }
        at = by_mask.emplace(mask, FactIndex(std::move(entries))).first;
    }
    return at->second;
}

std::string indicator(const std::string& name, std::size_t arity) { return name + "/" + std::to_string(arity); }

std::optional<FactSet> FactSet::from(const std::vector<ParsedClause>& clauses, TermTable& terms) {
    FactSet out;
    for (const ParsedClause& c : clauses) {
        if (c.has_body) return std::nullopt;
        Predicate& p = out.predicates_[indicator(c.head.name, c.head.args.size())];
        p.arity = c.head.args.size();
        ++p.count;
        for (const Argument& a : c.head.args) {
            if (a.kind == Argument::variable) return std::nullopt;
            p.args.push_back(terms.intern(a));
        }
    }
    for (auto& [key, p] : out.predicates_) {
        for (std::size_t k = 0; k < p.arity; ++k) {
            std::vector<std::pair<std::uint64_t, std::uint32_t>> entries;
            entries.reserve(p.count);
            for (std::uint32_t f = 0; f < p.count; ++f) entries.emplace_back(p.args[f * p.arity + k], f);
            p.index.emplace_back(std::move(entries));
        }
    }
    return out;
}

namespace {

struct CacheEntry {
    std::string path;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    std::string text;
    bool filled = false;
    std::shared_ptr<Background> facts;
    std::vector<std::shared_ptr<Background>> spares;  // copies for threads proving at once
    std::size_t spares_being_read = 0;
};

std::optional<std::string> read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return std::move(text).str();
}

std::shared_ptr<Background> parse_background(const std::string& text) {
    const std::optional<std::vector<ParsedClause>> clauses = read_clauses(text);
    if (!clauses) return nullptr;
    auto out = std::make_shared<Background>();
    std::optional<FactSet> facts = FactSet::from(*clauses, out->terms);
    if (!facts) return nullptr;
    out->facts = std::move(*facts);
    return out;
}

std::mutex guard;
CacheEntry cached;

}  // namespace

std::shared_ptr<Background> background_facts(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return nullptr;
    const auto modified = std::filesystem::last_write_time(path, error);
    if (error) return nullptr;
    std::lock_guard<std::mutex> lock(guard);
    if (cached.path == path && cached.size == size && cached.modified == modified) return cached.facts;
    std::optional<std::string> text = read_text(path);
    if (!text) return nullptr;
    // A copy of the same text (a learner's private copy of its background)
    // keeps the facts read before and what the engine said of them.
    if (!cached.filled || *text != cached.text) {
        cached.facts = parse_background(*text);
        cached.spares.clear();
        cached.spares_being_read = 0;
    }
    cached.filled = true;
    cached.path = path;
    cached.size = size;
    cached.modified = modified;
    cached.text = std::move(*text);
    return cached.facts;
}

BackgroundLease lease_background_facts(const std::string& path) {
    std::shared_ptr<Background> kept = background_facts(path);
    if (!kept) return {};
    std::unique_lock<std::mutex> free(kept->busy, std::try_to_lock);
    if (free) return {kept, std::move(free)};
    std::string text;
    {
        std::lock_guard<std::mutex> lock(guard);
        if (cached.facts == kept) {
            for (const std::shared_ptr<Background>& spare : cached.spares) {
                std::unique_lock<std::mutex> idle(spare->busy, std::try_to_lock);
                if (idle) return {spare, std::move(idle)};
            }
            const std::size_t cores = std::max(2u, std::thread::hardware_concurrency());
            if (cached.spares.size() + cached.spares_being_read + 1 < cores) {
                text = cached.text;
                ++cached.spares_being_read;
            }
        }
    }
    if (text.empty()) return {kept, std::unique_lock<std::mutex>(kept->busy)};
    // Read outside the guard: other threads keep proving meanwhile.
    std::shared_ptr<Background> spare = parse_background(text);
    std::unique_lock<std::mutex> mine;
    if (spare) {
        spare->engine_loads = kept->engine_loads.load();
        mine = std::unique_lock<std::mutex>(spare->busy);
    }
    {
        std::lock_guard<std::mutex> lock(guard);
        if (cached.facts == kept) {
            --cached.spares_being_read;
            if (spare) cached.spares.push_back(spare);
        }
    }
    if (!spare) return {kept, std::unique_lock<std::mutex>(kept->busy)};
    return {spare, std::move(mine)};
}

}  // namespace vantor::eval::facts
