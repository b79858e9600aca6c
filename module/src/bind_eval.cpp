#include <nanobind/stl/optional.h>
#include <nanobind/stl/tuple.h>

#include <chrono>

#include "bindings.hpp"
#include "eval/evaluate.hpp"
#include "engine/prolog_engine.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

// Example collections: a list of texts, or a dict whose keys are the texts.
std::vector<std::string> example_texts(nb::handle examples, const char* parameter) {
    if (nb::isinstance<nb::str>(examples)) {
        raise_type_error(parameter, "a list or dict of example texts", examples);
    }
    std::vector<std::string> out;
    if (nb::isinstance<nb::dict>(examples) || nb::isinstance<nb::list>(examples)) {
        out.reserve(nb::len(examples));
    }
    try {
        for (nb::handle item : examples) {
            if (!nb::isinstance<nb::str>(item)) {
                raise_type_error(parameter, "a collection of example texts (str)", item);
            }
            out.push_back(nb::cast<std::string>(item));
        }
    } catch (const nb::python_error& e) {
        if (e.matches(PyExc_TypeError)) {
            raise_type_error(parameter, "a list or dict of example texts", examples);
        }
        throw;
    }
    return out;
}

std::vector<std::string> rule_texts(nb::handle theory) {
    if (nb::isinstance<nb::str>(theory)) raise_type_error("theory", "a list of rule texts", theory);
    std::vector<std::string> out;
    std::size_t i = 0;
    for (nb::handle item : theory) {
        if (!nb::isinstance<nb::str>(item)) {
            throw TypeError("theory[" + std::to_string(i) + "] must be a rule text (str), not " +
                            nb::cast<std::string>(nb::type_name(item.type())));
        }
        out.push_back(nb::cast<std::string>(item));
        ++i;
    }
    return out;
}

nb::object measure(const std::optional<double>& v) {
    return v ? nb::object(nb::float_(*v)) : nb::none();
}

nb::tuple metrics_tuple(const eval::Metrics& m) {
    return nb::make_tuple(measure(m.accuracy), measure(m.precision), measure(m.sensitivity),
                          measure(m.specificity), measure(m.fscore));
}

nb::dict evaluate(nb::handle theory, const std::string& file_1, nb::handle pos, nb::handle neg,
                  bool quiet, bool training, nb::handle time_limit, bool sandbox, bool each) {
    auto t0 = std::chrono::steady_clock::now();
    std::vector<std::string> rules = rule_texts(theory);
    std::vector<std::string> positives = example_texts(pos, "pos");
    std::vector<std::string> negatives = example_texts(neg, "neg");
    double convert = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    eval::EvalSettings settings = settings_from(time_limit, sandbox);
    settings.keep_each = each;
    PyStdout out;
    PyInterrupt interrupt;
    eval::EvalResult r;
    try {
        // Ctrl-C reaches Python's handler on the main thread only; there it
        // also stops the engine's goal.
        std::optional<engine::SigintStopsEngine> stops;
        if (on_main_thread()) stops.emplace();
        nb::gil_scoped_release release;
        r = eval::evaluate_theory(rules, file_1, positives, negatives, quiet,
                                  training ? eval::kTrainingBanner : eval::kTestingBanner, out,
                                  inference_limit_warning(), &interrupt, nullptr, settings);
    } catch (const eval::Interrupted&) {
        // The chained handler has run Python's: its KeyboardInterrupt (or
        // whatever a custom handler raises) is pending.
        if (PyErr_CheckSignals() < 0) throw nb::python_error();
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw nb::python_error();
    }
    nb::dict d;
    d["empty"] = r.empty_theory;
    d["metrics"] = metrics_tuple(r.metrics);
    d["counts"] = nb::make_tuple(r.tp, r.tn, r.fp, r.fn);
    if (each) {
        nb::list proved;
        for (char p : r.proved) proved.append(p != 0);
        d["proved"] = proved;
    }
    nb::dict seconds;
    seconds["convert"] = convert;
    seconds["write"] = r.write_seconds;
    seconds["load"] = r.load_seconds;
    seconds["query"] = r.query_seconds;
    d["seconds"] = seconds;
    return d;
}

}  // namespace

eval::EvalSettings settings_from(nb::handle time_limit, bool sandbox) {
    eval::EvalSettings settings;
    settings.sandbox = sandbox;
    if (time_limit.is_none()) {
        settings.time_limit = 0;
    } else {
        if (nb::isinstance<nb::bool_>(time_limit) ||
            !(nb::isinstance<nb::float_>(time_limit) || nb::isinstance<nb::int_>(time_limit))) {
            raise_type_error("time_limit", "a number of seconds or None", time_limit);
        }
        double seconds = nb::cast<double>(time_limit);
        if (!(seconds > 0)) throw ValueError("time_limit must be a positive number of seconds or None");
        settings.time_limit = seconds;
    }
    return settings;
}

eval::LimitWarning inference_limit_warning() {
    return [](const std::string& message) {
        nb::gil_scoped_acquire gil;
        if (PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 3) < 0) throw nb::python_error();
    };
}

void bind_eval(nb::module_& m) {
    nb::exception<eval::PrologError> prolog_error(m, "PrologError");
    // Refused input is a bad value and, as before, an error the engine's
    // caller sees as PrologError.
    static PyObject* input_error = PyErr_NewException(
        "vantor._core.PrologInputError", nb::make_tuple(prolog_error, nb::handle(PyExc_ValueError)).ptr(), nullptr);
    if (!input_error) throw nb::python_error();
    m.attr("PrologInputError") = nb::handle(input_error);
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const eval::RefusedInput& e) {
            PyErr_SetString(input_error, e.what());
        }
    });
    nb::exception<eval::PrologUnavailable> unavailable(m, "PrologUnavailableError", PyExc_RuntimeError);
    prolog_error.attr("__doc__") =
        "An error of the embedded SWI-Prolog engine: a background or theory that does\n"
        "not load, a goal that raises, a load past the time limit, or a line or goal\n"
        "the sandbox refuses. The message is the engine's, naming the file and line\n"
        "where it has them.";
    nb::handle(input_error).attr("__doc__") =
        "Input refused before it reaches the engine: a rule text that does not read as\n"
        "exactly one clause, or an example that would call a built-in or library\n"
        "predicate. Both a PrologError and a ValueError; the message names the rule\n"
        "or the example.";
    unavailable.attr("__doc__") =
        "The SWI-Prolog engine cannot be started in this process (a RuntimeError).";

    m.def(
        "compute_metrics",
        [](std::int64_t tp, std::int64_t tn, std::int64_t fp, std::int64_t fn) {
            return metrics_tuple(eval::compute_metrics(tp, tn, fp, fn));
        },
        "TP"_a, "TN"_a, "FP"_a, "FN"_a,
        "The five measures of a confusion count.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "TP, TN, FP, FN : int\n"
        "    True positives, true negatives, false positives, false negatives.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "tuple\n"
        "    (accuracy, precision, sensitivity, specificity, fscore), each rounded\n"
        "    to 3 decimals as round(x, 3) does; a measure whose denominator is 0 is\n"
        "    None.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> compute_metrics(8, 6, 2, 0)\n"
        "(0.875, 0.8, 1.0, 0.75, 0.889)\n"
        ">>> compute_metrics(0, 8, 0, 8)\n"
        "(0.5, None, 0.0, 1.0, 0.0)");

    m.def("_evaluate_theory", &evaluate, "theory"_a, "file_1"_a, "pos"_a, "neg"_a, "quiet"_a,
          "training"_a, "time_limit"_a.none() = eval::kDefaultTimeLimit, "sandbox"_a = false,
          "each"_a = false);
    m.attr("_DEFAULT_TIME_LIMIT") = eval::kDefaultTimeLimit;
    m.def(
        "_theory_file_text",
        [](nb::handle theory) { return eval::theory_file_text(rule_texts(theory)); }, "theory"_a);
    m.def("_round3", &eval::round3, "x"_a);
    m.def(
        "_example_shape",
        [](const std::string& text) {
            engine::ExampleShape shape;
            {
                nb::gil_scoped_release release;
                eval::with_process_prover([&](eval::Prover&) { shape = engine::example_shape(text); });
            }
            return nb::make_tuple(shape.name, shape.arity);
        },
        "text"_a,
        "(name, arity) of an example text read by the engine as exactly one fact; raises "
        "PrologInputError (a ValueError) saying why it is not one.");
}

}  // namespace vantor::py
