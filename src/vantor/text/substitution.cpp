#include "text/substitution.hpp"

#include "text/pystr.hpp"

namespace vantor::text {
namespace {

bool is_variable_text(const Arg& a) { return !a.is_list && is_upper(a.text); }

std::string arg_key(const Arg& a) { return a.is_list ? list_key(a.items) : a.text; }

// Arguments that count as variables for linkage: kind "variable" and not in
// the constant set.
std::unordered_set<std::string> linking_variables(const std::vector<Arg>& args,
                                                  const ConstantSet& constant) {
    std::unordered_set<std::string> out;
    for (const Arg& a : args) {
        std::string key = arg_key(a);
        if (constant.count(key) == 0 && argument_kind(a) == ArgKind::Variable) {
            out.insert(std::move(key));
        }
    }
    return out;
}

}  // namespace

std::optional<Substitution> literal_substitution(std::string_view a_raw, std::string_view b_raw) {
    const std::string a = remove_blanks(a_raw);
    const std::string b = remove_blanks(b_raw);
    Substitution result;
    const std::vector<Arg> a_args = Clause(a).args();
    if (a == b) {
        for (const Arg& x : a_args) result.emplace_back(x, x);
        return result;
    }
    const Clause ca(a), cb(b);
    const std::vector<Arg> b_args = cb.args();
    if (ca.predicate != cb.predicate || a_args.size() != b_args.size()) return std::nullopt;
    for (std::size_t i = 0; i < a_args.size(); ++i) {
        const Arg& x = a_args[i];
        const Arg& y = b_args[i];
        if (x == y || is_variable_text(x)) {
            result.emplace_back(x, y);
        } else if (is_variable_text(y)) {
            result.emplace_back(y, x);
        } else {
            return std::nullopt;
        }
    }
    return result;
}

bool is_linked(std::string_view arg_head, const std::vector<std::string>& body,
               const ConstantSet& constant) {
    std::unordered_set<std::string> seen = linking_variables(Clause(arg_head).args(), constant);
    for (const std::string& literal : body) {
        const std::unordered_set<std::string> vars = linking_variables(Clause(literal).args(), constant);
        bool shared = false;
        for (const std::string& v : vars) {
            if (seen.count(v)) {
                shared = true;
                break;
            }
        }
        if (!shared) return false;
        seen.insert(vars.begin(), vars.end());
    }
    return true;
}

bool is_chained(std::string_view arg_head, const std::vector<std::string>& body,
                const ConstantSet& constant) {
    std::unordered_set<std::string> seen = linking_variables(Clause(arg_head).args(), constant);
    for (const std::string& literal : body) {
        const std::vector<Arg> args = Clause(literal).args();
        if (args.empty() || seen.count(arg_key(args.front())) == 0) return false;
        for (const Arg& a : args) {
            if (argument_kind(a) == ArgKind::Variable) seen.insert(arg_key(a));
        }
    }
    return true;
}

}  // namespace vantor::text
