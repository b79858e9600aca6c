// Bindings of the split and fold arithmetic and of the cross-validation
// driver. The split and fold dictionaries stay host objects (folds.py): only
// the cut points of the id lists are computed here.
#include <nanobind/stl/tuple.h>

#include <chrono>
#include <optional>
#include <unordered_map>

#include "bindings.hpp"
#include "data/splits.hpp"
#include "eval/fact_proving.hpp"
#include "py_proving.hpp"
#include "run/cross_validation.hpp"
#include "run/proved_cross_validation.hpp"
#include "run/refine_learning.hpp"
#include "learn/candidates.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

// Fold dictionaries are converted with their bottom-clause lists identified
// by host object, so a list shared by pos_dict and a fold is one stored
// clause in the core, as it is one list in the host.
class FoldConverter {
public:
    explicit FoldConverter(run::FoldData& out) : out_(out) {}

    run::FoldData::Part part(nb::handle dict, const std::string& parameter) {
        if (!PyDict_Check(dict.ptr())) {
            raise_type_error(parameter.c_str(), "a bottom-clause dictionary (dict)", dict);
        }
        run::FoldData::Part part;
        nb::dict d = nb::borrow<nb::dict>(dict);
        part.keys.reserve(d.size());
        part.clause.reserve(d.size());
        for (auto [key, value] : d) {
            if (!PyUnicode_Check(key.ptr())) {
                raise_type_error(parameter.c_str(), "a dict with example texts (str) as keys", key);
            }
            part.keys.push_back(text_from(key, parameter.c_str()));
            part.clause.push_back(clause_of(value, parameter));
        }
        return part;
    }

private:
    std::size_t clause_of(nb::handle value, const std::string& parameter) {
        auto found = seen_.find(value.ptr());
        if (found != seen_.end()) return found->second;
        out_.clauses.push_back(bottom_clause_from(value, parameter.c_str()));
        const std::size_t index = out_.clauses.size() - 1;
        // The dictionaries hold a reference to every value for the whole
        // call, so an address is never reused meanwhile.
        seen_.emplace(value.ptr(), index);
        return index;
    }

    run::FoldData& out_;
    std::unordered_map<PyObject*, std::size_t> seen_;
};

// The folds as the host holds them, fold i of each side at index i.
run::FoldData fold_data_from(nb::list pos_folds, nb::list neg_folds, nb::handle pos_dict,
                              nb::handle neg_dict) {
    run::FoldData folds;
    FoldConverter convert(folds);
    folds.pos_dict = convert.part(pos_dict, "kfolds.pos_dict");
    folds.neg_dict = convert.part(neg_dict, "kfolds.neg_dict");
    for (std::size_t i = 0; i < pos_folds.size(); ++i) {
        folds.pos_fold.push_back(convert.part(pos_folds[i], "kfolds.pos_fold[" + std::to_string(i) + "]"));
    }
    for (std::size_t i = 0; i < neg_folds.size(); ++i) {
        folds.neg_fold.push_back(convert.part(neg_folds[i], "kfolds.neg_fold[" + std::to_string(i) + "]"));
    }
    return folds;
}

// The arity table sorts some of the core's clauses; the caller's lists
// (shared by pos_dict and the folds) end up sorted the same way.
void sort_caller_lists(nb::handle pos_dict, const run::FoldData& folds) {
    data::BottomClauseSet keys_only;
    keys_only.keys = folds.pos_dict.keys;
    sort_host_lists(pos_dict, keys_only, folds.sorted_positions);
}

// Runs `drive(host)` without the interpreter lock, then sorts the caller's
// lists as the core sorted its own (also when the run throws).
template <class Drive>
run::CrossValidationResult run_cross_validation(run::FoldData& folds, nb::handle pos_dict, bool quiet,
                                                 Drive&& drive) {
    PyLearningHost py_host(quiet);
    run::CrossValidationResult result;
    try {
        nb::gil_scoped_release release;
        result = drive(py_host);
    } catch (...) {
        // Keep the run's error: a failure while sorting must not replace it.
        nb::error_scope keep;
        try {
            sort_caller_lists(pos_dict, folds);
        } catch (...) {
        }
        throw;
    }
    sort_caller_lists(pos_dict, folds);
    return result;
}

nb::tuple result_tuple(const run::CrossValidationResult& result, double time_learn) {
    nb::list accuracy, precision, sensitivity, specificity, fscore;
    for (const eval::EvalResult& r : result.folds) {
        nb::tuple m = measures_of(r);
        accuracy.append(m[0]);
        precision.append(m[1]);
        sensitivity.append(m[2]);
        specificity.append(m[3]);
        fscore.append(m[4]);
    }
    nb::dict stats;
    stats["seconds_learning"] = result.seconds_learning;
    stats["seconds_prolog"] = result.seconds_prolog;
    stats["coverage_computed"] = result.coverage_computed;
    stats["coverage_reused"] = result.coverage_reused;
    stats["candidates"] = result.candidates;
    stats["prolog_evaluations"] = result.prolog_evaluations;
    nb::list theories;
    for (const std::vector<std::string>& theory : result.theories) theories.append(list_of(theory));
    stats["theories"] = theories;
    return nb::make_tuple(list_of(result.hypothesis),
                          nb::make_tuple(accuracy, precision, sensitivity, specificity, fscore),
                          time_learn, stats);
}

// One cross-validation driver run on the host's folds: (theory of the last
// fold, five per-fold measure lists, seconds of the whole call with its
// conversions, work done). `drive(folds, options, py_host)` runs it.
template <class Drive>
nb::tuple driven_cross_validation(nb::list pos_folds, nb::list neg_folds, nb::handle pos_dict, nb::handle neg_dict,
                                  PathText<"file"> file, learn::LearnOptions learn_options, bool candidates_per_fold,
                                  Drive&& drive) {
    const auto tic = std::chrono::steady_clock::now();
    run::FoldData folds = fold_data_from(pos_folds, neg_folds, pos_dict, neg_dict);
    const run::CrossValidationOptions options{std::move(learn_options), file.value, candidates_per_fold};
    run::CrossValidationResult result =
        run_cross_validation(folds, pos_dict, options.learn.quiet,
                             [&](PyLearningHost& py_host) { return drive(folds, options, py_host); });
    const double time_learn =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - tic).count();
    return result_tuple(result, time_learn);
}

nb::tuple cross_validation_py(nb::list pos_folds, nb::list neg_folds, nb::handle pos_dict,
                              nb::handle neg_dict, PathText<"file"> file, long long k_fold,
                              learn::LearnOptions learn_options, bool candidates_per_fold) {
    return driven_cross_validation(
        pos_folds, neg_folds, pos_dict, neg_dict, file, std::move(learn_options), candidates_per_fold,
        [&](run::FoldData& folds, const run::CrossValidationOptions& options, PyLearningHost& py_host) {
            return run::cross_validation(folds, k_fold, options, py_host.host);
        });
}

// The same with proved coverage; `prove`, when given, proves every batch.
nb::tuple proved_cross_validation_py(nb::list pos_folds, nb::list neg_folds, nb::handle pos_dict,
                                     nb::handle neg_dict, PathText<"file"> file, long long k_fold,
                                     learn::LearnOptions learn_options, bool candidates_per_fold,
                                     bool compare_numbers, nb::handle prove) {
    std::optional<PyProving> service;
    if (!prove.is_none()) service.emplace(prove);
    return driven_cross_validation(
        pos_folds, neg_folds, pos_dict, neg_dict, file, std::move(learn_options), candidates_per_fold,
        [&](run::FoldData& folds, const run::CrossValidationOptions& options, PyLearningHost& py_host) {
            eval::FactProving local(py_host.interrupt);
            ProvingService& proving = service ? static_cast<ProvingService&>(*service) : local;
            return run::proved_cross_validation(folds, k_fold, options, compare_numbers, proving, py_host.host);
        });
}

// The same with the refinement search; `prove`, when given, proves every batch.
nb::tuple refined_cross_validation_py(nb::list pos_folds, nb::list neg_folds, nb::handle pos_dict,
                                      nb::handle neg_dict, PathText<"file"> file, long long k_fold,
                                      learn::LearnOptions learn_options, nb::handle prove) {
    std::optional<PyProving> service;
    if (!prove.is_none()) service.emplace(prove);
    return driven_cross_validation(
        pos_folds, neg_folds, pos_dict, neg_dict, file, std::move(learn_options), false,
        [&](run::FoldData& folds, const run::CrossValidationOptions& options, PyLearningHost& py_host) {
            return run::refined_cross_validation(folds, k_fold, options, service ? &*service : nullptr,
                                                 py_host.host);
        });
}

}  // namespace

void bind_folds(nb::module_& m) {
    m.def(
        "_split_boundary_count",
        [](std::size_t n, std::int64_t test_count) {
            return data::training_boundary(n, data::training_size_for_count(n, test_count));
        },
        "n"_a, "test_count"_a,
        "Index where the training ids end when test_count examples go to test.");
    m.def(
        "_split_boundary_fraction",
        [](std::size_t n, double test_fraction) {
            return data::training_boundary(n, data::training_size_for_fraction(n, test_fraction));
        },
        "n"_a, "test_fraction"_a,
        "Index where the training ids end when a fraction of the examples goes to test.");
    m.def("_fold_sizes", &data::fold_sizes, "n"_a, "folds"_a,
          "Sizes of the consecutive chunks that cut n ids into folds.");
    m.def("_cross_validation", &cross_validation_py, "pos_folds"_a, "neg_folds"_a, "pos_dict"_a,
          "neg_dict"_a, "file"_a, "k_fold"_a, "options"_a, "candidates_per_fold"_a = false,
          "k-fold cross-validation: (theory, five per-fold measure lists, seconds, work done).");
    m.def("_refined_cross_validation", &refined_cross_validation_py, "pos_folds"_a, "neg_folds"_a, "pos_dict"_a,
          "neg_dict"_a, "file"_a, "k_fold"_a, "options"_a, "prove"_a.none() = nb::none(),
          "k-fold cross-validation with the refinement search, as _cross_validation; `prove`, when "
          "given, proves every batch.");
    m.def("_proved_cross_validation", &proved_cross_validation_py, "pos_folds"_a, "neg_folds"_a, "pos_dict"_a,
          "neg_dict"_a, "file"_a, "k_fold"_a, "options"_a, "candidates_per_fold"_a, "compare_numbers"_a,
          "prove"_a.none() = nb::none(),
          "k-fold cross-validation with proved coverage, as _cross_validation; `prove`, when given, "
          "proves every batch.");
}

}  // namespace vantor::py
