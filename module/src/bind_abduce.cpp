#include <nanobind/stl/pair.h>

#include "abduce/abduce.hpp"
#include "bindings.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

std::vector<std::string> texts_of(nb::handle seq, const char* parameter) {
    if (nb::isinstance<nb::str>(seq)) raise_type_error(parameter, "a list of texts", seq);
    std::vector<std::string> out;
    try {
        for (nb::handle item : seq) {
            if (!nb::isinstance<nb::str>(item)) {
                raise_type_error(parameter, "a list of texts (every element a str)", item);
            }
            out.push_back(nb::cast<std::string>(item));
        }
    } catch (const nb::python_error& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        raise_type_error(parameter, "a list of texts", seq);
    }
    return out;
}

// Predicate names tested with `in`: a member that is not a text can never
// equal a predicate, so it is left out. A single text would be tested by
// substring, which is never what is meant.
abduce::PredicateSet predicates_of(nb::handle seq, const char* parameter) {
    if (nb::isinstance<nb::str>(seq)) {
        throw TypeError(std::string(parameter) +
                        " must be a list of predicate names, not a single text; write [" +
                        nb::cast<std::string>(nb::repr(seq)) + "]");
    }
    abduce::PredicateSet out;
    try {
        for (nb::handle item : seq) {
            if (nb::isinstance<nb::str>(item)) out.insert(nb::cast<std::string>(item));
        }
    } catch (const nb::python_error& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        raise_type_error(parameter, "a list of predicate names", seq);
    }
    return out;
}

text::Arg term_from(nb::handle value, const char* parameter) {
    if (nb::isinstance<nb::str>(value)) return text::Arg::plain(nb::cast<std::string>(value));
    if (nb::isinstance<nb::list>(value) || nb::isinstance<nb::tuple>(value)) {
        // A list-valued argument (keyed as a tuple by literal_substitution).
        std::vector<std::string> items;
        for (nb::handle item : value) {
            if (!nb::isinstance<nb::str>(item)) {
                raise_type_error(parameter, "a substitution whose list terms hold texts", item);
            }
            items.push_back(nb::cast<std::string>(item));
        }
        return text::Arg::list(std::move(items));
    }
    raise_type_error(parameter, "a substitution of texts (keys and values str)", value);
}

// A substitution list as literal_substitution returns it: one-entry dicts in
// order. A dict with several entries counts as its entries one after another.
text::Substitution substitution_from(nb::handle seq, const char* parameter) {
    if (nb::isinstance<nb::str>(seq)) {
        throw TypeError(std::string(parameter) +
                        " must be a substitution list (a list of dicts), not the text " +
                        nb::cast<std::string>(nb::repr(seq)) +
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
    if (nb::isinstance<nb::str>(metric)) {
        const std::string m = nb::cast<std::string>(metric);
        if (m == "coverage") return abduce::Metric::Coverage;
        if (m == "predictive_power") return abduce::Metric::PredictivePower;
    }
    return abduce::Metric::Other;
}

nb::tuple abduction(nb::handle dictionary, nb::handle example_ids, nb::handle constant_set,
                    nb::handle meta_rule, nb::handle abducible, nb::handle metric) {
    const data::BottomClauseSet set = bottom_clause_set_from(dictionary, "Training_pos");
    const std::vector<std::string> ids = texts_of(example_ids, "positive_example_list");
    const text::ConstantSet constants = constant_set_from(constant_set, "constant_set");
    const std::vector<std::string> rules = texts_of(meta_rule, "meta_rule");
    const abduce::PredicateSet predicates = predicates_of(abducible, "abducible");
    const abduce::Metric m = metric_of(metric);
    abduce::AbductionResult result;
    {
        nb::gil_scoped_release release;
        result = abduce::abduce(set, ids, constants, rules, predicates, m);
    }
    nb::dict counts;
    for (const auto& [fact, value] : result.counts) {
        counts[nb::str(fact.c_str(), fact.size())] = nb::int_(value);
    }
    return nb::make_tuple(counts, nb::str(result.file_text.c_str(), result.file_text.size()));
}

}  // namespace

void bind_abduce(nb::module_& m) {
    m.def(
        "separate_abducibles",
        [](nb::handle H, nb::handle abduce) {
            abduce::Separated s =
                abduce::separate_abducibles(texts_of(H, "H"), predicates_of(abduce, "abduce"));
            return nb::make_tuple(nb::cast(s.rules), nb::cast(s.abducibles));
        },
        "H"_a, "abduce"_a,
        "Split abducible literals out of rules.\n\n"
        "Returns (H_new, abduce_new): every rule rebuilt without the body literals\n"
        "whose predicate is in `abduce`, and those literals in one flat list (rule\n"
        "order, then body order).");
    m.def(
        "consistent_substitutions",
        [](nb::handle a, nb::handle b) {
            return abduce::consistent_substitutions(substitution_from(a, "a"),
                                                    substitution_from(b, "b"));
        },
        "a"_a, "b"_a,
        "True when every key present in both substitution lists takes the same\n"
        "values, in the same order and number, in both.");
    m.def(
        "instantiate_abducibles",
        [](nb::handle a, nb::handle dic) {
            return abduce::instantiate_abducibles(texts_of(a, "a"), substitution_from(dic, "dic"));
        },
        "a"_a, "dic"_a,
        "Candidate facts: each literal of `a` with every argument replaced, in turn,\n"
        "by each value `dic` holds for it (first argument varying slowest). An\n"
        "argument without a value stays; repeated values give repeated facts.");
    m.def("_abduction", &abduction, "dictionary"_a, "example_ids"_a, "constant_set"_a,
          "meta_rule"_a, "abducible"_a, "metric"_a,
          "Counting map and output-file text of one abduction run (see vantor_abduction).");
}

}  // namespace vantor::py
