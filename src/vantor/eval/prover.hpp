// The seam evaluation and learning prove through: the engine's Prover
// interface and its settings, under the names evaluation code has always
// used.
#pragma once

#include "engine/errors.hpp"
#include "engine/prover.hpp"

namespace vantor::eval {

using engine::EvalSettings;
using engine::Interrupted;
using engine::kDefaultTimeLimit;
using engine::kInferenceLimit;
using engine::kTableSpaceBytes;
using engine::Outcome;
using engine::PrologError;
using engine::PrologUnavailable;
using engine::Prover;
using engine::RefusedInput;
using engine::absolute_background;
using engine::process_prover;
using engine::with_process_prover;

}  // namespace vantor::eval
