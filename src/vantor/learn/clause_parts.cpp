#include "learn/clause_parts.hpp"

#include <algorithm>
#include <numeric>
#include <string_view>

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
    // Bodies are a few literals long: linear scans beat hashing here.
    Parts parts(body.size());
    std::vector<std::pair<std::string_view, std::uint32_t>> first_holder;
    bool structured = false;
    for (std::uint32_t i = 0; i < body.size(); ++i) {
        for (const std::string& arg : body[i].args) {
            structured = structured || has_structure(arg);
            if (!is_variable(arg) || arg == "_") continue;
            if (std::find(head.args.begin(), head.args.end(), arg) != head.args.end()) continue;
            const auto at = std::find_if(first_holder.begin(), first_holder.end(),
                                         [&](const auto& h) { return h.first == arg; });
            if (at == first_holder.end()) first_holder.emplace_back(arg, i);
            else parts.join(i, at->second);
        }
    }
    std::vector<std::vector<std::uint32_t>> out;
    std::vector<std::uint32_t> roots;  // out[k]'s root
    for (std::uint32_t i = 0; i < body.size(); ++i) {
        const std::uint32_t root = structured ? 0 : parts.root(i);
        const auto k = static_cast<std::size_t>(std::find(roots.begin(), roots.end(), root) - roots.begin());
        if (k == roots.size()) {
            roots.push_back(root);
            out.emplace_back();
        }
        out[k].push_back(i);
    }
    return out;
}

std::string part_text(const Literal& head, const std::vector<Literal>& body,
                      const std::vector<std::uint32_t>& positions) {
    // Variables in order of first appearance, with their new names.
    std::vector<std::pair<std::string_view, std::string>> names;
    auto name_of = [&](const std::string& arg, char prefix) -> const std::string& {
        if (!is_variable(arg) || arg == "_") return arg;
        auto at = std::find_if(names.begin(), names.end(), [&](const auto& n) { return n.first == arg; });
        if (at == names.end()) at = names.insert(names.end(), {arg, prefix + std::to_string(names.size())});
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

std::string new_part(const Literal& head, const Clause& parent, const Clause& clause) {
    const std::vector<Literal>& body = clause.body;
    // The changed literals, then every literal linked to one already taken
    // (a search runs this for every refinement: no allocation but the text).
    std::vector<bool> taken(body.size(), false);
    bool any = false, structured = false;
    for (std::size_t k = 0; k < body.size(); ++k) {
        taken[k] = k >= parent.body.size() || body[k].name != parent.body[k].name || body[k].args != parent.body[k].args;
        any = any || taken[k];
        for (const std::string& arg : body[k].args) structured = structured || has_structure(arg);
    }
    if (!any) return {};
    auto links = [&](const Literal& a, const Literal& b) {
        for (const std::string& x : a.args) {
            if (!is_variable(x) || x == "_" || std::find(head.args.begin(), head.args.end(), x) != head.args.end()) continue;
            if (std::find(b.args.begin(), b.args.end(), x) != b.args.end()) return true;
        }
        return false;
    };
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t j = 0; j < body.size(); ++j) {
            if (taken[j]) continue;
            for (std::size_t k = 0; k < body.size() && !taken[j]; ++k) {
                if (taken[k] && (structured || links(body[k], body[j]))) taken[j] = grew = true;
            }
        }
    }
    std::vector<std::uint32_t> positions;
    for (std::uint32_t k = 0; k < body.size(); ++k) {
        if (taken[k]) positions.push_back(k);
    }
    return part_text(head, body, positions);
}

}  // namespace vantor::learn
