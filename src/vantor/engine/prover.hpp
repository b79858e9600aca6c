// What evaluation needs from a Prolog engine, as a small interface: the
// background and one theory loaded side by side, goals proved once under an
// inference limit. Evaluation is written against it so that later work can
// prove rules in several engines at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/errors.hpp"

namespace vantor::engine {

// How one goal ended. A goal out of inferences, past the time bound or out
// of table space counts as not proved.
enum class Outcome { proved, not_proved, limit_exceeded, time_exceeded, space_exceeded };

// Wall-clock seconds a background load or a single goal may take by default:
// far beyond anything an ordinary data set needs (a goal stops at 10 million
// inferences well within a few seconds), so only runaway code meets it.
inline constexpr double kDefaultTimeLimit = 300.0;

// Inferences a single goal may use before it counts as not proved.
inline constexpr std::int64_t kInferenceLimit = 10'000'000;

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
    // Keep each example's outcome in EvalResult::proved (for predictions).
    bool keep_each = false;
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
    // parse, the goal raises or the sandbox refuses it, RefusedInput when
    // the text holds more than one term or the example calls a built-in or
    // library predicate, Interrupted.
    virtual Outcome prove(const std::string& goal_text, std::int64_t inference_limit,
                          const EvalSettings& settings) = 0;

    // Many goals of one shape: `name` applied to each argument tuple given to
    // set_goal_arguments ("(a,b)", or "" for none). The same outcomes as
    // prove() on each goal text, under the same settings; an engine may read
    // the tuples only once, and throw ArgumentsRefused naming the first that
    // does not read as exactly one argument list.
    virtual void set_goal_arguments(const std::vector<std::string>& argument_texts) {
        goal_arguments_ = argument_texts;
    }
    virtual std::vector<Outcome> prove_each(const std::string& name, std::int64_t inference_limit,
                                            const EvalSettings& settings) {
        std::vector<Outcome> out;
        out.reserve(goal_arguments_.size());
        for (const std::string& args : goal_arguments_) out.push_back(prove(name + args, inference_limit, settings));
        return out;
    }
    // The same for the tuples at `positions` (0-based, in that order) only.
    virtual std::vector<Outcome> prove_some(const std::string& name, const std::vector<std::size_t>& positions,
                                            std::int64_t inference_limit, const EvalSettings& settings) {
        std::vector<Outcome> out;
        out.reserve(positions.size());
        for (std::size_t p : positions) out.push_back(prove(name + goal_arguments_.at(p), inference_limit, settings));
        return out;
    }

    // Drops the theory's clauses, every tabled answer and whatever the
    // evaluation added to the engine; the background may stay for the next
    // theory.
    virtual void unload() = 0;

private:
    std::vector<std::string> goal_arguments_;
};

// The SWI-Prolog engine of the process. Not locked: callers serialise their
// use of it (evaluate_theory does) and give the calling thread an engine.
Prover& process_prover();

// Runs `work` with the process's engine, attached to the calling thread,
// while no other evaluation uses it.
void with_process_prover(const std::function<void(Prover&)>& work);

// The background file name as the engine must see it (absolute); throws
// FileNotFound or OSError when it cannot be read, before anything is written.
std::string absolute_background(const std::string& file_1);

}  // namespace vantor::engine
