#include "learn/example_values.hpp"

#include <algorithm>
#include <cstdlib>

#include "learn/refinement.hpp"

namespace vantor::learn {

namespace {

bool number_of(const std::string& term, double& value) {
    if (term.empty()) return false;
    char* end = nullptr;
    value = std::strtod(term.c_str(), &end);
    return end == term.c_str() + term.size();
}

}  // namespace

ExampleValues::Readings ExampleValues::read(const std::vector<std::string>& bottom_clause, const ColumnTypes& columns) {
    Readings mine;
    for (const std::string& text : bottom_clause) {
        const Literal literal = parse_literal(text);
        for (std::size_t p = 0; p < literal.args.size(); ++p) {
            double value = 0;
            if (columns.column(literal.name, literal.args.size(), p).kind != ColumnKind::number ||
                !number_of(literal.args[p], value)) {
                continue;
            }
            const std::string key = literal.name + "/" + std::to_string(literal.args.size()) + "/" + std::to_string(p);
            auto [at, fresh] = mine.try_emplace(key, Range{value, value, literal.args[p], literal.args[p]});
            if (fresh) continue;
            if (value < at->second.low) at->second.low = value, at->second.low_text = literal.args[p];
            if (value > at->second.high) at->second.high = value, at->second.high_text = literal.args[p];
        }
    }
    return mine;
}

std::vector<std::string> ExampleValues::cuts(const std::string& column_key, const std::vector<std::uint32_t>& examples,
                                             bool at_least, std::size_t count) const {
    std::vector<std::pair<double, const std::string*>> seen;
    for (std::uint32_t e : examples) {
        if (e >= values_.size()) continue;
        const auto at = values_[e]->find(column_key);
        if (at == values_[e]->end()) continue;
        const Range& r = at->second;
        seen.emplace_back(at_least ? r.high : r.low, at_least ? &r.high_text : &r.low_text);
    }
    std::sort(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    seen.erase(std::unique(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
               seen.end());
    std::vector<std::string> out;
    if (seen.empty() || count == 0) return out;
    const std::size_t n = std::min(count, seen.size());
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = n == 1 ? 0 : k * (seen.size() - 1) / (n - 1);
        if (out.empty() || out.back() != *seen[i].second) out.push_back(*seen[i].second);
    }
    return out;
}

}  // namespace vantor::learn
