#include "eval/rule_coverage.hpp"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "eval/evaluate.hpp"
#include "eval/fact_proving.hpp"
#include "eval/prover.hpp"
#include "engine/swi_batch.hpp"
#include "text/clause.hpp"
#include "text/pystr.hpp"

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

// Calls f(piece) for every top-level piece of `text` cut at `separators`.
template <class F>
void split_top_level(std::string_view text, std::string_view separators, F&& f) {
    for (std::string_view piece : text::split_top_level(text, separators)) f(piece);
}

// A named variable (V1, _G2, Ab); the anonymous "_" links nothing.
bool is_variable(std::string_view term) {
    if (term.empty() || term == "_" || !((term.front() >= 'A' && term.front() <= 'Z') || term.front() == '_')) {
        return false;
    }
    return std::all_of(term.begin(), term.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    });
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

// The variables of a literal that are not head variables.
std::vector<std::string> inner_variables(const std::string& literal, const std::vector<std::string>& head_vars) {
    std::vector<std::string> out;
    const std::string_view args = arguments_of(literal);
    if (args.size() < 2) return out;
    split_top_level(args.substr(1, args.size() - 2), ",", [&](std::string_view term) {
        if (is_variable(term) && std::find(head_vars.begin(), head_vars.end(), term) == head_vars.end()) {
            out.emplace_back(term);
        }
    });
    return out;
}

// Literals (in rule order) with their variables outside the head renamed in
// order of appearance: two groups that differ only in those names say the
// same about an example.
std::string canonical_key(const std::vector<const std::string*>& literals, const std::vector<std::string>& head_vars) {
    std::vector<std::string_view> renamed_from;
    std::string key;
    for (const std::string* literal : literals) {
        if (!key.empty()) key += ',';
        const std::string_view args = arguments_of(*literal);
        if (args.size() < 2) {
            key += *literal;
            continue;
        }
        key += literal->substr(0, literal->find('(')) + "(";
        bool first = true;
        split_top_level(args.substr(1, args.size() - 2), ",", [&](std::string_view term) {
            if (!first) key += ',';
            first = false;
            if (!is_variable(term) || std::find(head_vars.begin(), head_vars.end(), term) != head_vars.end()) {
                key += term;
                return;
            }
            auto at = std::find(renamed_from.begin(), renamed_from.end(), term);
            if (at == renamed_from.end()) at = renamed_from.insert(renamed_from.end(), term);
            key += "V_" + std::to_string(at - renamed_from.begin());
        });
        key += ")";
    }
    return key;
}

// A rule's body cut into parts that share no variable outside the head. Once
// an example fixes the head, the parts hold or fail independently, so the
// rule holds exactly where every part holds: each distinct part is proved
// once for all rules that contain it.
std::vector<std::vector<std::size_t>> independent_parts(const ParsedRule& rule, const std::vector<std::string>& head_vars) {
    const std::size_t n = rule.literals.size();
    std::vector<std::size_t> group(n);
    for (std::size_t i = 0; i < n; ++i) group[i] = i;
    auto root = [&](std::size_t i) {
        while (group[i] != i) i = group[i] = group[group[i]];
        return i;
    };
    std::unordered_map<std::string, std::size_t> first_with;
    for (std::size_t i = 0; i < n; ++i) {
        for (const std::string& v : inner_variables(rule.literals[i], head_vars)) {
            auto [at, fresh] = first_with.try_emplace(v, i);
            if (!fresh) group[root(i)] = root(at->second);
        }
    }
    std::vector<std::vector<std::size_t>> parts;
    std::unordered_map<std::size_t, std::size_t> part_of_root;
    for (std::size_t i = 0; i < n; ++i) {
        auto [at, fresh] = part_of_root.try_emplace(root(i), parts.size());
        if (fresh) parts.emplace_back();
        parts[at->second].push_back(i);
    }
    return parts;
}

// The goals a run loads, each under a head name of its own: every distinct
// body literal that mentions a head variable (proved over every example, it
// bounds where the parts containing it can hold) and every distinct part of
// more than one literal, or of none that mentions a head variable.
struct Plan {
    struct Goal {
        std::string head_arguments, body;
        std::vector<std::size_t> literals;  // literal goals that bound it (parts only)
    };
    std::vector<Goal> literal_goals, part_goals;
    // Per rule: its parts, as ("is a literal goal", index).
    std::vector<std::vector<std::pair<bool, std::size_t>>> parts_of_rule;
    std::vector<std::size_t> body_lengths;
};

class Planner {
public:
    Plan plan;

    void add(const std::string& text) {
        const ParsedRule rule = parse_rule(text);
        const std::vector<std::string> head_vars = head_variables(rule.head_arguments);
        std::vector<std::pair<bool, std::size_t>> parts;
        for (const std::vector<std::size_t>& part : independent_parts(rule, head_vars)) {
            std::vector<std::size_t> bounding;
            for (std::size_t i : part) {
                if (!mentions_any(rule.literals[i], head_vars)) continue;
                bounding.push_back(goal(literals_, plan.literal_goals, rule, {i}, head_vars, {}));
            }
            if (part.size() == 1 && !bounding.empty()) {
                parts.emplace_back(true, bounding.front());
            } else {
                parts.emplace_back(false, goal(parts_, plan.part_goals, rule, part, head_vars, bounding));
            }
        }
        plan.parts_of_rule.push_back(std::move(parts));
        plan.body_lengths.push_back(rule.literals.size());
    }

private:
    static bool mentions_any(const std::string& literal, const std::vector<std::string>& head_vars) {
        const std::string_view args = arguments_of(literal);
        bool found = false;
        if (args.size() >= 2) {
            split_top_level(args.substr(1, args.size() - 2), ",", [&](std::string_view term) {
                found = found || std::find(head_vars.begin(), head_vars.end(), term) != head_vars.end();
            });
        }
        return found;
    }

    static std::size_t goal(std::unordered_map<std::string, std::size_t>& index, std::vector<Plan::Goal>& goals,
                            const ParsedRule& rule, const std::vector<std::size_t>& literal_positions,
                            const std::vector<std::string>& head_vars, std::vector<std::size_t> bounding) {
        std::vector<const std::string*> literals;
        for (std::size_t i : literal_positions) literals.push_back(&rule.literals[i]);
        std::string body = canonical_key(literals, head_vars);
        auto [at, fresh] = index.try_emplace(rule.head_arguments + ":-" + body, goals.size());
        if (fresh) goals.push_back({rule.head_arguments, std::move(body), std::move(bounding)});
        return at->second;
    }

    std::unordered_map<std::string, std::size_t> literals_, parts_;
};

std::string literal_name(std::size_t i) { return "vantor_literal_" + std::to_string(i); }
std::string part_name(std::size_t i) { return "vantor_part_" + std::to_string(i); }

std::string goal_clause(const std::string& name, const Plan::Goal& goal) {
    return name + goal.head_arguments + ":-" + goal.body + ".\n";
}

// Per example (positions over pos then neg): 1 proved, 2 cut short by the
// inference limit, 0 not proved.
using Answers = std::vector<char>;

// Proves a plan in two batches through a proving service: every literal
// goal on every example, then every part on the examples where each of its
// bounding literals was proved or left undecided.
class RuleProver {
public:
    RuleProver(ProvingService& service, ProofBatch frame, std::size_t n_pos, RuleProofs& out)
        : service_(service), frame_(std::move(frame)), n_pos_(n_pos), out_(out) {}

    void prove_goals(const Plan& plan, Interrupt& interrupt, const std::vector<std::string>& pos,
                     const std::vector<std::string>& neg) {
        const std::size_t n = frame_.example_arguments.size();
        std::vector<std::uint32_t> every(n);
        for (std::size_t e = 0; e < n; ++e) every[e] = static_cast<std::uint32_t>(e);
        ProofBatch literals = frame_;
        literals.example_lists = {std::move(every)};
        for (std::size_t i = 0; i < plan.literal_goals.size(); ++i) {
            literals.goals.push_back({goal_clause(literal_name(i), plan.literal_goals[i]), literal_name(i), 0, {}});
        }
        interrupt.check();
        literals_ = answers_of(prove(literals, pos, neg));
        interrupt.check();
        prove_parts(plan, pos, neg);
    }

    void collect(const Plan& plan, std::size_t r, learn::ProvedRule& result) const {
        for (std::size_t e = 0; e < frame_.example_arguments.size(); ++e) {
            bool holds = true;
            for (const auto& [is_literal, i] : plan.parts_of_rule[r]) {
                holds = holds && (is_literal ? literals_[i][e] : parts_[i][e]) == 1;
            }
            if (!holds) continue;
            if (e < n_pos_) result.pos.push_back(static_cast<std::int64_t>(e));
            else result.neg.push_back(static_cast<std::int64_t>(e - n_pos_));
        }
    }

private:
    // A part is tried only where each of its head-linked literals holds
    // alone (or was cut short); parts allowed on the same examples share
    // one list.
    void prove_parts(const Plan& plan, const std::vector<std::string>& pos, const std::vector<std::string>& neg) {
        const std::size_t n = frame_.example_arguments.size();
        ProofBatch parts = frame_;
        std::map<std::vector<std::uint32_t>, std::uint32_t> list_of;
        std::vector<std::int64_t> goal_of_part(plan.part_goals.size(), -1);
        for (std::size_t i = 0; i < plan.part_goals.size(); ++i) {
            std::vector<std::uint32_t> examples;
            for (std::size_t e = 0; e < n; ++e) {
                bool allowed = true;
                for (std::size_t l : plan.part_goals[i].literals) allowed = allowed && literals_[l][e] != 0;
                if (allowed) examples.push_back(static_cast<std::uint32_t>(e));
            }
            if (examples.empty()) continue;
            auto [at, fresh] = list_of.try_emplace(examples, static_cast<std::uint32_t>(parts.example_lists.size()));
            if (fresh) parts.example_lists.push_back(std::move(examples));
            goal_of_part[i] = static_cast<std::int64_t>(parts.goals.size());
            parts.goals.push_back({goal_clause(part_name(i), plan.part_goals[i]), part_name(i), at->second, {}});
        }
        const std::vector<Answers> proved =
            parts.goals.empty() ? std::vector<Answers>() : answers_of(prove(parts, pos, neg));
        for (std::size_t i = 0; i < plan.part_goals.size(); ++i) {
            parts_.push_back(goal_of_part[i] < 0 ? Answers(n, 0) : proved[static_cast<std::size_t>(goal_of_part[i])]);
        }
    }

    ProofAnswers prove(const ProofBatch& batch, const std::vector<std::string>& pos,
                       const std::vector<std::string>& neg) {
        ProofAnswers answers;
        try {
            answers = service_.prove(batch);
        } catch (const engine::ArgumentsRefused& e) {
            const bool positive = e.index < n_pos_;
            const std::size_t at = positive ? e.index : e.index - n_pos_;
            throw RefusedInput(std::string(positive ? "pos" : "neg") + "[" + std::to_string(at) + "] '" +
                               (positive ? pos : neg)[at] + "' is not one fact: " + e.what());
        }
        if (answers.proved.size() != batch.goals.size()) {
            throw ValueError("the proving service answered the wrong number of goals");
        }
        out_.over_limit += answers.over_limit;
        out_.over_time += answers.over_time;
        return answers;
    }

    std::vector<Answers> answers_of(const ProofAnswers& answers) const {
        std::vector<Answers> out(answers.proved.size(), Answers(frame_.example_arguments.size(), 0));
        for (std::size_t g = 0; g < answers.proved.size(); ++g) {
            for (std::uint32_t e : answers.proved[g]) out[g].at(e) = 1;
            if (g < answers.cut_short.size()) {
                for (std::uint32_t e : answers.cut_short[g]) out[g].at(e) = 2;
            }
        }
        return out;
    }

    ProvingService& service_;
    ProofBatch frame_;
    std::size_t n_pos_;
    RuleProofs& out_;
    std::vector<Answers> literals_, parts_;
};

// The target's name and arity, from the head of the first rule.
std::pair<std::string, int> target_of(const std::string& rule) {
    const std::string_view head = text::strip(std::string_view(rule).substr(0, neck_of(rule)));
    const std::string_view args = arguments_of(head);
    const std::string name(text::strip(head.substr(0, head.size() - args.size())));
    const int arity = args.size() < 2 ? 0 : static_cast<int>(text::split_top_level(args.substr(1, args.size() - 2), ",").size());
    return {name, arity};
}

// Every example must be a literal of the target (its arguments are then read
// by the engine as exactly one argument list).
void check_examples(const std::vector<std::string>& examples, const char* collection,
                    const std::pair<std::string, int>& target) {
    for (std::size_t i = 0; i < examples.size(); ++i) {
        const std::string_view text = text::strip(examples[i]);
        const std::string_view args = arguments_of(text);
        const std::string_view name = text::strip(text.substr(0, text.size() - args.size()));
        if (name != target.first) {
            throw RefusedInput(std::string(collection) + "[" + std::to_string(i) + "] '" + examples[i] +
                               "' is not an example of the target " + target.first + "/" +
                               std::to_string(target.second));
        }
    }
}

// The known facts as a program text written by the engine.
std::string known_facts_program(const std::vector<std::string>& facts, const std::pair<std::string, int>& target) {
    if (facts.empty()) return "";
    try {
        return engine::facts_program(facts, target.first, target.second);
    } catch (const engine::ArgumentsRefused& e) {
        throw RefusedInput("known fact [" + std::to_string(e.index) + "] '" + facts[e.index] +
                           "' is not one fact: " + e.what());
    }
}

// The rules' coverage answered from the background's indexed facts and the
// known facts (`known`, a program of facts), when that answers exactly: one
// goal per rule over every example, as the search proves its clauses. False
// when the engine must prove them.
bool prove_by_facts(const std::vector<std::string>& rules, const std::string& path,
                    const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                    const std::string& known, const EvalSettings& settings, Interrupt& interrupt,
                    RuleProofs& out) {
    ProofBatch batch;
    batch.background = path;
    batch.common = known;
    batch.time_limit = settings.time_limit;
    batch.sandbox = settings.sandbox;
    for (const auto* set : {&pos, &neg}) {
        for (const std::string& e : *set) {
            std::string_view text = e;
            while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.remove_suffix(1);
            batch.example_arguments.emplace_back(arguments_of(text));
        }
    }
    batch.example_lists.emplace_back();
    for (std::size_t e = 0; e < batch.example_arguments.size(); ++e) {
        batch.example_lists[0].push_back(static_cast<std::uint32_t>(e));
    }
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const ParsedRule rule = parse_rule(rules[r]);
        ProofGoal goal;
        goal.name = "vantor_rule_" + std::to_string(r);
        goal.clauses = goal.name + rule.head_arguments + " :- ";
        for (std::size_t k = 0; k < rule.literals.size(); ++k) goal.clauses += (k ? ", " : "") + rule.literals[k];
        if (rule.literals.empty()) goal.clauses += "true";
        goal.clauses += ".\n";
        batch.goals.push_back(std::move(goal));
    }
    std::optional<ProofAnswers> answers = prove_with_facts(batch, interrupt);
    if (!answers) return false;
    for (std::size_t r = 0; r < rules.size(); ++r) {
        for (std::uint32_t e : answers->proved[r]) {
            if (e < pos.size()) out.rules[r].pos.push_back(e);
            else out.rules[r].neg.push_back(static_cast<std::int64_t>(e - pos.size()));
        }
    }
    return true;
}

}  // namespace

RuleProofs prove_rules(const std::vector<std::string>& rules, const std::string& background,
                       const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                       ProvingService& service, Interrupt& interrupt, const std::vector<std::string>& known_facts,
                       const EvalSettings& settings, BatchProver prover) {
    RuleProofs out;
    Planner planner;
    for (const std::string& rule : rules) planner.add(rule);
    const Plan& plan = planner.plan;
    out.rules.resize(rules.size());
    for (std::size_t i = 0; i < rules.size(); ++i) out.rules[i].body_length = plan.body_lengths[i];
    if (rules.empty()) return out;
    const std::pair<std::string, int> target = target_of(rules.front());
    check_examples(pos, "pos", target);
    check_examples(neg, "neg", target);
    const std::string path = absolute_background(background);
    std::string known;  // the known facts as the engine writes them (checked there)
    if (!known_facts.empty()) {
        with_process_prover([&](Prover&) { known = known_facts_program(known_facts, target); });
    }
    // Rules over plain facts are answered whole from the indexed facts,
    // here: exact, and far quicker than any share of engines.
    if (prover == BatchProver::facts && prove_by_facts(rules, path, pos, neg, known, settings, interrupt, out)) {
        return out;
    }
    ProofBatch frame;
    frame.background = path;
    for (const std::string& e : pos) frame.example_arguments.emplace_back(arguments_of(e));
    for (const std::string& e : neg) frame.example_arguments.emplace_back(arguments_of(e));
    frame.common = std::move(known);
    frame.time_limit = settings.time_limit;
    frame.sandbox = settings.sandbox;
    frame.inference_limit = kInferenceLimit;
    frame.prover = prover;
    RuleProver proving(service, std::move(frame), pos.size(), out);
    proving.prove_goals(plan, interrupt, pos, neg);
    for (std::size_t r = 0; r < rules.size(); ++r) proving.collect(plan, r, out.rules[r]);
    return out;
}

RuleProofs prove_rules(const std::vector<std::string>& rules, const std::string& background,
                       const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                       Interrupt& interrupt, const std::vector<std::string>& known_facts,
                       const EvalSettings& settings, BatchProver prover) {
    FactProving local(interrupt);
    return prove_rules(rules, background, pos, neg, local, interrupt, known_facts, settings, prover);
}

}  // namespace vantor::eval
