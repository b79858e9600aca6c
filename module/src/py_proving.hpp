// The core's proving service over a Python callable, and a proving batch as
// the Python values handed to workers: goals as (clauses, name, list,
// gates), gates as (examples, proved).
#pragma once

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "bindings.hpp"

namespace vantor::py {

using ProofGates = std::vector<std::tuple<std::uint32_t, std::uint32_t>>;
using ProofGoals = std::vector<std::tuple<std::string, std::string, std::uint32_t, ProofGates>>;
using ProofLists = std::vector<std::vector<std::uint32_t>>;
// (proved per goal, goals over the inference limit, goals past the time
// bound, examples cut short per goal).
using FullAnswers = std::tuple<ProofLists, std::size_t, std::size_t, ProofLists>;

// `prover` as the option names it ("facts" or "engine").
ProofBatch batch_of(const std::string& background, std::vector<std::string> arguments, std::string common,
                    ProofLists lists, const ProofGoals& goals, double time_limit, bool sandbox,
                    std::int64_t inference_limit = 0, const std::string& prover = "facts",
                    bool engine_verdict_pending = false);

ProofGoals goals_of(const ProofBatch& batch);

// Hands every batch to prove(background, arguments, common, lists, goals,
// time_limit, sandbox, inference_limit, prover, engine_verdict_pending) ->
// FullAnswers, taking the GIL; prover is "facts" or "engine". The last is
// true when a load beside the search will give the engine's verdict on the
// background, so that workers need not load it to answer from its facts.
class PyProving final : public ProvingService {
public:
    explicit PyProving(nb::handle prove) : prove_(prove) {}
    ProofAnswers prove(const ProofBatch& batch) override;

private:
    nb::handle prove_;
};

}  // namespace vantor::py
