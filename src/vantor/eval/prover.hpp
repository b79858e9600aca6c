// What evaluation needs from a Prolog engine, as a small interface: the
// background and one theory loaded side by side, goals proved once under an
// inference limit. Evaluation is written against it so that later work can
// prove rules in several engines at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace vantor::eval {

// How one goal ended. A goal out of inferences, past the time bound or out
// of table space counts as not proved.
enum class Outcome { proved, not_proved, limit_exceeded, time_exceeded, space_exceeded };

// Wall-clock seconds a background load or a single goal may take by default:
// far beyond anything an ordinary data set needs (a goal stops at 10 million
// inferences well within a few seconds), so only runaway code meets it.
inline constexpr double kDefaultTimeLimit = 300.0;

// Bytes of answer tables the engine may hold (its table_space flag).
inline constexpr std::int64_t kTableSpaceBytes = std::int64_t{1} << 30;

// What an evaluation allows the code it runs.
struct EvalSettings {
    // Seconds for loading the background (with the theory) and for each
    // goal; zero or less means no bound.
    double time_limit = kDefaultTimeLimit;
    // Loads the background under library(sandbox): directives and clauses
    // that could touch the host (shell, files, threads, halt, other
    // modules, hooks) are refused, and every goal must be safe.
    bool sandbox = false;
};

// The host's interrupt (Ctrl-C) stopped a load or a goal. The caller turns
// it into the host's own exception.
struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

class Prover {
public:
    virtual ~Prover() = default;

    // Makes the clauses of the background file (an absolute path) available
    // to the next theory. An engine may keep them from an earlier call while
    // the file is unchanged.
    // Throws PrologError when the load fails, runs past the time bound or is
    // refused by the sandbox, Interrupted when the host interrupts it.
    virtual void load_background(const std::string& path, const EvalSettings& settings) = 0;

    // Loads the text of a theory source file (written under `workdir`, a
    // directory the caller owns and removes), replacing any earlier theory.
    // Proving then behaves as if the theory text and the background had been
    // loaded as one file, theory first. Throws PrologError with the load's
    // error messages.
    virtual void load_theory(const std::string& theory_text, const std::filesystem::path& workdir,
                             const EvalSettings& settings) = 0;

    // Proves `goal_text` once. Throws PrologError when the text does not
    // parse, the goal raises or the sandbox refuses it, ValueError when the
    // example calls a built-in or library predicate, Interrupted.
    virtual Outcome prove(const std::string& goal_text, std::int64_t inference_limit,
                          const EvalSettings& settings) = 0;

    // Drops the theory's clauses, every tabled answer and whatever the
    // evaluation added to the engine; the background may stay for the next
    // theory.
    virtual void unload() = 0;
};

// The SWI-Prolog engine of the process. Not locked: callers serialise their
// use of it (evaluate_theory does) and give the calling thread an engine.
Prover& process_prover();

}  // namespace vantor::eval
