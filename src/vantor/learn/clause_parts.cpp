#include "learn/clause_parts.hpp"

#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_map>

namespace vantor::learn {

namespace {

bool is_variable(std::string_view term) {
    return !term.empty() && ((term.front() >= 'A' && term.front() <= 'Z') || term.front() == '_');
}

// Neither a variable nor an atom or number written plainly: a term with
// structure, whose variables this split would not see.
bool has_structure(std::string_view term) {
    return term.find_first_of("([{|") != std::string_view::npos && term.front() != '\'' && term.front() != '"';
}

class Parts {
public:
    explicit Parts(std::size_t n) : parent_(n) { std::iota(parent_.begin(), parent_.end(), 0u); }
    std::uint32_t root(std::uint32_t i) {
        while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
        return i;
    }
    void join(std::uint32_t a, std::uint32_t b) { parent_[root(a)] = root(b); }

private:
    std::vector<std::uint32_t> parent_;
};

}  // namespace

std::vector<std::vector<std::uint32_t>> independent_parts(const Literal& head, const std::vector<Literal>& body) {
    Parts parts(body.size());
    std::unordered_map<std::string_view, std::uint32_t> first_holder;
    bool structured = false;
    for (std::uint32_t i = 0; i < body.size(); ++i) {
        for (const std::string& arg : body[i].args) {
            structured = structured || has_structure(arg);
            if (!is_variable(arg) || arg == "_") continue;
            if (std::find(head.args.begin(), head.args.end(), arg) != head.args.end()) continue;
            auto [at, fresh] = first_holder.try_emplace(arg, i);
            if (!fresh) parts.join(i, at->second);
        }
    }
    std::vector<std::vector<std::uint32_t>> out;
    std::unordered_map<std::uint32_t, std::size_t> index_of;
    for (std::uint32_t i = 0; i < body.size(); ++i) {
        const std::uint32_t root = structured ? 0 : parts.root(i);
        auto [at, fresh] = index_of.try_emplace(root, out.size());
        if (fresh) out.emplace_back();
        out[at->second].push_back(i);
    }
    return out;
}

std::string part_text(const Literal& head, const std::vector<Literal>& body,
                      const std::vector<std::uint32_t>& positions) {
    std::unordered_map<std::string_view, std::string> names;
    auto name_of = [&](const std::string& arg, char prefix) -> std::string {
        if (!is_variable(arg) || arg == "_") return arg;
        auto [at, fresh] = names.try_emplace(arg);
        if (fresh) at->second = prefix + std::to_string(names.size() - 1);
        return at->second;
    };
    std::string out;
    for (std::size_t k = 0; k < head.args.size(); ++k) {
        out += k ? "," : "(";
        out += name_of(head.args[k], 'H');
    }
    out += head.args.empty() ? " :- " : ") :- ";
    if (positions.empty()) out += "true";
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const Literal& literal = body[positions[k]];
        if (k) out += ", ";
        out += literal.name;
        if (literal.args.empty()) continue;
        out += "(";
        for (std::size_t a = 0; a < literal.args.size(); ++a) {
            if (a) out += ",";
            out += name_of(literal.args[a], 'V');
        }
        out += ")";
    }
    return out;
}

}  // namespace vantor::learn
