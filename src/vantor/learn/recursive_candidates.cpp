#include "learn/recursive_candidates.hpp"

#include <string_view>
#include <unordered_set>

namespace vantor::learn {

namespace {

// Top-level pieces of a body joined by "&" or ",".
std::vector<std::string_view> body_literals(std::string_view body) {
    std::vector<std::string_view> out;
    std::size_t depth = 0, start = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if (depth == 0 && (c == '&' || c == ',')) {
            out.push_back(body.substr(start, i - start));
            start = i + 1;
        }
    }
    out.push_back(body.substr(start));
    return out;
}

std::size_t arity_of(std::string_view literal) {
    const std::size_t open = literal.find('(');
    if (open == std::string_view::npos) return 0;
    std::size_t depth = 0, n = 1;
    for (std::size_t i = open + 1; i + 1 < literal.size(); ++i) {
        const char c = literal[i];
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if (depth == 0 && c == ',') ++n;
    }
    return n;
}

std::string_view name_of(std::string_view literal) { return literal.substr(0, literal.find('(')); }

}  // namespace

std::vector<std::string> recursive_variants(const std::vector<std::string>& rules) {
    std::unordered_set<std::string> seen(rules.begin(), rules.end());
    std::vector<std::string> out;
    for (const std::string& rule : rules) {
        const std::size_t neck = rule.find(":-");
        if (neck == std::string::npos) continue;
        const std::string_view head = std::string_view(rule).substr(0, neck);
        const std::string_view target = name_of(head);
        const std::size_t arity = arity_of(head);
        const std::vector<std::string_view> body = body_literals(std::string_view(rule).substr(neck + 2));
        for (std::size_t k = 0; k < body.size(); ++k) {
            if (name_of(body[k]) == target || arity_of(body[k]) != arity) continue;
            std::string call = std::string(target) + std::string(body[k].substr(name_of(body[k]).size()));
            if (call == head) continue;
            std::string variant = std::string(head) + ":-";
            for (std::size_t j = 0; j < body.size(); ++j) {
                if (j) variant += '&';
                variant += j == k ? call : std::string(body[j]);
            }
            if (seen.insert(variant).second) out.push_back(std::move(variant));
        }
    }
    return out;
}

}  // namespace vantor::learn
