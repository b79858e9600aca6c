// What the embedded engine throws; the bindings turn each into the host's
// fitting exception.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace vantor::engine {

// An error raised by the engine (load error, syntax error in a goal, an
// existence error while proving ...). what() is the engine's message text.
struct PrologError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Input refused before the engine runs it: a rule text that is not exactly
// one clause, an example that is not one fact of the target. The host raises
// it as both a ValueError and a PrologError.
struct RefusedInput : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One text of a list handed to the engine (examples' arguments, facts) was
// refused; `index` is its position in the list.
struct ArgumentsRefused : RefusedInput {
    ArgumentsRefused(std::size_t at, const std::string& problem) : RefusedInput(problem), index(at) {}
    std::size_t index;
};

// The engine could not be started (shared library or its home missing).
struct PrologUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The host's interrupt (Ctrl-C) stopped a load or a goal. The caller turns
// it into the host's own exception.
struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

}  // namespace vantor::engine
