// Proving search clauses natively when the background is ground facts.
//
// Most of a refinement search's time goes to proofs of short clauses over a
// background of facts. When everything a batch holds is within what a join
// over indexed facts answers exactly as the engine does (ground facts of
// atoms and numbers; clauses whose bodies call those facts or compare
// numbers), the batch is proved here; anything else (rules, directives,
// other built-ins, a goal needing many steps) goes to the engine, whole, so
// the answers never differ.
#pragma once

#include <optional>

#include "host.hpp"

namespace vantor::eval {

// The answers for `batch` proved over its facts, or nothing when the engine
// must answer. Honours the goals' gates and their order; never counts a
// goal over the inference limit (one that might be is left to the engine).
std::optional<ProofAnswers> prove_with_facts(const ProofBatch& batch, Interrupt& interrupt);

// Whether fact proving is on: the environment variable VANTOR_PROVER set to
// "engine" turns it off (to compare the two in benchmarks).
bool fact_proving_enabled();

// Fact proving where it applies, the engine otherwise.
class FactProving final : public ProvingService {
public:
    explicit FactProving(Interrupt& interrupt) : interrupt_(interrupt) {}
    ProofAnswers prove(const ProofBatch& batch) override;

private:
    Interrupt& interrupt_;
};

// The same choice for one batch (the bindings' worker entry).
ProofAnswers prove_batch_any(const ProofBatch& batch, Interrupt& interrupt);

}  // namespace vantor::eval
