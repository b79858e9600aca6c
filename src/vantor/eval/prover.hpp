// What evaluation needs from a Prolog engine, as a small interface: the
// background and one theory loaded side by side, goals proved once under an
// inference limit. Evaluation is written against it so that later work can
// prove rules in several engines at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace vantor::eval {

enum class Outcome { proved, not_proved, limit_exceeded };

class Prover {
public:
    virtual ~Prover() = default;

    // Makes the clauses of the background file (an absolute path) available
    // to the next theory. An engine may keep them from an earlier call while
    // the file is unchanged.
    virtual void load_background(const std::string& path) = 0;

    // Loads the text of a theory source file (written under `workdir`, a
    // directory the caller owns and removes), replacing any earlier theory.
    // Proving then behaves as if the theory text and the background had been
    // loaded as one file, theory first. Throws PrologError with the load's
    // error messages.
    virtual void load_theory(const std::string& theory_text, const std::filesystem::path& workdir) = 0;

    // Proves `goal_text` once. Throws PrologError when the text does not
    // parse or the goal raises.
    virtual Outcome prove(const std::string& goal_text, std::int64_t inference_limit) = 0;

    // Drops the theory's clauses and every tabled answer; the background may
    // stay for the next theory.
    virtual void unload() = 0;
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

}  // namespace vantor::eval
