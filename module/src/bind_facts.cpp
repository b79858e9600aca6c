// Proving one batch of search goals with a chosen prover, to compare fact
// proving with the engine.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/tuple.h>

#include "bindings.hpp"
#include "eval/batch_proving.hpp"
#include "eval/fact_proving.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

using Gates = std::vector<std::tuple<std::uint32_t, std::uint32_t>>;
using Goals = std::vector<std::tuple<std::string, std::string, std::uint32_t, Gates>>;
using Lists = std::vector<std::vector<std::uint32_t>>;
using Answers = std::tuple<std::vector<std::vector<std::uint32_t>>, std::size_t>;

// "engine": the engine; "facts": fact proving, None where it would leave
// the batch to the engine.
std::optional<Answers> prove_with(const std::string& prover, const std::string& background,
                                  std::vector<std::string> arguments, std::string common, Lists lists,
                                  const Goals& goals, double time_limit, bool sandbox) {
    if (prover != "engine" && prover != "facts") throw ValueError("prover must be 'engine' or 'facts'");
    ProofBatch batch{background, std::move(arguments), std::move(common), std::move(lists), {}, time_limit, sandbox};
    for (const auto& [clauses, name, list, gates] : goals) {
        ProofGoal goal{clauses, name, list, {}};
        for (const auto& [examples, proved] : gates) goal.gates.push_back({examples, proved});
        batch.goals.push_back(std::move(goal));
    }
    PyInterrupt interrupt;
    std::optional<ProofAnswers> answers;
    {
        nb::gil_scoped_release release;
        if (prover == "engine") answers = eval::prove_batch(batch, interrupt);
        else answers = eval::prove_with_facts(batch, interrupt);
    }
    if (!answers) return std::nullopt;
    return Answers{std::move(answers->proved), answers->over_limit};
}

}  // namespace

void bind_facts(nb::module_& m) {
    m.def("_prove_batch_with", &prove_with, "prover"_a, "background"_a, "arguments"_a, "common"_a, "lists"_a,
          "goals"_a, "time_limit"_a, "sandbox"_a,
          "One batch of search goals proved by the engine or by fact proving (None where fact "
          "proving leaves it to the engine).");
}

}  // namespace vantor::py
