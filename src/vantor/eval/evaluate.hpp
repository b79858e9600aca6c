// Scoring a theory in the embedded SWI-Prolog engine, and the five measures
// of a confusion count.
//
// The engine is one per process: started on first use and shared by every
// evaluation; it keeps a background file loaded while the file is unchanged,
// and drops each theory when its evaluation ends. Evaluations through it are
// serialised by a process-wide lock (they share its clauses); any thread may
// call, the engine is attached to it for the call.
//
// Call with the host's interpreter lock released: the engine may run for a
// long time, and Output implementations take the lock back themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "eval/prover.hpp"
#include "host.hpp"

namespace vantor::eval {

// Python's round(x, 3): correctly rounded (ties to even) from the exact
// binary value of x.
double round3(double x);

// The five measures; an absent value is a zero denominator.
struct Metrics {
    std::optional<double> accuracy, precision, sensitivity, specificity, fscore;
};

// Throws ValueError naming a negative count.
Metrics compute_metrics(std::int64_t tp, std::int64_t tn, std::int64_t fp, std::int64_t fn);

struct EvalResult {
    // An empty theory is not run in the engine: it proves nothing, so its
    // counts are all negatives refused and all positives missed.
    bool empty_theory = false;
    std::int64_t tp = 0, tn = 0, fp = 0, fn = 0;
    Metrics metrics;
    // With EvalSettings::keep_each: 1 where the example was proved, pos then neg.
    std::vector<char> proved;
    // Examples whose goal ran out of inferences (counted as not proved).
    std::vector<std::string> limit_exceeded;
    // Examples whose goal ran past the time bound or out of table space
    // (counted as not proved; one warning for all of them).
    std::vector<std::string> time_exceeded, space_exceeded;
    // Where the time went: writing the working files (ours), loading them
    // and proving the examples (the engine's).
    double write_seconds = 0, load_seconds = 0, query_seconds = 0;
};

// Called once for every example whose goal exceeded the inference limit,
// right after that goal; the host turns it into a RuntimeWarning.
using LimitWarning = std::function<void(const std::string& message)>;

inline constexpr const char* kTrainingBanner = "+----------+ Training +----------+";
inline constexpr const char* kTestingBanner = "+----------+ Testing +----------+";

// Loads the background file and the theory into a prover, proves every
// example once (pos first, then neg), prints the banner and the two tables
// to `out` unless `quiet`, and returns the counts and measures. The working
// files ("copy_bk.pl", "test_bk.pl") go into a directory made for the call
// and removed on every way out, never into the current directory.
// `interrupt` is checked before every example; what it throws passes
// through. Without a `prover` the process's engine is used, one evaluation
// at a time, with the calling thread given an engine for the call, and
// every rule must read as exactly one clause. `settings` bound the time of
// the load and of each goal and may put the background in a sandbox.
// Throws FileNotFound or OSError (file_1, the working files), ValueError
// (an empty rule), RefusedInput (a rule that is not one clause, an example
// calling a built-in), PrologError, PrologUnavailable, Interrupted.
EvalResult evaluate_theory(const std::vector<std::string>& theory, const std::string& file_1,
                           const std::vector<std::string>& pos, const std::vector<std::string>& neg,
                           bool quiet, const char* banner, Output& out,
                           const LimitWarning& on_limit = {}, Interrupt* interrupt = nullptr,
                           Prover* prover = nullptr, const EvalSettings& settings = {});

// The text of "copy_bk.pl" for a theory (exposed for tests and benchmarks).
// Throws ValueError for an empty rule.
std::string theory_file_text(const std::vector<std::string>& theory);

// The two bordered tables as printed (no trailing line break).
std::string confusion_table(std::int64_t tp, std::int64_t tn, std::int64_t fp, std::int64_t fn);
std::string metrics_table(const Metrics& m);

}  // namespace vantor::eval
