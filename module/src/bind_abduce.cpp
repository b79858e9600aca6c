#include <nanobind/stl/pair.h>

#include "abduce/abduce.hpp"
#include "bindings.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

// Predicate names tested with `in`: a member that is not a text can never
// equal a predicate, so it is left out. A single text would be tested by
// substring, which is never what is meant.
abduce::PredicateSet predicates_of(nb::handle seq, const char* parameter) {
    if (PyUnicode_Check(seq.ptr())) {
        throw TypeError(std::string(parameter) +
                        " must be a list of predicate names, not a single text; write [" +
                        text_from(nb::repr(seq), parameter) + "]");
    }
    abduce::PredicateSet out;
    try {
        for (nb::handle item : seq) {
            if (PyUnicode_Check(item.ptr())) out.insert(text_from(item, parameter));
        }
    } catch (const nb::python_error& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        raise_type_error(parameter, "a list of predicate names", seq);
    }
    return out;
}

text::Arg term_from(nb::handle value, const char* parameter) {
    if (PyUnicode_Check(value.ptr())) return text::Arg::plain(text_from(value, parameter));
    if (nb::isinstance<nb::list>(value) || nb::isinstance<nb::tuple>(value)) {
        // A list-valued argument (keyed as a tuple by literal_substitution).
        std::vector<std::string> items;
        for (nb::handle item : value) {
            if (!PyUnicode_Check(item.ptr())) {
                raise_type_error(parameter, "a substitution whose list terms hold texts", item);
            }
            items.push_back(text_from(item, parameter));
        }
        return text::Arg::list(std::move(items));
    }
    raise_type_error(parameter, "a substitution of texts (keys and values str)", value);
}

// A substitution list as literal_substitution returns it: one-entry dicts in
// order. A dict with several entries counts as its entries one after another.
text::Substitution substitution_from(nb::handle seq, const char* parameter) {
    if (PyUnicode_Check(seq.ptr())) {
        throw TypeError(std::string(parameter) +
                        " must be a substitution list (a list of dicts), not the text " +
                        text_from(nb::repr(seq), parameter) +
                        "; test literal_substitution's result against 'false' first");
    }
    text::Substitution out;
    for (nb::handle map : seq) {
        if (!nb::isinstance<nb::dict>(map)) {
            raise_type_error(parameter, "a list of one-entry dicts", map);
        }
        for (auto [k, v] : nb::borrow<nb::dict>(map)) {
            out.emplace_back(term_from(k, parameter), term_from(v, parameter));
        }
    }
    return out;
}

abduce::Metric metric_of(nb::handle metric) {
    if (PyUnicode_Check(metric.ptr())) {
        const std::string m = text_from(metric, "metric");
        if (m == "coverage") return abduce::Metric::Coverage;
        if (m == "predictive_power") return abduce::Metric::PredictivePower;
    }
    return abduce::Metric::Other;
}

nb::tuple abduction(BottomClauses<"Training_pos"> dictionary, Texts<"positive_example_list"> example_ids,
                    Constants<"constant_set"> constant_set, Texts<"meta_rule"> meta_rule,
                    nb::handle abducible, nb::handle metric) {
    const abduce::PredicateSet predicates = predicates_of(abducible, "abducible");
    const abduce::Metric m = metric_of(metric);
    abduce::AbductionResult result;
    {
        nb::gil_scoped_release release;
        result = abduce::abduce(dictionary.set, example_ids.items, constant_set.set, meta_rule.items,
                                predicates, m);
    }
    nb::dict counts;
    for (const auto& [fact, value] : result.counts) counts[str_of(fact)] = nb::int_(value);
    return nb::make_tuple(counts, str_of(result.file_text));
}

}  // namespace

void bind_abduce(nb::module_& m) {
    m.def(
        "separate_abducibles",
        [](Texts<"H"> H, nb::handle abduce) {
            abduce::Separated s = abduce::separate_abducibles(H.items, predicates_of(abduce, "abduce"));
            return nb::make_tuple(nb::cast(s.rules), nb::cast(s.abducibles));
        },
        "H"_a, "abduce"_a,
        "Split abducible literals out of rules.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "H : list of str\n"
        "    Rules in internal form.\n"
        "abduce : list of str\n"
        "    The abducible predicate names.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "H_new : list of str\n"
        "    Every rule rebuilt without the body literals whose predicate is in\n"
        "    abduce.\n"
        "abduce_new : list of str\n"
        "    Those literals in one flat list (rule order, then body order).\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> separate_abducibles([\"g(A,B):-p(A,C)&p(C,B)&m(A)\"], [\"m\"])\n"
        "(['g(A,B):-p(A,C)&p(C,B)'], ['m(A)'])");
    m.def(
        "consistent_substitutions",
        [](nb::handle a, nb::handle b) {
            return abduce::consistent_substitutions(substitution_from(a, "a"),
                                                    substitution_from(b, "b"));
        },
        "a"_a, "b"_a,
        "Whether two substitutions agree.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "a, b : list of dict\n"
        "    Substitutions, as literal_substitution gives them.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "bool\n"
        "    True when every key present in both takes the same values, in the same\n"
        "    order and number, in both.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> consistent_substitutions([{\"A\": \"a\"}], [{\"A\": \"a\"}, {\"B\": \"b\"}])\n"
        "True\n"
        ">>> consistent_substitutions([{\"A\": \"a\"}], [{\"A\": \"b\"}])\n"
        "False");
    m.def(
        "instantiate_abducibles",
        [](Texts<"a"> a, nb::handle dic) {
            return abduce::instantiate_abducibles(a.items, substitution_from(dic, "dic"));
        },
        "a"_a, "dic"_a,
        "Candidate facts from abducible literals and a substitution.\n"
        "\n"
        "Parameters\n"
        "----------\n"
        "a : list of str\n"
        "    Abducible literals.\n"
        "dic : list of dict\n"
        "    A substitution.\n"
        "\n"
        "Returns\n"
        "-------\n"
        "list of str\n"
        "    Each literal of a with every argument replaced, in turn, by each value\n"
        "    dic holds for it (first argument varying slowest). An argument without\n"
        "    a value stays; repeated values give repeated facts.\n"
        "\n"
        "Examples\n"
        "--------\n"
        ">>> instantiate_abducibles([\"m(A)\"], [{\"A\": \"arthur\"}, {\"A\": \"martin\"}])\n"
        "['m(arthur)', 'm(martin)']");
    m.def("_abduction", &abduction, "dictionary"_a, "example_ids"_a, "constant_set"_a,
          "meta_rule"_a, "abducible"_a, "metric"_a,
          "Counting map and output-file text of one abduction run (see vantor_abduction).");
}

}  // namespace vantor::py
