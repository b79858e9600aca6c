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
                             "A literal text split into its predicate and argument text.\n"
                             "\n"
                             "Parameters\n"
                             "----------\n"
                             "mode : str\n"
                             "    A literal, such as 'parent(ann,bob).'.\n"
                             "\n"
                             "Attributes\n"
                             "----------\n"
                             "predicate : str\n"
                             "    The text before the first '('.\n"
                             "body : list of str\n"
                             "    The argument text and the rest of the literal.\n"
                             "\n"
                             "Examples\n"
                             "--------\n"
                             ">>> clause = Clause(\"parent(ann,bob).\")\n"
                             ">>> clause.predicate, clause.body\n"
                             "('parent', ['ann,bob', '.'])\n"
                             ">>> clause.args()\n"
                             "['ann', 'bob']")
        .def(
            "__init__", [](text::Clause* self, Text<"mode"> mode) { new (self) text::Clause(mode.value); },
            "mode"_a)
        .def_rw("predicate", &text::Clause::predicate)
        .def_rw("body", &text::Clause::body)
        .def(
            "args", [](const text::Clause& c) { return args_to_py(c.args()); },
            "The argument texts, in order.\n"
            "\n"
            "Returns\n"
            "-------\n"
            "list\n"
            "    One text per argument; a list-valued argument is one list of texts.")
        .def("__repr__", [](const text::Clause& c) {
            return "Clause(predicate=" + nb::cast<std::string>(nb::repr(nb::str(c.predicate.c_str()))) +
                   ", body=" + nb::cast<std::string>(nb::repr(nb::cast(c.body))) + ")";
        });

    nb::class_<text::Meta>(m, "Meta",
                           "A rule text in internal form cut at its first ':-' into head and body.\n"
                           "\n"
                           "Parameters\n"
                           "----------\n"
                           "mode : str\n"
                           "    A rule text h:-b1&b2.\n"
                           "\n"
                           "Attributes\n"
                           "----------\n"
                           "head, body : str\n"
                           "    The two parts.\n"
                           "\n"
                           "Examples\n"
                           "--------\n"
                           ">>> rule = Meta(\"g(A,B):-p(A,C)&p(C,B)\")\n"
                           ">>> rule.head, rule.get_body_clauses()\n"
                           "('g(A,B)', ['p(A,C)', 'p(C,B)'])")
        .def(
            "__init__", [](text::Meta* self, Text<"mode"> mode) { new (self) text::Meta(mode.value); },
            "mode"_a)
        .def_rw("head", &text::Meta::head)
        .def_rw("body", &text::Meta::body)
        .def("get_body_clauses", &text::Meta::get_body_clauses,
             "The body literal texts: the body split at every '&'.\n"
             "\n"
             "Returns\n"
             "-------\n"
             "list of str\n"
             "    The body literals.")
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
        "The literal text predicate(a1,...,an), without blanks.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "predicate : str\n"
        "    The predicate name.\n"
        "args : sequence\n"
        "    The arguments, each converted with str(); with none the result is the\n"
        "    bare predicate.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "str\n"
        "    The literal.\n"
        "\n"
        "Raises\n"
        "------\n"
        "TypeError\n"
        "    When args is a single text.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> make_literal(\"parent\", [\"ann\", \"bob\"])\n"
        "'parent(ann,bob)'\n"
        ">>> make_literal(\"rain\", [])\n"
        "'rain'");
    m.def(
        "make_rule",
        [](Text<"head"> head, Texts<"args"> args) { return text::make_rule(head.value, args.items); },
        "head"_a, "args"_a, "Rule text in internal form: head:-b1&b2&...&bn.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "head : str\n"
        "    The head literal.\n"
        "args : list of str\n"
        "    The body literals.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "str\n"
        "    The rule.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> make_rule(\"g(A,B)\", [\"p(A,C)\", \"p(C,B)\"])\n"
        "'g(A,B):-p(A,C)&p(C,B)'");
    m.def(
        "make_prolog_rule",
        [](Text<"head"> head, Texts<"args"> args) { return text::make_prolog_rule(head.value, args.items); },
        "head"_a, "args"_a, "Rule text in Prolog form: head:-b1,b2,...,bn.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "head : str\n"
        "    The head literal.\n"
        "args : list of str\n"
        "    The body literals.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "str\n"
        "    The rule.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> make_prolog_rule(\"g(A,B)\", [\"p(A,C)\", \"p(C,B)\"])\n"
        "'g(A,B):-p(A,C),p(C,B)'");
    m.def("argument_kind", &argument_kind_py, "arg"_a,
          "The kind of an argument.\n"
          "\n"
          "Parameters\n"
          "----------\n"
          "arg : str or list\n"
          "    An argument text.\n"
          "\n"
          "Returns\n"
          "-------\n"
          "str\n"
          "    'variable' (entirely upper case, or a list), 'numeric' (digits or a\n"
          "    floating-point number) or 'constant' (anything else).\n"
          "\n"
          "Examples\n"
          "--------\n"
          ">>> [argument_kind(arg) for arg in [\"AB\", \"3.5\", \"ann\"]]\n"
          "['variable', 'numeric', 'constant']");
    m.def("is_float", &is_float_py, "potential_float"_a,
          "Whether float() accepts a value.\n"
          "\n"
          "Parameters\n"
          "----------\n"
          "potential_float : object\n"
          "    Any value.\n"
          "\n"
          "Returns\n"
          "-------\n"
          "bool\n"
          "    True when float() accepts the value; False when it raises ValueError.\n"
          "\n"
          "Examples\n"
          "--------\n"
          ">>> is_float(\"3.5\"), is_float(\"ann\")\n"
          "(True, False)");
    m.def("split_term", [](Text<"var"> var) { return text::split_term(var.value); }, "var"_a,
          "The parser's list step: the text before the first ']', then the\n"
          "comma-separated texts after it.\n\n"
          "Parameters\n----------\nvar : str\n    A piece of an argument list.\n\n"
          "Returns\n-------\nlist of str\n    The pieces.\n\n"
          "Examples\n--------\n>>> split_term(\"a],b,c\")\n['a', 'b', 'c']");
    m.def(
        "argument_positions",
        [](Texts<"args"> args) { return args_to_py(text::argument_positions(args.items)); },
        "args"_a,
        "Arguments with their list markers gathered: the items between a '$' and the\n"
        "next '*' become one list-valued argument; the others stay.\n\n"
        "Parameters\n----------\nargs : list of str\n    Argument texts and markers.\n\n"
        "Returns\n-------\nlist\n    The arguments.\n\n"
        "Examples\n--------\n>>> argument_positions([\"a\", \"$\", \"b\", \"c\", \"*\"])\n"
        "['a', ['b', 'c']]");
    m.def(
        "literal_substitution",
        [](Text<"a"> a, Text<"b"> b) { return substitution_to_py(text::literal_substitution(a.value, b.value)); },
        "a"_a, "b"_a,
        "Argument-by-argument match of two literals.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "a, b : str\n"
        "    Two literal texts.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "list of dict or str\n"
        "    One one-entry dict per argument position (an argument of a to the\n"
        "    argument of b), or the text 'false' when they cannot match.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> literal_substitution(\"p(A,B)\", \"p(ann,bob)\")\n"
        "[{'A': 'ann'}, {'B': 'bob'}]\n"
        ">>> literal_substitution(\"p(A,B)\", \"q(ann,bob)\")\n"
        "'false'");
    m.def(
        "is_linked",
        [](Text<"arg_head"> arg_head, Texts<"list_1"> list_1, Constants<"constant"> constant) {
            return text::is_linked(arg_head.value, list_1.items, constant.set);
        },
        "arg_head"_a, "list_1"_a, "constant"_a,
        "Whether every body literal shares a variable with the head or an earlier literal.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "arg_head : str\n"
        "    The head literal.\n"
        "list_1 : list of str\n"
        "    The body literals, in order.\n"
        "constant : list of str\n"
        "    Terms that are no variables.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "bool\n"
        "    True when every literal is linked.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> is_linked(\"g(A,B)\", [\"p(A,C)\", \"q(C,B)\"], []), is_linked(\"g(A,B)\", [\"p(D,C)\"], [])\n"
        "(True, False)");
    m.def(
        "is_chained",
        [](Text<"arg_head"> arg_head, Texts<"list_1"> list_1, Constants<"constant"> constant) {
            return text::is_chained(arg_head.value, list_1.items, constant.set);
        },
        "arg_head"_a, "list_1"_a, "constant"_a,
        "Whether each body literal's first argument is a variable already introduced.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "arg_head : str\n"
        "    The head literal.\n"
        "list_1 : list of str\n"
        "    The body literals, in order.\n"
        "constant : list of str\n"
        "    Terms that are no variables.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "bool\n"
        "    True when the body is a chain from the head.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> is_chained(\"g(A,B)\", [\"p(A,C)\", \"q(C,B)\"], []), is_chained(\"g(A,B)\", [\"q(C,B)\", \"p(A,C)\"], [])\n"
        "(True, False)");
}

}  // namespace vantor::py
