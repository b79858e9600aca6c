#include "eval/rule_coverage.hpp"

#include <algorithm>
#include <unordered_map>

#include "eval/evaluate.hpp"
#include "eval/prover.hpp"
#include "eval/working_dir.hpp"

namespace vantor::eval {

namespace {

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

// Calls f(begin, end) for every top-level piece of `text` cut at `separators`.
template <class F>
void split_top_level(std::string_view text, std::string_view separators, F&& f) {
    std::size_t depth = 0, start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '(' || c == '[') ++depth;
        else if ((c == ')' || c == ']') && depth > 0) --depth;
        else if (depth == 0 && separators.find(c) != std::string_view::npos) {
            f(text.substr(start, i - start));
            start = i + 1;
        }
    }
    f(text.substr(start));
}

bool is_variable(std::string_view term) {
    return !term.empty() && std::all_of(term.begin(), term.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

struct ParsedRule {
    std::string head_arguments;         // "(A,B)"
    std::vector<std::string> literals;  // body literals, Prolog text
};

ParsedRule parse_rule(const std::string& rule) {
    const std::size_t neck = neck_of(rule);
    ParsedRule out;
    out.head_arguments = std::string(arguments_of(std::string_view(rule).substr(0, neck)));
    std::string_view body = std::string_view(rule).substr(neck + 2);
    if (!body.empty() && body.back() == '.') body.remove_suffix(1);
    split_top_level(body, "&,", [&](std::string_view literal) { out.literals.emplace_back(literal); });
    return out;
}

std::vector<std::string> head_variables(const std::string& head_arguments) {
    std::vector<std::string> out;
    if (head_arguments.size() < 2) return out;
    split_top_level(std::string_view(head_arguments).substr(1, head_arguments.size() - 2), ",",
                    [&](std::string_view t) {
                        if (is_variable(t)) out.emplace_back(t);
                    });
    return out;
}

// A body literal on its own, its variables outside the head renamed in order
// of appearance: two literals that differ only in those names say the same
// about an example. Empty when the literal mentions no head variable (it
// then says nothing about one example rather than another).
std::string literal_key(const std::string& literal, const std::vector<std::string>& head_vars) {
    const std::string_view args = arguments_of(literal);
    if (args.size() < 2) return {};
    std::vector<std::string_view> renamed_from;
    std::string key = literal.substr(0, literal.find('(')) + "(";
    bool first = true, linked = false;
    split_top_level(args.substr(1, args.size() - 2), ",", [&](std::string_view term) {
        if (!first) key += ',';
        first = false;
        const bool in_head = std::find(head_vars.begin(), head_vars.end(), term) != head_vars.end();
        linked = linked || in_head;
        if (!is_variable(term) || in_head) {
            key += term;
            return;
        }
        auto at = std::find(renamed_from.begin(), renamed_from.end(), term);
        if (at == renamed_from.end()) at = renamed_from.insert(renamed_from.end(), term);
        key += "V_" + std::to_string(at - renamed_from.begin());
    });
    return linked ? key + ")" : std::string();
}

// The goals a run loads: every candidate rule and every distinct body literal
// that mentions a head variable, each under a head name of its own.
struct Plan {
    std::vector<ParsedRule> rules;
    std::vector<std::string> literal_heads;  // head arguments of each literal goal
    std::vector<std::string> literal_keys;
    std::vector<std::vector<std::size_t>> literals_of_rule;
};

Plan plan_of(const std::vector<std::string>& rules) {
    Plan plan;
    std::unordered_map<std::string, std::size_t> index;
    for (const std::string& text : rules) {
        ParsedRule rule = parse_rule(text);
        std::vector<std::size_t> used;
        const std::vector<std::string> head_vars = head_variables(rule.head_arguments);
        for (const std::string& literal : rule.literals) {
            std::string key = literal_key(literal, head_vars);
            if (key.empty()) continue;
            std::string full = rule.head_arguments + ":-" + key;
            auto [at, fresh] = index.try_emplace(full, plan.literal_keys.size());
            if (fresh) {
                plan.literal_keys.push_back(key);
                plan.literal_heads.push_back(rule.head_arguments);
            }
            used.push_back(at->second);
        }
        plan.literals_of_rule.push_back(std::move(used));
        plan.rules.push_back(std::move(rule));
    }
    return plan;
}

std::string rule_name(std::size_t i) { return "vantor_candidate_" + std::to_string(i); }
std::string literal_name(std::size_t i) { return "vantor_literal_" + std::to_string(i); }

std::string program_text(const Plan& plan, const std::vector<std::string>& known_facts) {
    std::string out = ":- style_check(-singleton).\n:- style_check(-discontiguous).\n";
    for (const std::string& fact : known_facts) {
        std::string_view f = fact;
        while (!f.empty() && (f.back() == '.' || f.back() == ' ')) f.remove_suffix(1);
        out += std::string(f) + ".\n";
    }
    for (std::size_t i = 0; i < plan.rules.size(); ++i) {
        const ParsedRule& r = plan.rules[i];
        out += rule_name(i) + r.head_arguments + ":-";
        for (std::size_t k = 0; k < r.literals.size(); ++k) out += (k ? "," : "") + r.literals[k];
        out += ".\n";
    }
    for (std::size_t i = 0; i < plan.literal_keys.size(); ++i) {
        out += literal_name(i) + plan.literal_heads[i] + ":-" + plan.literal_keys[i] + ".\n";
    }
    return out;
}

// Which examples (positions over pos then neg) a goal name may hold for: a
// proof, or a proof cut short by the inference limit.
std::vector<char> possible(const std::vector<Outcome>& outcomes) {
    std::vector<char> out(outcomes.size());
    for (std::size_t e = 0; e < outcomes.size(); ++e) out[e] = outcomes[e] != Outcome::not_proved;
    return out;
}

class RuleProver {
public:
    RuleProver(Prover& prover, const std::vector<std::string>& pos, const std::vector<std::string>& neg,
               RuleProofs& out)
        : prover_(prover), n_pos_(pos.size()), out_(out) {
        for (const std::string& e : pos) arguments_.emplace_back(arguments_of(e));
        for (const std::string& e : neg) arguments_.emplace_back(arguments_of(e));
    }

    // A literal on its own holds for a superset of the examples any rule
    // using it holds for (dropping a condition only widens a rule), so each
    // distinct literal is proved once over every example and a rule only on
    // the examples all of its literals allow.
    void prove_literals(const Plan& plan, Interrupt& interrupt) {
        prover_.set_goal_arguments(arguments_);
        for (std::size_t i = 0; i < plan.literal_keys.size(); ++i) {
            interrupt.check();
            literal_allows_.push_back(possible(prover_.prove_each(literal_name(i), kInferenceLimit, settings_)));
        }
    }

    void prove_rule(const Plan& plan, std::size_t r, learn::ProvedRule& result) {
        std::vector<std::size_t> examples;
        for (std::size_t e = 0; e < arguments_.size(); ++e) {
            bool allowed = true;
            for (std::size_t l : plan.literals_of_rule[r]) allowed = allowed && literal_allows_[l][e];
            if (allowed) examples.push_back(e);
        }
        if (examples.empty()) return;
        const std::vector<Outcome> outcomes = prover_.prove_some(rule_name(r), examples, kInferenceLimit, settings_);
        for (std::size_t k = 0; k < outcomes.size(); ++k) {
            if (outcomes[k] == Outcome::limit_exceeded) ++out_.over_limit;
            if (outcomes[k] != Outcome::proved) continue;
            const std::size_t e = examples[k];
            if (e < n_pos_) result.pos.push_back(static_cast<std::int64_t>(e));
            else result.neg.push_back(static_cast<std::int64_t>(e - n_pos_));
        }
    }

private:
    Prover& prover_;
    std::size_t n_pos_;
    RuleProofs& out_;
    std::vector<std::string> arguments_;
    std::vector<std::vector<char>> literal_allows_;
    EvalSettings settings_;
};

struct UnloadOnExit {
    Prover& prover;
    ~UnloadOnExit() {
        try {
            prover.unload();
        } catch (...) {
        }
    }
};

}  // namespace

std::size_t body_length(const std::string& rule) {
    std::size_t n = 0;
    split_top_level(std::string_view(rule).substr(neck_of(rule) + 2), "&,", [&](std::string_view) { ++n; });
    return n;
}

RuleProofs prove_rules(const std::vector<std::string>& rules, const std::string& background,
                       const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                       Interrupt& interrupt, const std::vector<std::string>& known_facts) {
    RuleProofs out;
    const Plan plan = plan_of(rules);
    out.rules.resize(rules.size());
    for (std::size_t i = 0; i < rules.size(); ++i) out.rules[i].body_length = plan.rules[i].literals.size();
    if (rules.empty()) return out;
    const std::string text = program_text(plan, known_facts);
    const std::string path = absolute_background(background);
    with_process_prover([&](Prover& prover) {
        PrivateDir workdir;
        const EvalSettings settings;
        prover.load_background(path, settings);
        prover.load_theory(text, workdir.path(), settings);
        UnloadOnExit unload{prover};
        RuleProver proving(prover, pos, neg, out);
        proving.prove_literals(plan, interrupt);
        for (std::size_t r = 0; r < rules.size(); ++r) {
            interrupt.check();
            proving.prove_rule(plan, r, out.rules[r]);
        }
    });
    return out;
}

}  // namespace vantor::eval
