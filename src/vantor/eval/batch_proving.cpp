#include "eval/batch_proving.hpp"

#include "eval/evaluate.hpp"
#include "eval/prover.hpp"
#include "eval/working_dir.hpp"

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

}  // namespace

ProofAnswers prove_batch(const ProofBatch& batch, Interrupt& interrupt) {
    ProofAnswers out;
    out.proved.resize(batch.goals.size());
    if (batch.goals.empty()) return out;
    EvalSettings settings;
    settings.time_limit = batch.time_limit;
    settings.sandbox = batch.sandbox;
    const std::string text = program_of(batch);
    with_process_prover([&](Prover& prover) {
        PrivateDir workdir;
        prover.load_background(batch.background, settings);
        prover.load_theory(text, workdir.path(), settings);
        UnloadWhenDone unload{prover};
        prover.set_goal_arguments(batch.example_arguments);
        std::vector<std::size_t> positions;
        for (std::size_t g = 0; g < batch.goals.size(); ++g) {
            interrupt.check();
            const ProofGoal& goal = batch.goals[g];
            if (goal.examples.empty()) continue;
            positions.assign(goal.examples.begin(), goal.examples.end());
            const std::vector<Outcome> outcomes =
                prover.prove_some(goal.name, positions, kSearchInferenceLimit, settings);
            for (std::size_t k = 0; k < outcomes.size(); ++k) {
                if (outcomes[k] == Outcome::proved) out.proved[g].push_back(goal.examples[k]);
                else if (outcomes[k] == Outcome::limit_exceeded) ++out.over_limit;
            }
        }
    });
    return out;
}

}  // namespace vantor::eval
