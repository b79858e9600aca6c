// Coverage of candidate rules as the Prolog engine proves it.
//
// The text stage says a rule covers an example when the same rule text comes
// out of that example's bottom clause; the engine may prove many more (or,
// with constants, fewer) examples with it. Selection over proved coverage
// sees what evaluation will see. Every candidate is loaded once, under a
// head of its own, beside the background; each example is then a goal of
// that head.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "eval/prover.hpp"
#include "host.hpp"
#include "learn/cover_selection.hpp"

namespace vantor::eval {

struct RuleProofs {
    // One entry per rule: covered positions of `pos` and of `neg`, body length.
    std::vector<learn::ProvedRule> rules;
    // Goals that ran out of inferences (counted as not proved).
    std::size_t over_limit = 0;
    // Goals that ran past the time bound or out of table space (not proved).
    std::size_t over_time = 0;
};

// Rules in either text form (body joined by "&" or ","), all of one head
// predicate, the target; examples are its ground literals, each read by the
// engine as exactly one fact of the target. `known_facts` (texts such as
// "p(a,b)", read the same way) are loaded beside the rules: a recursive
// candidate's calls of the target are answered by the training positives
// given here. Rules over a background of plain facts are answered whole
// from the indexed facts (and the known facts) in this process; otherwise the
// goals go to `service` in two batches: every distinct head-linked literal
// on every example, then the rules' remaining parts where their literals
// allow. The background loads and every goal runs under `settings` (time
// bound, sandbox) as in an evaluation. Throws ValueError for a rule
// without ":-", RefusedInput for an example or fact that is not one fact of
// the target, PrologError when the engine cannot load the rules, a goal
// raises or the sandbox refuses it, Interrupted. `prover` is
// BatchProver::engine to have every goal proved by the service's engines,
// never from the indexed facts.
RuleProofs prove_rules(const std::vector<std::string>& rules, const std::string& background,
                       const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                       ProvingService& service, Interrupt& interrupt,
                       const std::vector<std::string>& known_facts = {}, const EvalSettings& settings = {},
                       BatchProver prover = BatchProver::facts);

// The same proved in this process (over indexed facts where that answers as
// the engine does, in the engine otherwise).
RuleProofs prove_rules(const std::vector<std::string>& rules, const std::string& background,
                       const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                       Interrupt& interrupt, const std::vector<std::string>& known_facts = {},
                       const EvalSettings& settings = {}, BatchProver prover = BatchProver::facts);

}  // namespace vantor::eval
