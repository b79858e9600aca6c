#include "eval/rule_coverage.hpp"

#include <algorithm>

#include "eval/evaluate.hpp"
#include "eval/prover.hpp"
#include "eval/working_dir.hpp"

namespace vantor::eval {

namespace {

std::string candidate_name(std::size_t i) { return "vantor_candidate_" + std::to_string(i); }

std::size_t neck_of(const std::string& rule) {
    const std::size_t neck = rule.find(":-");
    if (neck == std::string::npos) throw ValueError("a candidate rule needs a body: '" + rule + "'");
    return neck;
}

// The arguments of a literal text with their parentheses ("(a,b)"), or ""
// for an atom.
std::string_view arguments_of(std::string_view literal) {
    const std::size_t open = literal.find('(');
    return open == std::string_view::npos ? std::string_view() : literal.substr(open);
}

// Each rule under its own head name, so all of them load as one file and one
// goal asks one rule about one example.
std::string candidates_text(const std::vector<std::string>& rules) {
    std::string out = ":- style_check(-singleton).\n";
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const std::string& rule = rules[i];
        const std::size_t neck = neck_of(rule);
        std::string body = rule.substr(neck + 2);
        std::replace(body.begin(), body.end(), '&', ',');
        if (!body.empty() && body.back() == '.') body.pop_back();
        out += candidate_name(i);
        out += arguments_of(std::string_view(rule).substr(0, neck));
        out += ":-" + body + ".\n";
    }
    return out;
}

void prove_set(Prover& prover, const std::string& name, const std::vector<std::string>& examples,
               std::vector<std::int64_t>& covered, RuleProofs& out, Interrupt& interrupt) {
    for (std::size_t e = 0; e < examples.size(); ++e) {
        interrupt.check();
        const std::string goal = name + std::string(arguments_of(examples[e]));
        const Outcome outcome = prover.prove(goal, kInferenceLimit);
        if (outcome == Outcome::proved) covered.push_back(static_cast<std::int64_t>(e));
        if (outcome == Outcome::limit_exceeded) ++out.over_limit;
    }
}

}  // namespace

std::size_t body_length(const std::string& rule) {
    const std::string_view body = std::string_view(rule).substr(neck_of(rule) + 2);
    std::size_t depth = 0, literals = 1;
    for (char c : body) {
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if ((c == ',' || c == '&') && depth == 0) ++literals;
    }
    return literals;
}

RuleProofs prove_rules(const std::vector<std::string>& rules, const std::string& background,
                       const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                       Interrupt& interrupt) {
    RuleProofs out;
    out.rules.resize(rules.size());
    for (std::size_t i = 0; i < rules.size(); ++i) out.rules[i].body_length = body_length(rules[i]);
    if (rules.empty()) return out;
    const std::string text = candidates_text(rules);
    const std::string path = absolute_background(background);
    with_process_prover([&](Prover& prover) {
        PrivateDir workdir;
        prover.load_background(path);
        prover.load_theory(text, workdir.path());
        struct Unload {
            Prover& p;
            ~Unload() {
                try {
                    p.unload();
                } catch (...) {
                }
            }
        } unload{prover};
        for (std::size_t i = 0; i < rules.size(); ++i) {
            const std::string name = candidate_name(i);
            prove_set(prover, name, pos, out.rules[i].pos, out, interrupt);
            prove_set(prover, name, neg, out.rules[i].neg, out, interrupt);
        }
    });
    return out;
}

}  // namespace vantor::eval
