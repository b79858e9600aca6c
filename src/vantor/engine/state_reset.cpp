// What an evaluation leaves in the engine is removed when it ends
// (prolog/state.pl): predicates it added to module user, flags, operators,
// character conversions, global variables and tabled answers.
#include "engine/engine_calls.hpp"
#include "engine/prolog_engine.hpp"

namespace vantor::engine {

using namespace calls;

void restore_state() { run(helpers.restore_state); }

void abolish_tables() { run(helpers.abolish); }

}  // namespace vantor::engine
