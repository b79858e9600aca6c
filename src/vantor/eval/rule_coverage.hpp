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

#include "host.hpp"
#include "learn/cover_selection.hpp"

namespace vantor::eval {

struct RuleProofs {
    // One entry per rule: covered positions of `pos` and of `neg`, body length.
    std::vector<learn::ProvedRule> rules;
    // Goals that ran out of inferences (counted as not proved).
    std::size_t over_limit = 0;
};

// Rules in either text form (body joined by "&" or ","); examples are the
// target's ground literals. `known_facts` (texts such as "p(a,b)") are
// loaded beside the rules: a recursive candidate's calls of the target are
// answered by the training positives given here. Throws ValueError for a
// rule without ":-", PrologError when the engine cannot load the rules or a
// goal raises.
RuleProofs prove_rules(const std::vector<std::string>& rules, const std::string& background,
                       const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                       Interrupt& interrupt, const std::vector<std::string>& known_facts = {});

}  // namespace vantor::eval
