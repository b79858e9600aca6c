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

#include <exception>
#include <optional>
#include <string>
#include <thread>

#include "host.hpp"

namespace vantor::eval {

// The answers for `batch` proved over its facts, or nothing when the engine
// must answer. Honours the goals' gates and their order; never counts a
// goal over the inference limit (one that might be is left to the engine).
std::optional<ProofAnswers> prove_with_facts(const ProofBatch& batch, Interrupt& interrupt);

// Whether a load of the batch's background runs beside the search on this
// thread (see EngineLoadBeside).
bool load_runs_beside(const ProofBatch& batch);

// The engine's first load of a background, run on a thread of its own while
// the search proves over facts: for a large background that load is most of
// the one-time cost, and the evaluation after the search needs it anyway.
// While it runs, fact proving for that background on the thread that made
// this object answers without waiting for its verdict; finish() then throws
// what the load threw (the engine's refusal of the file, a time limit), so
// that no answer of a file the engine refuses is ever used.
class EngineLoadBeside {
public:
    EngineLoadBeside(std::string background, double time_limit, bool sandbox);
    ~EngineLoadBeside();  // waits for the load; never throws
    EngineLoadBeside(const EngineLoadBeside&) = delete;
    EngineLoadBeside& operator=(const EngineLoadBeside&) = delete;
    // Waits for the load; throws what it threw.
    void finish();

private:
    void wait();
    ProofBatch check_;
    std::thread::id owner_;
    std::thread thread_;
    std::exception_ptr error_;
    bool waited_ = false;
};

// Fact proving where it applies, the engine otherwise (every batch whose
// prover is BatchProver::engine).
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
