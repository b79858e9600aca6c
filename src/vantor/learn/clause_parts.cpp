#include "learn/clause_parts.hpp"

#include <algorithm>
#include <string_view>

namespace vantor::learn {

namespace {

// Neither a variable nor an atom or number written plainly: a term with
// structure, whose variables this split would not see.
bool has_structure(std::string_view term) {
    return term.find_first_of("([{|") != std::string_view::npos && term.front() != '\'' && term.front() != '"';
}

// Whether two body literals share a variable the head does not bind.
bool linked(const Literal& head, const Literal& a, const Literal& b) {
    for (const std::string& x : a.args) {
        if (!written_as_variable(x) || x == "_" || std::find(head.args.begin(), head.args.end(), x) != head.args.end()) continue;
        if (std::find(b.args.begin(), b.args.end(), x) != b.args.end()) return true;
    }
    return false;
}

bool structured(const std::vector<Literal>& body) {
    return std::any_of(body.begin(), body.end(), [](const Literal& l) {
        return std::any_of(l.args.begin(), l.args.end(), [](const std::string& a) { return has_structure(a); });
    });
}

// Adds to `taken` every literal linked to a taken one, until none is left:
// the parts holding the literals first taken. Bodies are a few literals
// long, and a search runs this for every refinement, so it scans.
void grow(const Literal& head, const std::vector<Literal>& body, std::vector<bool>& taken) {
    const bool whole = structured(body);
    for (bool grew = true; grew;) {
        grew = false;
        for (std::size_t j = 0; j < body.size(); ++j) {
            for (std::size_t k = 0; k < body.size() && !taken[j]; ++k) {
                if (taken[k] && (whole || linked(head, body[k], body[j]))) taken[j] = grew = true;
            }
        }
    }
}

}  // namespace

std::vector<std::vector<std::uint32_t>> independent_parts(const Literal& head, const std::vector<Literal>& body) {
    std::vector<std::vector<std::uint32_t>> out;
    std::vector<bool> placed(body.size(), false);
    for (std::size_t first = 0; first < body.size(); ++first) {
        if (placed[first]) continue;
        std::vector<bool> taken(body.size(), false);
        taken[first] = true;
        grow(head, body, taken);
        std::vector<std::uint32_t>& part = out.emplace_back();
        for (std::uint32_t k = 0; k < body.size(); ++k) {
            if (taken[k]) part.push_back(k), placed[k] = true;
        }
    }
    return out;
}

std::string part_text(const Literal& head, const std::vector<Literal>& body,
                      const std::vector<std::uint32_t>& positions) {
    // Variables in order of first appearance, with their new names.
    std::vector<std::pair<std::string_view, std::string>> names;
    auto name_of = [&](const std::string& arg, char prefix) -> const std::string& {
        if (!written_as_variable(arg) || arg == "_") return arg;
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
    std::vector<bool> taken(body.size(), false);
    bool any = false;
    for (std::size_t k = 0; k < body.size(); ++k) {
        taken[k] = k >= parent.body.size() || body[k].name != parent.body[k].name || body[k].args != parent.body[k].args;
        any = any || taken[k];
    }
    if (!any) return {};
    grow(head, body, taken);
    std::vector<std::uint32_t> positions;
    for (std::uint32_t k = 0; k < body.size(); ++k) {
        if (taken[k]) positions.push_back(k);
    }
    return part_text(head, body, positions);
}

}  // namespace vantor::learn
