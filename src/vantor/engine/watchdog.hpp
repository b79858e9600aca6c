// Internal to engine/: starting the watchdog that enforces time bounds and
// the host's interrupt on the running goal or load.
#pragma once

namespace vantor::engine {

// Defines vantor_eval:vantor_arm/2, vantor_restart/1 and vantor_disarm/1
// (used by the helpers' bounded/3 and batches) and starts the watchdog thread; the engine must be
// running. Throws PrologUnavailable.
void start_watchdog();

}  // namespace vantor::engine
