// What the core needs from its host, given to it as small interfaces.
//
// The core never talks to Python. Random draws, progress display and printed
// output belong to the host (the library's one random generator is the
// host's, so that seeding it in a script makes a run repeatable); the
// bindings implement these interfaces over Python's random module, tqdm and
// sys.stdout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void seed(std::int64_t value) = 0;
    // k distinct positions of a population of size n, in draw order; the same
    // positions random.sample(range(n), k) gives. k > n is an error.
    virtual std::vector<std::size_t> sample(std::size_t n, std::size_t k) = 0;
    // Permutes ids in place as random.shuffle does.
    virtual void shuffle(std::vector<std::size_t>& ids) = 0;
};

class Progress {
public:
    virtual ~Progress() = default;
    virtual void start(std::size_t total, std::string_view description) = 0;
    virtual void advance(std::size_t steps) = 0;
    virtual void finish() = 0;
};

class Output {
public:
    virtual ~Output() = default;
    // Prints one text followed by a line break.
    virtual void print(std::string_view text) = 0;
    // Writes a text as it is (output of programs the core runs, which
    // brings its own line breaks).
    virtual void write(std::string_view text) {
        if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
        print(text);
    }
};

// Lets a long call notice the user's interrupt (Ctrl-C, a notebook's stop
// button). check() returns when nothing is pending and throws otherwise (the
// host's own exception, which the bindings turn back into KeyboardInterrupt);
// it is cheap enough to call once per example, and callers must let what it
// throws pass, cleaning up on the way.
class Interrupt {
public:
    virtual ~Interrupt() = default;
    virtual void check() = 0;
};

// Never interrupted (tests, benchmarks, nested stages given no host).
class NoInterrupt final : public Interrupt {
public:
    void check() override {}
};

// Progress display that shows nothing (quiet runs, tests).
class NoProgress final : public Progress {
public:
    void start(std::size_t, std::string_view) override {}
    void advance(std::size_t) override {}
    void finish() override {}
};

// A checkpoint of a goal: once its first `examples` examples are tried, at
// least `proved` of them must have been proved, or the rest is skipped.
struct ProofGate {
    std::uint32_t examples = 0;
    std::uint32_t proved = 0;
};

// One goal of a proving batch: the clauses that define `name` (Prolog text,
// each ending with "."), proved on the examples of the batch's list `list`
// in that order, stopping at a gate it fails.
struct ProofGoal {
    std::string clauses;
    std::string name;
    std::uint32_t list = 0;
    std::vector<ProofGate> gates;  // ascending by `examples`
};

// How a batch is proved: over the background's indexed facts where that
// answers exactly as the engine would (the engine otherwise), or always in
// the engine.
enum class BatchProver { facts, engine };

// A batch of goals over one background and one list of examples.
struct ProofBatch {
    std::string background;                      // absolute path
    std::vector<std::string> example_arguments;  // "(a,b)" per example
    std::string common;                          // clauses every goal sees (known facts, tables)
    // Lists of indexes into example_arguments that goals are proved on
    // (many goals share one list).
    std::vector<std::vector<std::uint32_t>> example_lists;
    std::vector<ProofGoal> goals;
    double time_limit = 0.0;                     // seconds per load and goal; <= 0: none
    bool sandbox = false;
    // Inferences per example proof; <= 0: the search's own limit.
    std::int64_t inference_limit = 0;
    BatchProver prover = BatchProver::facts;
    // Set when the search this batch serves has the engine load the
    // background beside it and uses no answer if that load fails: fact
    // proving may then answer without the engine's verdict on the file.
    bool engine_verdict_pending = false;
};

// Proves batches of clauses for the search. The core has an in-process
// implementation; a host may spread the goals over several engines (the
// bindings hand them to joblib workers). Either way the answer is the same:
// for each goal, the indexes of its examples that were proved (in the
// goal's order, up to the gate it failed), and the count of goals cut short
// by the inference limit.
struct ProofAnswers {
    std::vector<std::vector<std::uint32_t>> proved;
    std::size_t over_limit = 0;
    // Goals past the time bound or out of table space (not proved either).
    std::size_t over_time = 0;
    // Per goal (or empty: none), the examples cut short by the inference
    // limit: undecided rather than failed, which callers that filter later
    // goals by earlier answers need to know.
    std::vector<std::vector<std::uint32_t>> cut_short;
};

class ProvingService {
public:
    virtual ~ProvingService() = default;
    virtual ProofAnswers prove(const ProofBatch& batch) = 0;
};

// Error kinds the bindings translate into the fitting host exception.
struct FileNotFound : std::runtime_error {
    std::string path;
    explicit FileNotFound(std::string p)
        : std::runtime_error("No such file or directory: '" + p + "'"), path(std::move(p)) {}
};
// Any other operating-system failure on a path (permission denied, a full
// disk, a directory where a file was expected ...): `error` is the errno,
// the host raises the fitting OSError subclass with the message and path.
struct OSError : std::runtime_error {
    int error;
    std::string path;
    OSError(int err, std::string p, const std::string& message)
        : std::runtime_error(message), error(err), path(std::move(p)) {}
};
struct ValueError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};
struct TypeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct KeyError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct IndexError : std::out_of_range {
    using std::out_of_range::out_of_range;
};
struct ZeroDivision : std::domain_error {
    using std::domain_error::domain_error;
};

}  // namespace vantor
