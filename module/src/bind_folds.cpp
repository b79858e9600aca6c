// Bindings of the split and fold arithmetic and of the cross-validation
// driver. The split and fold dictionaries stay host objects (folds.py): only
// the cut points of the id lists are computed here.
#include <nanobind/stl/tuple.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <system_error>
#include <unordered_map>

#include "bindings.hpp"
#include "data/splits.hpp"
#include "eval/cross_validation.hpp"
#include "learn/candidates.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

// Fold dictionaries are converted with their bottom-clause lists identified
// by host object, so a list shared by pos_dict and a fold is one stored
// clause in the core, as it is one list in the host.
class FoldConverter {
public:
    explicit FoldConverter(eval::FoldData& out) : out_(out) {}

    eval::FoldData::Part part(nb::handle dict, const std::string& parameter) {
        if (!nb::isinstance<nb::dict>(dict)) {
            raise_type_error(parameter.c_str(), "a bottom-clause dictionary (dict)", dict);
        }
        eval::FoldData::Part part;
        nb::dict d = nb::borrow<nb::dict>(dict);
        part.keys.reserve(d.size());
        part.clause.reserve(d.size());
        for (auto [key, value] : d) {
            if (!nb::isinstance<nb::str>(key)) {
                raise_type_error(parameter.c_str(), "a dict with example texts (str) as keys", key);
            }
            part.keys.push_back(nb::cast<std::string>(key));
            part.clause.push_back(clause_of(value, parameter));
        }
        return part;
    }

private:
    std::size_t clause_of(nb::handle value, const std::string& parameter) {
        auto found = seen_.find(value.ptr());
        if (found != seen_.end()) return found->second;
        std::vector<std::string> literals;
        if (nb::isinstance<nb::str>(value)) {
            // Depth-0 dictionaries hold the head text itself.
            literals.push_back(nb::cast<std::string>(value));
        } else {
            if (!nb::isinstance<nb::list>(value) && !nb::isinstance<nb::tuple>(value)) {
                raise_type_error(parameter.c_str(), "a dict of lists of literal texts", value);
            }
            for (nb::handle lit : value) {
                if (!nb::isinstance<nb::str>(lit)) {
                    raise_type_error(parameter.c_str(), "a dict of lists of literal texts", lit);
                }
                literals.push_back(nb::cast<std::string>(lit));
            }
        }
        out_.clauses.push_back(std::move(literals));
        const std::size_t index = out_.clauses.size() - 1;
        // The dictionaries hold a reference to every value for the whole
        // call, so an address is never reused meanwhile.
        seen_.emplace(value.ptr(), index);
        return index;
    }

    eval::FoldData& out_;
    std::unordered_map<PyObject*, std::size_t> seen_;
};

std::vector<std::string> texts_of(nb::handle seq, const char* parameter) {
    if (nb::isinstance<nb::str>(seq) || seq.is_none()) raise_type_error(parameter, "a list of texts", seq);
    std::vector<std::string> out;
    try {
        for (nb::handle item : seq) {
            if (!nb::isinstance<nb::str>(item)) {
                raise_type_error(parameter, "a list of texts (every element a str)", item);
            }
            out.push_back(nb::cast<std::string>(item));
        }
    } catch (const nb::python_error&) {
        raise_type_error(parameter, "a list of texts", seq);
    }
    return out;
}

nb::object measure_of(const eval::EvalResult& r, const std::optional<double>& value) {
    if (r.empty_theory) return nb::int_(0);
    return value ? nb::object(nb::float_(*value)) : nb::none();
}

nb::tuple cross_validation_py(nb::handle pos_fold, nb::handle neg_fold, nb::handle pos_dict,
                              nb::handle neg_dict, nb::handle file, long long k_fold,
                              nb::handle constant_set, nb::handle meta_rule, nb::handle min_pos,
                              nb::handle max_neg, nb::handle max_literals, bool exact_literals,
                              nb::handle key_size, bool distinct, bool optimize, bool verbose,
                              bool reduce_bc, nb::handle bc_count, bool set_chain, bool pi,
                              bool recursive, bool rule_noise_check) {
    const auto tic = std::chrono::steady_clock::now();
    eval::FoldData folds;
    FoldConverter convert(folds);
    folds.pos_dict = convert.part(pos_dict, "kfolds.pos_dict");
    folds.neg_dict = convert.part(neg_dict, "kfolds.neg_dict");
    for (long long i = 0; i < k_fold; ++i) {
        const std::string index = std::to_string(i);
        folds.pos_fold.push_back(convert.part(pos_fold[nb::int_(i)], "kfolds.pos_fold[" + index + "]"));
        folds.neg_fold.push_back(convert.part(neg_fold[nb::int_(i)], "kfolds.neg_fold[" + index + "]"));
    }

    eval::CrossValidationOptions options;
    if (!nb::isinstance<nb::str>(file)) raise_type_error("file", "a background file name (str)", file);
    options.file = nb::cast<std::string>(file);
    options.constant_set = constant_set_from(constant_set, "constant_set");
    options.meta_rule = texts_of(meta_rule, "meta_rule");
    options.min_pos = threshold_from(min_pos, "min_pos", true);
    options.max_neg = threshold_from(max_neg, "max_neg", false);
    options.max_literals = integer_from(max_literals, "max_literals");
    options.exact_literals = exact_literals;
    options.key_size = key_size_from(key_size);
    options.distinct = distinct;
    options.optimize = optimize;
    options.verbose = verbose;
    options.reduce_bc = reduce_bc;
    if (reduce_bc) options.bc_count = integer_from(bc_count, "bc_count");
    options.set_chain = set_chain;
    options.pi = pi;
    options.recursive = recursive;
    options.rule_noise_check = rule_noise_check;

    // The arity table sorts some of the core's clauses; the caller's lists
    // (shared by pos_dict and the folds) end up sorted the same way, also
    // when a later stage fails.
    auto sort_caller_lists = [&]() {
        data::BottomClauseSet keys_only;
        keys_only.keys = folds.pos_dict.keys;
        sort_host_lists(pos_dict, keys_only, folds.sorted_positions);
    };
    eval::CrossValidationResult result;
    try {
        PyRandom rng;
        PyStdout out;
        eval::LimitWarning warn = [](const std::string& message) {
            nb::gil_scoped_acquire gil;
            if (PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 3) < 0) throw nb::python_error();
        };
        auto progress = [verbose]() -> std::unique_ptr<Progress> {
            return std::make_unique<TqdmProgress>(verbose);
        };
        eval::TheoryAnnouncer announce = [](const std::vector<std::string>& theory) {
            nb::gil_scoped_acquire gil;
            nb::list rules;
            for (const std::string& rule : theory) rules.append(nb::str(rule.c_str(), rule.size()));
            nb::object print = nb::module_::import_("builtins").attr("print");
            print("+----------+ Hypothesis +----------+");
            print(nb::repr(rules));
        };
        try {
            nb::gil_scoped_release release;
            result = eval::cross_validation(folds, k_fold, options, rng, out, progress, announce,
                                            warn);
        } catch (const std::system_error& e) {
            nb::object err = nb::handle(PyExc_OSError)(e.code().value(), nb::str(e.what()));
            PyErr_SetObject(PyExc_OSError, err.ptr());
            throw nb::python_error();
        }
    } catch (...) {
        // Keep the stage's error: a failure while sorting must not replace it.
        nb::error_scope keep;
        try {
            sort_caller_lists();
        } catch (...) {
        }
        throw;
    }
    sort_caller_lists();
    // The whole call, conversions included.
    result.time_learn = std::chrono::duration<double>(std::chrono::steady_clock::now() - tic).count();

    nb::list hypothesis;
    for (const std::string& rule : result.hypothesis) hypothesis.append(nb::str(rule.c_str(), rule.size()));
    nb::list accuracy, precision, sensitivity, specificity, fscore;
    for (const eval::EvalResult& r : result.folds) {
        accuracy.append(measure_of(r, r.metrics.accuracy));
        precision.append(measure_of(r, r.metrics.precision));
        sensitivity.append(measure_of(r, r.metrics.sensitivity));
        specificity.append(measure_of(r, r.metrics.specificity));
        fscore.append(measure_of(r, r.metrics.fscore));
    }
    nb::dict stats;
    stats["seconds_learning"] = result.seconds_learning;
    stats["seconds_prolog"] = result.seconds_prolog;
    stats["coverage_computed"] = result.coverage_computed;
    stats["coverage_reused"] = result.coverage_reused;
    stats["candidates"] = result.candidates;
    stats["prolog_evaluations"] = result.prolog_evaluations;
    return nb::make_tuple(hypothesis,
                          nb::make_tuple(accuracy, precision, sensitivity, specificity, fscore),
                          result.time_learn, stats);
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
    m.def("_cross_validation", &cross_validation_py, "pos_fold"_a, "neg_fold"_a, "pos_dict"_a,
          "neg_dict"_a, "file"_a, "k_fold"_a, "constant_set"_a, "meta_rule"_a, "min_pos"_a,
          "max_neg"_a, "max_literals"_a, "exact_literals"_a, "key_size"_a, "distinct"_a,
          "optimize"_a, "verbose"_a, "reduce_bc"_a, "bc_count"_a, "set_chain"_a, "pi"_a,
          "recursive"_a, "rule_noise_check"_a,
          "k-fold cross-validation: (theory, five per-fold measure lists, seconds, work done).");
}

}  // namespace vantor::py
