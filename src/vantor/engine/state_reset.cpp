// What an evaluation leaves in the engine is removed when it ends
// (prolog/state.pl): predicates it added to module user and tabled answers.
#include "engine/engine_calls.hpp"
#include "engine/prolog_engine.hpp"

namespace vantor::engine {

using namespace calls;

void sweep_user_module() { run(helpers.sweep); }

void abolish_tables() { run(helpers.abolish); }

}  // namespace vantor::engine
