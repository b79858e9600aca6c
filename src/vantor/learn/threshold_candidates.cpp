#include "learn/threshold_candidates.hpp"

#include <algorithm>
#include <cstdlib>
#include <unordered_set>

#include "text/clause.hpp"

namespace vantor::learn {

namespace {

std::vector<std::string_view> pieces(std::string_view text, std::string_view separators) {
    return text::split_top_level(text, separators);
}

// Name and arguments of "p(a,b)" (the text may end in "."), or false.
bool split_literal(std::string_view text, std::string_view& name, std::vector<std::string_view>& args) {
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.remove_suffix(1);
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos || text.back() != ')') return false;
    name = text.substr(0, open);
    args = pieces(text.substr(open + 1, text.size() - open - 2), ",");
    return true;
}

bool number(std::string_view term, double& value) {
    if (term.empty()) return false;
    const std::string copy(term);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return end == copy.c_str() + copy.size();
}

bool is_variable(std::string_view term) {
    return !term.empty() && std::all_of(term.begin(), term.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

struct Column {
    bool numeric = true;
    std::vector<std::pair<double, std::string>> values;
};

std::vector<std::string> spread(std::vector<std::pair<double, std::string>> values, std::size_t count) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 values.end());
    std::vector<std::string> out;
    if (values.size() < 2 || count == 0) return out;
    const std::size_t n = std::min(count, values.size() - 1);
    for (std::size_t k = 1; k <= n; ++k) {
        const std::string& v = values[k * (values.size() - 1) / (n + 1)].second;
        if (out.empty() || out.back() != v) out.push_back(v);
    }
    return out;
}

}  // namespace

Thresholds numeric_thresholds(const std::vector<std::string_view>& lines, std::size_t per_position) {
    std::map<std::pair<std::string, std::size_t>, Column> columns;
    std::string_view name;
    std::vector<std::string_view> args;
    for (std::string_view line : lines) {
        if (line.empty() || line.front() == '%' || line.find(":-") != std::string_view::npos) continue;
        if (!split_literal(line, name, args)) continue;
        for (std::size_t i = 0; i < args.size(); ++i) {
            Column& column = columns[{std::string(name), i}];
            double value = 0;
            if (!column.numeric) continue;
            if (number(args[i], value)) column.values.emplace_back(value, std::string(args[i]));
            else column.numeric = false;
        }
    }
    Thresholds out;
    for (auto& [key, column] : columns) {
        if (!column.numeric) continue;
        std::vector<std::string> cuts = spread(std::move(column.values), per_position);
        if (!cuts.empty()) out.emplace(key, std::move(cuts));
    }
    return out;
}

std::vector<std::string> threshold_variants(const std::vector<std::string>& rules, const Thresholds& thresholds) {
    std::unordered_set<std::string> seen(rules.begin(), rules.end());
    std::vector<std::string> out;
    std::string_view name;
    std::vector<std::string_view> args;
    for (const std::string& rule : rules) {
        const std::size_t neck = rule.find(":-");
        if (neck == std::string::npos) continue;
        for (std::string_view literal : pieces(std::string_view(rule).substr(neck + 2), "&,")) {
            if (!split_literal(literal, name, args)) continue;
            for (std::size_t i = 0; i < args.size(); ++i) {
                auto at = thresholds.find({std::string(name), i});
                if (at == thresholds.end() || !is_variable(args[i])) continue;
                for (const std::string& value : at->second) {
                    for (const char* test : {">=", "=<"}) {
                        std::string variant = rule + "&" + test + "(" + std::string(args[i]) + "," + value + ")";
                        if (seen.insert(variant).second) out.push_back(std::move(variant));
                    }
                }
            }
        }
    }
    return out;
}

}  // namespace vantor::learn
