#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>

#include "bindings.hpp"
#include "eval/prover.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {
// The calling thread's generator and output stream (vantor._host): Python's
// random module and sys.stdout unless the caller chose its own.
nb::object thread_generator() { return nb::module_::import_("vantor._host").attr("generator")(); }
nb::object thread_output() { return nb::module_::import_("vantor._host").attr("output")(); }
}  // namespace

void PyRandom::seed(std::int64_t value) {
    nb::gil_scoped_acquire gil;
    thread_generator().attr("seed")(value);
}

std::vector<std::size_t> PyRandom::sample(std::size_t n, std::size_t k) {
    nb::gil_scoped_acquire gil;
    nb::object range = nb::module_::import_("builtins").attr("range")(n);
    nb::object drawn = thread_generator().attr("sample")(range, k);
    std::vector<std::size_t> out;
    out.reserve(k);
    for (nb::handle item : drawn) out.push_back(nb::cast<std::size_t>(item));
    return out;
}

void PyRandom::shuffle(std::vector<std::size_t>& ids) {
    nb::gil_scoped_acquire gil;
    nb::list items;
    for (std::size_t id : ids) items.append(id);
    thread_generator().attr("shuffle")(items);
    for (std::size_t i = 0; i < ids.size(); ++i) ids[i] = nb::cast<std::size_t>(items[i]);
}

TqdmProgress::~TqdmProgress() {
    if (bar_.is_valid()) {
        nb::gil_scoped_acquire gil;
        try {
            bar_.attr("close")();
        } catch (...) {
        }
        bar_.reset();
    }
}

void TqdmProgress::start(std::size_t total, std::string_view description) {
    if (disable_) return;
    nb::gil_scoped_acquire gil;
    nb::object tqdm = nb::module_::import_("tqdm").attr("tqdm");
    nb::object stderr_ = nb::module_::import_("sys").attr("stderr");
    bar_ = tqdm("total"_a = total, "desc"_a = nb::str(description.data(), description.size()),
                "file"_a = stderr_);
}

void TqdmProgress::advance(std::size_t steps) {
    if (!bar_.is_valid()) return;
    nb::gil_scoped_acquire gil;
    bar_.attr("update")(steps);
}

void TqdmProgress::finish() {
    if (!bar_.is_valid()) return;
    nb::gil_scoped_acquire gil;
    bar_.attr("close")();
    bar_.reset();
}

void PyInterrupt::check() {
    // Taking the GIL for every example would slow the core's loops; a few
    // milliseconds between looks keeps Ctrl-C prompt.
    constexpr std::int64_t kEveryNs = 5'000'000;
    const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    if (now - last_check_ns_ < kEveryNs) return;
    last_check_ns_ = now;
    nb::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() != 0) throw nb::python_error();
}

void PyStdout::write(std::string_view text) {
    nb::gil_scoped_acquire gil;
    thread_output().attr("write")(nb::str(text.data(), text.size()));
}

void PyStdout::print(std::string_view text) {
    nb::gil_scoped_acquire gil;
    nb::object out = thread_output();
    out.attr("write")(nb::str(text.data(), text.size()));
    out.attr("write")("\n");
}

nb::object arg_to_py(const text::Arg& arg) {
    if (!arg.is_list) return nb::str(arg.text.c_str(), arg.text.size());
    nb::list items;
    for (const std::string& s : arg.items) items.append(nb::str(s.c_str(), s.size()));
    return items;
}

nb::list args_to_py(const std::vector<text::Arg>& args) {
    nb::list out;
    for (const text::Arg& a : args) out.append(arg_to_py(a));
    return out;
}

std::vector<std::string> str_of_each(nb::handle sequence, const char* parameter) {
    std::vector<std::string> out;
    for (nb::handle item : sequence) out.push_back(text_from(nb::str(item), parameter));
    return out;
}

nb::str str_of(std::string_view text) { return nb::str(text.data(), text.size()); }

nb::list list_of(const std::vector<std::string>& texts) {
    nb::list out;
    for (const std::string& s : texts) out.append(str_of(s));
    return out;
}

std::string text_from(nb::handle value, const char* parameter) {
    return text_from(value, parameter, false);
}

std::string path_from(nb::handle value, const char* parameter) {
    return text_from(value, parameter, true);
}

std::string text_from(nb::handle value, const char* parameter, bool is_path) {
    if (!PyUnicode_Check(value.ptr())) raise_type_error(parameter, "a text (str)", value);
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value.ptr(), &size);
    if (data == nullptr) {
        PyErr_Clear();
        throw ValueError(std::string(parameter) +
                         " holds a lone surrogate, which is no character and has no UTF-8 "
                         "form; decode its source with errors='replace' or remove it");
    }
    if (is_path && std::memchr(data, '\0', static_cast<std::size_t>(size)) != nullptr) {
        throw ValueError(std::string(parameter) + " must not contain a null character ('\\0')");
    }
    return std::string(data, static_cast<std::size_t>(size));
}

std::vector<std::string> texts_from(nb::handle sequence, const char* parameter) {
    if (sequence.is_none() || PyUnicode_Check(sequence.ptr()) || PyBytes_Check(sequence.ptr())) {
        raise_type_error(parameter, "a list of texts", sequence);
    }
    std::vector<std::string> out;
    try {
        for (nb::handle item : sequence) {
            if (!PyUnicode_Check(item.ptr())) {
                raise_type_error(parameter, "a list of texts (every element a str)", item);
            }
            out.push_back(text_from(item, parameter));
        }
    } catch (const nb::python_error& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        raise_type_error(parameter, "a list of texts", sequence);
    }
    return out;
}

text::ConstantSet constant_set_from(nb::handle sequence, const char* parameter) {
    text::ConstantSet out;
    if (sequence.is_none()) return out;
    if (PyUnicode_Check(sequence.ptr())) raise_type_error(parameter, "a list of texts", sequence);
    try {
        for (nb::handle item : sequence) {
            if (PyUnicode_Check(item.ptr())) out.insert(text_from(item, parameter));
        }
    } catch (const nb::python_error& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        raise_type_error(parameter, "a list of texts", sequence);
    }
    return out;
}

std::vector<std::string> bottom_clause_from(nb::handle value, const char* parameter) {
    // Depth-0 dictionaries hold the head text itself.
    if (PyUnicode_Check(value.ptr())) return {text_from(value, parameter)};
    if (!PyList_Check(value.ptr()) && !PyTuple_Check(value.ptr())) {
        raise_type_error(parameter, "a dict of lists of literal texts", value);
    }
    std::vector<std::string> literals;
    literals.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(value.ptr())));
    for (nb::handle literal : value) {
        if (!PyUnicode_Check(literal.ptr())) {
            raise_type_error(parameter, "a dict of lists of literal texts", literal);
        }
        literals.push_back(text_from(literal, parameter));
    }
    return literals;
}

data::BottomClauseSet bottom_clause_set_from(nb::handle dict, const char* parameter) {
    if (PyUnicode_Check(dict.ptr())) {
        throw TypeError(std::string(parameter) +
                        " must be a bottom-clause dictionary, not a file name; load a stored one "
                        "with read_pickle(name) or build it with "
                        "bottom_clause_generation(..., container='memory')");
    }
    if (!PyDict_Check(dict.ptr())) raise_type_error(parameter, "a bottom-clause dictionary (dict)", dict);
    data::BottomClauseSet set;
    nb::dict d = nb::borrow<nb::dict>(dict);
    set.keys.reserve(d.size());
    set.clauses.reserve(d.size());
    for (auto [key, value] : d) {
        if (!PyUnicode_Check(key.ptr())) raise_type_error(parameter, "a dict with text keys", key);
        set.keys.push_back(text_from(key, parameter));
        set.clauses.push_back(bottom_clause_from(value, parameter));
    }
    return set;
}

bool truth_of(nb::handle value) {
    const int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) nb::raise_python_error();
    return truth != 0;
}

long long count_from(nb::handle value, const char* parameter) {
    if (!PyIndex_Check(value.ptr()) || PyFloat_Check(value.ptr())) raise_type_error(parameter, "an int", value);
    nb::object index = nb::steal(PyNumber_Index(value.ptr()));
    if (!index.is_valid()) nb::raise_python_error();
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow) n = overflow > 0 ? LLONG_MAX : LLONG_MIN;
    return n;
}

long long threshold_from(nb::handle value, const char* parameter, bool at_least) {
    if (PyFloat_Check(value.ptr())) {
        const double x = PyFloat_AsDouble(value.ptr());
        if (x != x) return at_least ? LLONG_MAX : LLONG_MIN;
        if (x > 9e18) return LLONG_MAX;
        if (x < -9e18) return LLONG_MIN;
        return static_cast<long long>(at_least ? std::ceil(x) : std::floor(x));
    }
    return count_from(value, parameter);
}

learn::KeySize key_size_from(nb::handle value) {
    if (!truth_of(value)) return learn::KeySize::unset();
    if (PyFloat_Check(value.ptr())) return learn::KeySize::of_real(PyFloat_AsDouble(value.ptr()));
    if (PyIndex_Check(value.ptr())) return learn::KeySize::of(count_from(value, "key_size"));
    raise_type_error("key_size",
                     "a number of examples (an int) or a value that tests false, such as [] or 0",
                     value);
}

namespace {

// Reads each setting from the attribute of its name.
struct OptionReader {
    nb::handle source;

    nb::object get(const char* name) const {
        if (!nb::hasattr(source, name)) {
            throw TypeError(std::string("learning options must come from vantor._options.learn_options; "
                                        "this object has no '") + name + "'");
        }
        return source.attr(name);
    }
    void operator()(const char* name, text::ConstantSet& field) const { field = constant_set_from(get(name), name); }
    void operator()(const char* name, std::vector<std::string>& field) const { field = texts_from(get(name), name); }
    void operator()(const char* name, learn::Threshold field) const {
        field.count = threshold_from(get(name), name, field.at_least);
    }
    void operator()(const char* name, long long& field) const { field = count_from(get(name), name); }
    void operator()(const char* name, bool& field) const { field = truth_of(get(name)); }
    void operator()(const char* name, std::string& field) const { field = text_from(get(name), name); }
    void operator()(const char* name, double& field) const { field = nb::cast<double>(get(name)); }
    void operator()(const char* name, learn::KeySize& field) const { field = key_size_from(get(name)); }
};

}  // namespace

learn::LearnOptions learn_options_from(nb::handle value) {
    learn::LearnOptions options;
    learn::for_each_option(options, OptionReader{value});
    return options;
}

void print_theory(const std::vector<std::string>& theory) {
    nb::gil_scoped_acquire gil;
    PyStdout out;
    out.print("+----------+ Hypothesis +----------+");
    nb::str listed = nb::repr(list_of(theory));
    out.print(text_from(listed, "theory"));
}

bool on_main_thread() {
    nb::module_ threading = nb::module_::import_("threading");
    return threading.attr("current_thread")().is(threading.attr("main_thread")());
}

PyLearningHost::PyLearningHost(bool quiet)
    : host{rng, out, interrupt,
           [quiet]() -> std::unique_ptr<Progress> { return std::make_unique<TqdmProgress>(quiet); },
           &print_theory,
           [](const std::string& message) {
               nb::gil_scoped_acquire gil;
               if (PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 3) < 0) throw nb::python_error();
           }} {
    // Ctrl-C reaches Python's handler on the main thread only; there it also
    // stops a running goal of the engine.
    if (on_main_thread()) stops.emplace();
}

nb::tuple measures_of(const eval::EvalResult& result) {
    auto measure = [&](const std::optional<double>& value) -> nb::object {
        return value ? nb::object(nb::float_(*value)) : nb::none();
    };
    const eval::Metrics& m = result.metrics;
    return nb::make_tuple(measure(m.accuracy), measure(m.precision), measure(m.sensitivity),
                          measure(m.specificity), measure(m.fscore));
}

nb::dict stage_times_of(const learn::StageTimes& times) {
    nb::dict t;
    t["arity table"] = times.arity_table;
    t["relation chains"] = times.relation_chains;
    t["templates"] = times.templates;
    t["instantiation"] = times.instantiation;
    t["positive coverage"] = times.positive_coverage;
    t["negative coverage"] = times.negative_coverage;
    t["selection"] = times.selection;
    return t;
}

void raise_type_error(const char* parameter, const char* expected, nb::handle value) {
    std::string type_name = nb::cast<std::string>(nb::type_name(value.type()));
    throw TypeError(std::string(parameter) + " must be " + expected + ", not " + type_name);
}

void bind_errors(nb::module_& m) {
    (void)m;
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const FileNotFound& e) {
            nb::object err = nb::handle(PyExc_FileNotFoundError)(
                ENOENT, std::strerror(ENOENT), nb::str(e.path.c_str(), e.path.size()));
            PyErr_SetObject(PyExc_FileNotFoundError, err.ptr());
        } catch (const eval::Interrupted&) {
            // The chained SIGINT handler has run Python's: its
            // KeyboardInterrupt (or a custom handler's exception) is pending.
            if (PyErr_CheckSignals() == 0 && !PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        } catch (const OSError& e) {
            // OSError(errno, text, path) picks the fitting subclass.
            nb::object err = nb::handle(PyExc_OSError)(
                e.error, nb::str(e.what()), nb::str(e.path.c_str(), e.path.size()));
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(err.ptr())), err.ptr());
        } catch (const ValueError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        } catch (const TypeError& e) {
            PyErr_SetString(PyExc_TypeError, e.what());
        } catch (const KeyError& e) {
            nb::str msg(e.what());
            PyErr_SetObject(PyExc_KeyError, msg.ptr());
        } catch (const IndexError& e) {
            PyErr_SetString(PyExc_IndexError, e.what());
        } catch (const ZeroDivision& e) {
            PyErr_SetString(PyExc_ZeroDivisionError, e.what());
        } catch (const std::system_error& e) {
            // A failed system call without a path of its own.
            nb::object err = nb::handle(PyExc_OSError)(e.code().value(), nb::str(e.what()));
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(err.ptr())), err.ptr());
        }
    });
}

}  // namespace vantor::py
