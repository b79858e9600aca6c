#include <nanobind/stl/optional.h>

#include "bindings.hpp"
#include "text/pystr.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

nb::object substitution_to_py(const std::optional<text::Substitution>& sub) {
    if (!sub) return nb::str("false");
    nb::list out;
    for (const auto& [key, value] : *sub) {
        nb::dict entry;
        nb::object k = arg_to_py(key);
        // A list cannot key a dict; a nested-list argument keys as a tuple.
        if (key.is_list) k = nb::tuple(k);
        entry[k] = arg_to_py(value);
        out.append(entry);
    }
    return out;
}

nb::str argument_kind_py(nb::handle arg) {
    if (nb::isinstance<nb::list>(arg)) return nb::str("variable");
    if (!PyUnicode_Check(arg.ptr())) raise_type_error("arg", "a text or a list", arg);
    return nb::str(text::kind_name(text::argument_kind(text_from(arg, "arg"))));
}

bool is_float_py(nb::handle value) {
    if (PyUnicode_Check(value.ptr())) return text::is_float(text_from(value, "potential_float"));
    // Anything else converts as the host's float() converts it: only a
    // ValueError means "not a float"; a TypeError reaches the caller.
    try {
        nb::handle(reinterpret_cast<PyObject*>(&PyFloat_Type))(value);
        return true;
    } catch (nb::python_error& e) {
        if (e.matches(PyExc_ValueError)) return false;
        throw;
    }
}

}  // namespace

namespace {

void bind_parser_classes(nb::module_& m) {
    nb::class_<text::Clause>(m, "Clause",
                             "A literal text split into its predicate and argument text.\n\n"
                             "Clause('parent(ann,bob).') has predicate 'parent' and body\n"
                             "['ann,bob', '.']; args() gives ['ann', 'bob'].")
        .def(
            "__init__", [](text::Clause* self, Text<"mode"> mode) { new (self) text::Clause(mode.value); },
            "mode"_a)
        .def_rw("predicate", &text::Clause::predicate)
        .def_rw("body", &text::Clause::body)
        .def(
            "args", [](const text::Clause& c) { return args_to_py(c.args()); },
            "The argument texts; a nested list [[a,b],[c]] gives one list-valued argument.")
        .def("__repr__", [](const text::Clause& c) {
            return "Clause(predicate=" + nb::cast<std::string>(nb::repr(nb::str(c.predicate.c_str()))) +
                   ", body=" + nb::cast<std::string>(nb::repr(nb::cast(c.body))) + ")";
        });

    nb::class_<text::Meta>(m, "Meta",
                           "A rule text h:-b1&b2 cut at its first ':-' into head and body.")
        .def(
            "__init__", [](text::Meta* self, Text<"mode"> mode) { new (self) text::Meta(mode.value); },
            "mode"_a)
        .def_rw("head", &text::Meta::head)
        .def_rw("body", &text::Meta::body)
        .def("get_body_clauses", &text::Meta::get_body_clauses,
             "The body literal texts: the body split at every '&'.")
        .def("__repr__", [](const text::Meta& r) {
            return "Meta(head=" + nb::cast<std::string>(nb::repr(nb::str(r.head.c_str()))) +
                   ", body=" + nb::cast<std::string>(nb::repr(nb::str(r.body.c_str()))) + ")";
        });
}

}  // namespace

void bind_text(nb::module_& m) {
    bind_parser_classes(m);
    m.def(
        "make_literal",
        [](Text<"predicate"> predicate, nb::handle args) {
            if (PyUnicode_Check(args.ptr())) raise_type_error("args", "a sequence", args);
            return text::make_literal(predicate.value, str_of_each(args, "args"));
        },
        "predicate"_a, "args"_a,
        "predicate(a1,...,an) from a predicate and arguments (each converted with str()).\n"
        "With no arguments the result is the bare predicate.");
    m.def(
        "make_rule",
        [](Text<"head"> head, Texts<"args"> args) { return text::make_rule(head.value, args.items); },
        "head"_a, "args"_a, "Rule text in internal form: head:-b1&b2&...&bn.");
    m.def(
        "make_prolog_rule",
        [](Text<"head"> head, Texts<"args"> args) { return text::make_prolog_rule(head.value, args.items); },
        "head"_a, "args"_a, "Rule text in Prolog form: head:-b1,b2,...,bn.");
    m.def("argument_kind", &argument_kind_py, "arg"_a,
          "'variable' (all upper case, or a list), 'numeric' or 'constant'.");
    m.def("is_float", &is_float_py, "potential_float"_a,
          "True when float() accepts the value; False when it raises ValueError.");
    m.def("split_term", [](Text<"var"> var) { return text::split_term(var.value); }, "var"_a);
    m.def(
        "argument_positions",
        [](Texts<"args"> args) { return args_to_py(text::argument_positions(args.items)); },
        "args"_a);
    m.def(
        "literal_substitution",
        [](Text<"a"> a, Text<"b"> b) { return substitution_to_py(text::literal_substitution(a.value, b.value)); },
        "a"_a, "b"_a,
        "Argument-by-argument match of two literals: a list of one-entry dicts,\n"
        "or the text 'false' when they cannot match.");
    m.def(
        "is_linked",
        [](Text<"arg_head"> arg_head, Texts<"list_1"> list_1, Constants<"constant"> constant) {
            return text::is_linked(arg_head.value, list_1.items, constant.set);
        },
        "arg_head"_a, "list_1"_a, "constant"_a,
        "True when every body literal shares a variable with the head or an earlier literal.");
    m.def(
        "is_chained",
        [](Text<"arg_head"> arg_head, Texts<"list_1"> list_1, Constants<"constant"> constant) {
            return text::is_chained(arg_head.value, list_1.items, constant.set);
        },
        "arg_head"_a, "list_1"_a, "constant"_a,
        "True when each body literal's first argument is a variable already introduced.");
}

}  // namespace vantor::py
