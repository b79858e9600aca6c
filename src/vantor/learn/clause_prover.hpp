// Proving the search's clauses through a proving service.
//
// A refinement is proved only on the examples its parent proves, and only
// through the independent parts (learn/clause_parts.hpp) it does not share
// with its parent: the parent's parts hold on every one of those examples.
// The answers of each part are kept for the prover's life (one covering
// step), so a part met again in a sibling, another node or another seed's
// search is proved once per example.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "host.hpp"
#include "learn/refinement.hpp"

namespace vantor::learn {

// Proves clauses of one head on subsets of a fixed list of examples, through
// a proving service.
class ClauseProver {
public:
    ClauseProver(ProvingService& service, ProofBatch base) : service_(service), base_(std::move(base)) {}
    // For each clause, which of its `examples` (indexes into the example
    // list) it proves, in their order, stopping at a gate it fails.
    std::vector<std::vector<std::uint32_t>> prove(const Literal& head, const std::vector<const Clause*>& clauses,
                                                  const std::vector<const std::vector<std::uint32_t>*>& examples,
                                                  const std::vector<std::vector<ProofGate>>* gates = nullptr);
    // Refinements of one clause, each given by its new part (new_part();
    // "" for none), on `examples` (all of which the clause proves), as
    // prove() answers them. Only the new parts are proved, and the answers
    // of every part are kept: a part met again in a sibling, another node
    // or another seed's search is proved once per example.
    std::vector<std::vector<std::uint32_t>> prove_refinements(const std::vector<std::string>& parts,
                                                              const std::vector<std::uint32_t>& examples,
                                                              const std::vector<std::vector<ProofGate>>& gates);
    // Whether the part is known not to prove the example.
    bool fails(const std::string& part, std::uint32_t example) const;
    std::size_t over_limit() const { return over_limit_; }
    // Example proofs asked for so far (a count of the work, not of time).
    std::size_t proofs() const { return proofs_; }

private:
    // What is known of one part: the examples tried and those proved (bit
    // e of each for example e).
    struct PartAnswers {
        std::vector<std::uint64_t> tried, proved;
    };
    PartAnswers& answers_of(const std::string& part);
    // The base batch with these goals and example lists, proved.
    ProofAnswers ask(std::vector<ProofGoal> goals, std::vector<std::vector<std::uint32_t>> lists);
    // One batch of the questions still open for `parts`; false when none is.
    bool ask_round(const std::vector<std::string>& parts, const std::vector<std::uint32_t>& examples,
                   const std::vector<std::vector<ProofGate>>& gates);

    ProvingService& service_;
    ProofBatch base_;
    std::unordered_map<std::string, PartAnswers> parts_;
    std::size_t part_bytes_ = 0;
    std::size_t over_limit_ = 0;
    std::size_t proofs_ = 0;
};

}  // namespace vantor::learn
