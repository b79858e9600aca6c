#include <Python.h>

#include <climits>
#include <cstring>

#include "bindings.hpp"
#include "data/files.hpp"

using namespace nb::literals;

namespace vantor::py {

// Shared with bind_bottom.cpp.
namespace data_io {

std::string path_from(nb::handle value, const char* parameter) {
    if (PyUnicode_Check(value.ptr())) return py::path_from(value, parameter);
    if (!value.is_none() && nb::hasattr(value, "__fspath__")) {
        nb::object path = nb::module_::import_("os").attr("fspath")(value);
        if (PyUnicode_Check(path.ptr())) return py::path_from(path, parameter);
    }
    raise_type_error(parameter, "a file name (str or os.PathLike)", value);
}

std::vector<std::string> texts_from(nb::handle value, const char* parameter) {
    return py::texts_from(value, parameter);
}

}  // namespace data_io

namespace {



std::vector<std::string_view> views_of(const std::vector<std::string>& texts) {
    return {texts.begin(), texts.end()};
}

data::RelationMap relation_from(nb::handle relation) {
    data::RelationMap out;
    if (relation.is_none()) return out;
    if (!nb::isinstance<nb::dict>(relation)) {
        raise_type_error("relation", "a dict of predicate -> list of argument positions", relation);
    }
    for (auto [key, value] : nb::borrow<nb::dict>(relation)) {
        // A key that is not a text can never equal a predicate.
        if (!PyUnicode_Check(key.ptr())) continue;
        std::vector<long long> positions;
        if (nb::isinstance<nb::str>(value)) {
            raise_type_error("relation", "a dict whose values are lists of integers", value);
        }
        try {
            for (nb::handle p : value) {
                if (!PyLong_Check(p.ptr())) {
                    raise_type_error("relation", "a dict whose values are lists of integers", p);
                }
                int overflow = 0;
                const long long v = PyLong_AsLongLongAndOverflow(p.ptr(), &overflow);
                // Beyond 64 bits a position is outside every fact anyway.
                positions.push_back(overflow > 0 ? LLONG_MAX : overflow < 0 ? LLONG_MIN + 1 : v);
            }
        } catch (const nb::python_error&) {
            raise_type_error("relation", "a dict whose values are lists of integers", value);
        }
        out.emplace(text_from(key, "relation"), std::move(positions));
    }
    return out;
}

}  // namespace

static void register_file_errors() {
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const data::FileError& e) {
            // OSError(errno, text, path) picks the fitting subclass
            // (PermissionError, IsADirectoryError, ...).
            nb::object err = nb::handle(PyExc_OSError)(e.error, std::strerror(e.error),
                                                       nb::str(e.path.c_str(), e.path.size()));
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(err.ptr())), err.ptr());
        }
    });
}

void bind_data(nb::module_& m) {
    register_file_errors();

    m.def(
        "read_example",
        [](nb::handle file_name) {
            const std::string path = data_io::path_from(file_name, "file_name");
            std::vector<std::string> lines;
            {
                nb::gil_scoped_release release;
                lines = data::read_example(path);
            }
            return lines;
        },
        nb::sig("def read_example(file_name: str | os.PathLike[str]) -> list[str]"), "file_name"_a,
        "The example texts of an example file, in file order.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "file_name : str or os.PathLike\n"
        "    The example file, one example per line.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "list of str\n"
        "    Each line trimmed, keeping its final '.'; lines that are empty after\n"
        "    trimming and lines whose first character is '%' are skipped.\n"
        "\n"
        "Raises\n"
        "------\n"
        "FileNotFoundError\n"
        "    For a missing file.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> read_example(\"pos_example.f\")[:2]\n"
        "['grandparent(arthur,diana).', 'grandparent(beatrice,diana).']");

    m.def(
        "_collect_constants",
        [](nb::handle file, nb::handle relation) {
            // The file is read even when nothing is collected: a missing file
            // is an error either way.
            data::RelationMap rel = relation_from(relation);
            std::vector<text::Arg> found;
            if (nb::isinstance<nb::list>(file)) {
                const std::vector<std::string> lines = texts_from(file, "file");
                nb::gil_scoped_release release;
                found = data::collect_constants(views_of(lines), rel);
            } else {
                const std::string path = data_io::path_from(file, "file");
                nb::gil_scoped_release release;
                const std::string content = data::read_text_file(path);
                found = data::collect_constants(data::background_lines(content), rel);
            }
            return args_to_py(found);
        },
        "file"_a, "relation"_a.none(),
        "The values read_constants_bk adds, before comparing with the list given.");
}

}  // namespace vantor::py
