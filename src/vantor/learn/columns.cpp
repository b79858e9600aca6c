#include "learn/columns.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <unordered_set>

#include "text/clause.hpp"

namespace vantor::learn {

namespace {

std::string key_of(std::string_view name, std::size_t arity, std::size_t position) {
    return std::string(name) + "/" + std::to_string(arity) + "/" + std::to_string(position);
}

bool number_of(std::string_view term, double& value) {
    if (term.empty()) return false;
    const std::string copy(term);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() + copy.size();
}

struct Tally {
    std::size_t facts = 0;
    bool numeric = true;
    std::vector<std::string> order;  // distinct values, first occurrence first
    std::unordered_set<std::string> seen;
    std::vector<double> numbers;
};

std::vector<std::string> cut_points(const Tally& tally, std::size_t cuts) {
    std::vector<std::pair<double, std::string>> values;
    for (const std::string& v : tally.order) {
        double x = 0;
        number_of(v, x);
        values.emplace_back(x, v);
    }
    std::sort(values.begin(), values.end());
    std::vector<std::string> out;
    if (values.size() < 2 || cuts == 0) return out;
    const std::size_t n = std::min(cuts, values.size() - 1);
    for (std::size_t k = 1; k <= n; ++k) {
        const std::string& v = values[k * (values.size() - 1) / (n + 1)].second;
        if (out.empty() || out.back() != v) out.push_back(v);
    }
    return out;
}

}  // namespace

ColumnTypes ColumnTypes::from_lines(const std::vector<std::string_view>& lines, std::size_t cuts) {
    std::unordered_map<std::string, Tally> tallies;
    std::unordered_map<std::string, std::size_t> facts_of;  // name/arity -> facts
    std::unordered_set<std::string> first_arguments;
    std::vector<std::string> keys;  // first-occurrence order, for a deterministic build
    for (std::string_view line : lines) {
        while (!line.empty() && (line.back() == '.' || line.back() == ' ' || line.back() == '\r')) line.remove_suffix(1);
        if (line.empty() || line.front() == '%' || line.find(":-") != std::string_view::npos) continue;
        const std::size_t open = line.find('(');
        if (open == std::string_view::npos || line.back() != ')') continue;
        const std::string_view name = line.substr(0, open);
        const std::vector<std::string_view> args = text::split_top_level(line.substr(open + 1, line.size() - open - 2), ",");
        ++facts_of[std::string(name) + "/" + std::to_string(args.size())];
        if (!args.empty()) first_arguments.emplace(args.front());
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string key = key_of(name, args.size(), i);
            auto [at, fresh] = tallies.try_emplace(key);
            if (fresh) keys.push_back(key);
            Tally& t = at->second;
            ++t.facts;
            double x = 0;
            t.numeric = t.numeric && number_of(args[i], x);
            if (t.seen.emplace(args[i]).second) t.order.emplace_back(args[i]);
        }
    }
    ColumnTypes out;
    for (const std::string& key : keys) {
        const Tally& t = tallies.at(key);
        const double limit = std::max(2.0, std::floor(std::sqrt(static_cast<double>(t.facts))));
        const bool few = static_cast<double>(t.order.size()) <= limit;
        Column column;
        if (t.numeric && !few) {
            column.kind = ColumnKind::number;
            column.values = cut_points(t, cuts);
            out.has_numbers_ = true;
        } else if (few && std::none_of(t.order.begin(), t.order.end(),
                                       [&](const std::string& v) { return first_arguments.count(v) > 0; })) {
            column.kind = ColumnKind::attribute;
            column.values = t.order;
        }
        out.columns_.emplace(key, std::move(column));
    }
    return out;
}

const Column& ColumnTypes::column(std::string_view name, std::size_t arity, std::size_t position) const {
    static const Column object;
    const auto at = columns_.find(key_of(name, arity, position));
    return at == columns_.end() ? object : at->second;
}

}  // namespace vantor::learn
