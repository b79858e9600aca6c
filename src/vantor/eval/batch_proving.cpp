#include "eval/batch_proving.hpp"

#include <algorithm>

#include "eval/evaluate.hpp"
#include "eval/prover.hpp"
#include "engine/working_dir.hpp"

namespace vantor::eval {

namespace {

struct UnloadWhenDone {
    Prover& prover;
    ~UnloadWhenDone() {
        try {
            prover.unload();
        } catch (...) {
        }
    }
};

std::string program_of(const ProofBatch& batch) {
    std::string text = ":- style_check(-singleton).\n:- style_check(-discontiguous).\n" + batch.common;
    for (const ProofGoal& goal : batch.goals) text += goal.clauses;
    return text;
}

// Proves the goal's examples segment by segment, between its gates.
void prove_goal(Prover& prover, const ProofGoal& goal, const std::vector<std::uint32_t>& examples,
                const EvalSettings& settings, std::int64_t limit, std::size_t g, ProofAnswers& out) {
    std::vector<std::uint32_t>& proved = out.proved[g];
    std::size_t from = 0;
    std::vector<std::size_t> positions;
    for (std::size_t gate = 0; from < examples.size(); ++gate) {
        const std::size_t to = gate < goal.gates.size()
                                   ? std::min<std::size_t>(goal.gates[gate].examples, examples.size())
                                   : examples.size();
        positions.assign(examples.begin() + static_cast<std::ptrdiff_t>(from),
                         examples.begin() + static_cast<std::ptrdiff_t>(to));
        if (!positions.empty()) {
            const std::vector<Outcome> outcomes = prover.prove_some(goal.name, positions, limit, settings);
            for (std::size_t k = 0; k < outcomes.size(); ++k) {
                const auto example = static_cast<std::uint32_t>(positions[k]);
                if (outcomes[k] == Outcome::proved) {
                    proved.push_back(example);
                } else if (outcomes[k] == Outcome::limit_exceeded) {
                    ++out.over_limit;
                    out.cut_short[g].push_back(example);
                } else if (outcomes[k] != Outcome::not_proved) {
                    ++out.over_time;
                }
            }
        }
        from = to;
        if (gate < goal.gates.size() && proved.size() < goal.gates[gate].proved) return;
    }
}

}  // namespace

ProofAnswers prove_batch(const ProofBatch& batch, Interrupt& interrupt) {
    ProofAnswers out;
    out.proved.resize(batch.goals.size());
    out.cut_short.resize(batch.goals.size());
    if (batch.goals.empty()) return out;
    const std::int64_t limit = batch.inference_limit > 0 ? batch.inference_limit : kSearchInferenceLimit;
    EvalSettings settings;
    settings.time_limit = batch.time_limit;
    settings.sandbox = batch.sandbox;
    const std::string text = program_of(batch);
    with_process_prover([&](Prover& prover) {
        engine::PrivateDir workdir;
        prover.load_background(batch.background, settings);
        prover.load_theory(text, workdir.path(), settings);
        UnloadWhenDone unload{prover};
        prover.set_goal_arguments(batch.example_arguments);
        for (std::size_t g = 0; g < batch.goals.size(); ++g) {
            interrupt.check();
            const ProofGoal& goal = batch.goals[g];
            if (goal.list >= batch.example_lists.size()) throw ValueError("a proving goal names a missing example list");
            prove_goal(prover, goal, batch.example_lists[goal.list], settings, limit, g, out);
        }
    });
    return out;
}

}  // namespace vantor::eval
