#include <Python.h>

#include <climits>

#include "bindings.hpp"
#include "bottom/bottom_clause.hpp"
#include "bottom/variables.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace data_io {
// Defined in bind_data.cpp.
std::string path_from(nb::handle value, const char* parameter);
std::vector<std::string> texts_from(nb::handle value, const char* parameter);
}  // namespace data_io

namespace {

bottom::BackgroundSource background_from(nb::handle file, const char* parameter) {
    bottom::BackgroundSource source;
    if (nb::isinstance<nb::list>(file)) {
        source.lines = data_io::texts_from(file, parameter);
    } else {
        source.path = data_io::path_from(file, parameter);
    }
    return source;
}

long long depth_from(nb::handle depth) {
    // Any integer type (numpy's included), as range() would accept it.
    PyObject* index = PyNumber_Index(depth.ptr());
    if (!index) {
        PyErr_Clear();
        raise_type_error("depth", "an integer", depth);
    }
    nb::object number = nb::steal(index);
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    // Passes beyond 2^63 cannot be told apart from 2^63 - 1: a scan stops
    // changing long before.
    if (overflow > 0) return LLONG_MAX;
    if (overflow < 0) return -1;
    return v;
}

std::string example_from(nb::handle example, const char* parameter) {
    if (!nb::isinstance<nb::str>(example)) raise_type_error(parameter, "an example text (str)", example);
    return nb::cast<std::string>(example);
}

nb::list texts_to_py(const std::vector<std::string>& texts) {
    nb::list out;
    for (const std::string& t : texts) out.append(nb::str(t.data(), t.size()));
    return out;
}

nb::object clause_to_py(const std::vector<std::string>& clause, long long depth) {
    if (bottom::BottomClauseBuilder::head_only(depth)) return nb::str(clause[0].data(), clause[0].size());
    return texts_to_py(clause);
}

// Progress that also lets Ctrl-C stop a long build: the core runs without
// the GIL, so pending signals are checked between examples.
class InterruptibleProgress final : public Progress {
public:
    explicit InterruptibleProgress(bool disable) : bar_(disable) {}
    void start(std::size_t total, std::string_view description) override { bar_.start(total, description); }
    void advance(std::size_t steps) override {
        bar_.advance(steps);
        nb::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) throw nb::python_error();
    }
    void finish() override { bar_.finish(); }

private:
    TqdmProgress bar_;
};

// One background and constant set, parsed on first use and shared by the
// example sets of one bottom_clause_generation call.
class SetBuilder {
public:
    SetBuilder(nb::handle file, nb::handle constant_set)
        : builder_(background_from(file, "file"), constant_set_from(constant_set, "constant_set")) {}

    nb::dict build(nb::handle examples, nb::handle depth, bool tqdm_disable, const char* parameter) {
        if (!nb::isinstance<nb::list>(examples)) raise_type_error(parameter, "a list of example texts", examples);
        const std::vector<std::string> texts = data_io::texts_from(examples, parameter);
        const long long d = depth_from(depth);
        InterruptibleProgress progress(tqdm_disable);
        data::BottomClauseSet set;
        {
            nb::gil_scoped_release release;
            set = builder_.build_set(texts, d, progress);
        }
        nb::dict out;
        for (std::size_t i = 0; i < set.size(); ++i) {
            out[nb::str(set.keys[i].data(), set.keys[i].size())] = clause_to_py(set.clauses[i], d);
        }
        return out;
    }

private:
    bottom::BottomClauseBuilder builder_;
};

}  // namespace

void bind_bottom(nb::module_& m) {
    m.def("variable_name", &bottom::variable_name, "number"_a,
          "Variable for a position: 0 -> 'A', 1 -> 'B', 26 -> 'AB' (least significant first).");
    m.def(
        "variabilise_example",
        [](std::string_view pos, nb::handle constant) {
            return bottom::variabilise_example(pos, constant_set_from(constant, "constant"));
        },
        "pos"_a, "constant"_a,
        "The head literal of an example: every argument outside `constant` becomes the\n"
        "variable of its position (f(a,a) -> f(A,B)).");

    m.def(
        "bottom_clause",
        [](nb::handle file_name, nb::handle example, nb::handle depth, nb::handle constant) -> nb::object {
            bottom::BottomClauseBuilder builder(background_from(file_name, "file_name"),
                                                constant_set_from(constant, "constant"));
            const std::string text = example_from(example, "example");
            const long long d = depth_from(depth);
            std::vector<std::string> clause;
            {
                nb::gil_scoped_release release;
                clause = builder.build(text, d);
            }
            return clause_to_py(clause, d);
        },
        nb::sig("def bottom_clause(file_name: str | os.PathLike[str] | list[str], example: str, "
                "depth: int, constant: list[str] | None) -> list[str] | str"),
        "file_name"_a, "example"_a, "depth"_a, "constant"_a.none(),
        "The bottom clause of one example: the background facts connected to the\n"
        "example's terms, with their constants turned into variables.\n\n"
        "file_name: background file name, or a list of fact texts (used unchanged).\n"
        "example: the example literal text, e.g. 'grandparent(ann,carl).'.\n"
        "depth: number of passes over the background; 0 returns the head text\n"
        "(variabilise_example), a negative depth an empty list.\n"
        "constant: texts never turned into variables; a fact whose first argument is\n"
        "one of them is taken when another of its arguments is known.");

    nb::class_<SetBuilder>(m, "_SetBuilder")
        .def(nb::init<nb::handle, nb::handle>(), "file"_a, "constant_set"_a.none())
        .def("build", &SetBuilder::build, "examples"_a, "depth"_a, "tqdm_disable"_a, "parameter"_a);
}

}  // namespace vantor::py
