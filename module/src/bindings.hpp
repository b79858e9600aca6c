// Shared pieces of the bindings: one bind_* function per subsystem, host
// adapters and conversions of host values.
#pragma once

#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/vector.h>

#include <optional>
#include <string>
#include <vector>

#include "casters.hpp"
#include "data/bottom_clause_set.hpp"
#include "eval/evaluate.hpp"
#include "run/learning_run.hpp"
#include "engine/prolog_engine.hpp"
#include "host.hpp"
#include "text/clause.hpp"
#include "text/substitution.hpp"

namespace nb = nanobind;


namespace vantor::py {

void bind_errors(nb::module_& m);
void bind_text(nb::module_& m);
void bind_data(nb::module_& m);
void bind_bottom(nb::module_& m);
void bind_candidates(nb::module_& m);
void bind_learn(nb::module_& m);
void bind_eval(nb::module_& m);
void bind_folds(nb::module_& m);
void bind_abduce(nb::module_& m);
void bind_tabular(nb::module_& m);
void bind_proving(nb::module_& m);
void bind_refine(nb::module_& m);

// The calling thread's generator (vantor._host.generator()): Python's
// random module unless the caller chose its own.
class PyRandom final : public RandomSource {
public:
    void seed(std::int64_t value) override;
    std::vector<std::size_t> sample(std::size_t n, std::size_t k) override;
    void shuffle(std::vector<std::size_t>& ids) override;
};

// A tqdm bar on sys.stderr; shows nothing when disabled.
class TqdmProgress final : public Progress {
public:
    explicit TqdmProgress(bool disable) : disable_(disable) {}
    ~TqdmProgress() override;
    void start(std::size_t total, std::string_view description) override;
    void advance(std::size_t steps) override;
    void finish() override;

private:
    bool disable_;
    nb::object bar_;
};

// Python's pending signals (Ctrl-C) as the core's interrupt: check() takes
// the GIL at most every few milliseconds and raises what the signal handler
// raised (KeyboardInterrupt) as nb::python_error.
class PyInterrupt final : public Interrupt {
public:
    void check() override;

private:
    std::int64_t last_check_ns_ = 0;
};

// The engine's settings from the host's time_limit (seconds, or None for no
// bound) and sandbox; throws TypeError / ValueError naming time_limit.
eval::EvalSettings settings_from(nb::handle time_limit, bool sandbox);

// The one source of the RuntimeWarning for an example whose goal ran out of
// inferences (every evaluation passes it to the core). Defined in
// bind_eval.cpp.
eval::LimitWarning inference_limit_warning();

// Lines printed to the calling thread's stream (vantor._host.output()):
// sys.stdout unless the caller chose its own, so redirect_stdout and
// notebooks see them.
class PyStdout final : public Output {
public:
    void print(std::string_view text) override;
    void write(std::string_view text) override;
};

// Learning runs over the host: Python's random module, sys.stdout, Ctrl-C,
// tqdm bars unless quiet, the theory printed through sys.stdout and engine
// warnings as RuntimeWarning.
struct PyLearningHost {
    explicit PyLearningHost(bool quiet);
    PyRandom rng;
    PyStdout out;
    PyInterrupt interrupt;
    run::LearningHost host;
    std::optional<engine::SigintStopsEngine> stops;
};

// Whether the calling thread is Python's main thread (the one signals reach).
bool on_main_thread();

// The banner "+----------+ Hypothesis +----------+" and the theory in list
// notation, through sys.stdout. Takes the GIL.
void print_theory(const std::vector<std::string>& theory);

// The five measures of an evaluation as the result record holds them:
// integer zeros for an empty theory, None for a zero denominator.
nb::tuple measures_of(const eval::EvalResult& result);

// Seconds per learning stage, by the names the benchmarks print.
nb::dict stage_times_of(const learn::StageTimes& times);

nb::str str_of(std::string_view text);
nb::list list_of(const std::vector<std::string>& texts);

// A host value as an argument: a plain text, or a list of texts for a
// list-valued argument.
nb::object arg_to_py(const text::Arg& arg);
nb::list args_to_py(const std::vector<text::Arg>& args);

// The str() of every element, as make_literal converts its arguments.
std::vector<std::string> str_of_each(nb::handle sequence, const char* parameter);

// Constant sets hold texts; a non-text member can never equal a term text,
// so it is left out.
text::ConstantSet constant_set_from(nb::handle sequence, const char* parameter);

// Sorts (list.sort()) the host's lists of `dict` at the given positions of
// `set` (the positions predicate_arity_table sorted in the core's copy), so
// the caller's dictionary ends up as sorted as the core's. Needs the GIL.
void sort_host_lists(nb::handle dict, const data::BottomClauseSet& set,
                     const std::vector<std::size_t>& positions);

// Runs `work()` without the GIL, then sorts the host's lists of `pos` at the
// positions the core sorted (`sorted`, filled by the work), also when the
// work failed: the caller's lists end up as sorted as the core's, and a
// failure while sorting then never replaces the work's own error.
template <class Pos, class Work>
auto run_then_sort_host_lists(Pos& pos, const std::vector<std::size_t>& sorted, Work&& work) {
    auto result = [&] {
        try {
            nb::gil_scoped_release release;
            return work();
        } catch (...) {
            nb::error_scope keep;
            try {
                sort_host_lists(pos.source, pos.set, sorted);
            } catch (...) {
            }
            throw;
        }
    }();
    sort_host_lists(pos.source, pos.set, sorted);
    return result;
}

// Host truth value (bool(value)), as the learners test their flags.
bool truth_of(nb::handle value);

// TypeError naming the parameter when `value` is not of the expected kind.
[[noreturn]] void raise_type_error(const char* parameter, const char* expected, nb::handle value);

}  // namespace vantor::py
