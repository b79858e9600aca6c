// The core's proving service over Python: batches handed to a callable that
// spreads them over joblib workers, and the conversions of a batch and its
// answers between the core and the Python values a worker receives.
#include "py_proving.hpp"

#include <nanobind/stl/tuple.h>

#include "eval/fact_proving.hpp"
#include "learn/search.hpp"

namespace vantor::py {

ProofBatch batch_of(const std::string& background, std::vector<std::string> arguments, std::string common,
                    ProofLists lists, const ProofGoals& goals, double time_limit, bool sandbox,
                    std::int64_t inference_limit, const std::string& prover, bool engine_verdict_pending) {
    ProofBatch batch{background, std::move(arguments), std::move(common), std::move(lists), {}, time_limit, sandbox,
                     inference_limit, learn::batch_prover_named(prover), engine_verdict_pending};
    for (const auto& [clauses, name, list, gates] : goals) {
        ProofGoal goal{clauses, name, list, {}};
        for (const auto& [examples, proved] : gates) goal.gates.push_back({examples, proved});
        batch.goals.push_back(std::move(goal));
    }
    return batch;
}

ProofGoals goals_of(const ProofBatch& batch) {
    ProofGoals goals;
    for (const ProofGoal& g : batch.goals) {
        ProofGates gates;
        for (const ProofGate& gate : g.gates) gates.emplace_back(gate.examples, gate.proved);
        goals.emplace_back(g.clauses, g.name, g.list, std::move(gates));
    }
    return goals;
}

ProofAnswers PyProving::prove(const ProofBatch& batch) {
    nb::gil_scoped_acquire gil;
    const char* prover = batch.prover == BatchProver::engine ? "engine" : "facts";
    nb::object result = prove_(batch.background, batch.example_arguments, batch.common, batch.example_lists,
                               goals_of(batch), batch.time_limit, batch.sandbox, batch.inference_limit, prover,
                               batch.engine_verdict_pending || eval::load_runs_beside(batch));
    FullAnswers answers = nb::cast<FullAnswers>(result);
    ProofAnswers out{std::move(std::get<0>(answers)), std::get<1>(answers), std::get<2>(answers),
                     std::move(std::get<3>(answers))};
    if (out.proved.size() != batch.goals.size()) throw ValueError("the proving service answered the wrong number of goals");
    return out;
}

}  // namespace vantor::py
