#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>

#include "bindings.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {
nb::module_ random_module() { return nb::module_::import_("random"); }
}  // namespace

void PyRandom::seed(std::int64_t value) {
    nb::gil_scoped_acquire gil;
    random_module().attr("seed")(value);
}

std::vector<std::size_t> PyRandom::sample(std::size_t n, std::size_t k) {
    nb::gil_scoped_acquire gil;
    nb::object range = nb::module_::import_("builtins").attr("range")(n);
    nb::object drawn = random_module().attr("sample")(range, k);
    std::vector<std::size_t> out;
    out.reserve(k);
    for (nb::handle item : drawn) out.push_back(nb::cast<std::size_t>(item));
    return out;
}

void PyRandom::shuffle(std::vector<std::size_t>& ids) {
    nb::gil_scoped_acquire gil;
    nb::list items;
    for (std::size_t id : ids) items.append(id);
    random_module().attr("shuffle")(items);
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

void PyStdout::print(std::string_view text) {
    nb::gil_scoped_acquire gil;
    nb::object out = nb::module_::import_("sys").attr("stdout");
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

std::vector<std::string> str_of_each(nb::handle sequence) {
    std::vector<std::string> out;
    for (nb::handle item : sequence) out.emplace_back(nb::str(item).c_str());
    return out;
}

text::ConstantSet constant_set_from(nb::handle sequence, const char* parameter) {
    text::ConstantSet out;
    if (sequence.is_none()) return out;
    if (nb::isinstance<nb::str>(sequence)) {
        raise_type_error(parameter, "a list of texts", sequence);
    }
    try {
        for (nb::handle item : sequence) {
            if (nb::isinstance<nb::str>(item)) out.insert(nb::cast<std::string>(item));
        }
    } catch (const nb::python_error&) {
        raise_type_error(parameter, "a list of texts", sequence);
    }
    return out;
}

data::BottomClauseSet bottom_clause_set_from(nb::handle dict, const char* parameter) {
    if (nb::isinstance<nb::str>(dict)) {
        throw TypeError(std::string(parameter) +
                        " must be a bottom-clause dictionary, not a file name; load a stored one "
                        "with read_pickle(name) or build it with "
                        "bottom_clause_generation(..., container='memory')");
    }
    if (!nb::isinstance<nb::dict>(dict)) {
        raise_type_error(parameter, "a bottom-clause dictionary (dict)", dict);
    }
    data::BottomClauseSet set;
    nb::dict d = nb::borrow<nb::dict>(dict);
    set.keys.reserve(d.size());
    set.clauses.reserve(d.size());
    for (auto [key, value] : d) {
        if (!nb::isinstance<nb::str>(key)) raise_type_error(parameter, "a dict with text keys", key);
        set.keys.push_back(nb::cast<std::string>(key));
        std::vector<std::string> literals;
        if (nb::isinstance<nb::str>(value)) {
            // Depth-0 dictionaries hold the head text itself.
            literals.push_back(nb::cast<std::string>(value));
        } else {
            for (nb::handle lit : value) {
                if (!nb::isinstance<nb::str>(lit)) {
                    raise_type_error(parameter, "a dict of lists of literal texts", lit);
                }
                literals.push_back(nb::cast<std::string>(lit));
            }
        }
        set.clauses.push_back(std::move(literals));
    }
    return set;
}

bool truth_of(nb::handle value) {
    const int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) nb::raise_python_error();
    return truth != 0;
}

long long integer_from(nb::handle value, const char* parameter) {
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
    return integer_from(value, parameter);
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
        }
    });
}

}  // namespace vantor::py
