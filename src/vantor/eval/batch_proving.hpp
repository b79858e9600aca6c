// Proving batches of search clauses in the engine of this process.
//
// The refinement search asks for many small proofs: each new clause on the
// examples its parent covers. A batch loads its clauses once beside the
// background (kept by the engine while the file is unchanged), reads the
// examples' arguments once and proves each goal on its own examples only.
#pragma once

#include <cstdint>

#include "host.hpp"

namespace vantor::eval {

// A search goal stops after this many inferences and counts as not proved:
// far more than any clause of a few literals over facts needs, far less than
// evaluation allows, so one runaway refinement cannot stall the search.
inline constexpr std::int64_t kSearchInferenceLimit = 2'000'000;

// Proves every goal of `batch` in the process's engine. Throws PrologError
// when the background or the clauses do not load, Interrupted when the host
// interrupts.
ProofAnswers prove_batch(const ProofBatch& batch, Interrupt& interrupt);

// The in-process proving service (no host code runs while it proves).
class EngineProving final : public ProvingService {
public:
    explicit EngineProving(Interrupt& interrupt) : interrupt_(interrupt) {}
    ProofAnswers prove(const ProofBatch& batch) override { return prove_batch(batch, interrupt_); }

private:
    Interrupt& interrupt_;
};

}  // namespace vantor::eval
