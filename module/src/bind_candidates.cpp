#include <nanobind/stl/pair.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "bindings.hpp"
#include "learn/candidates.hpp"

using namespace nb::literals;

namespace vantor::py {

void sort_host_lists(nb::handle dict, const data::BottomClauseSet& set,
                     const std::vector<std::size_t>& positions) {
    nb::dict d = nb::borrow<nb::dict>(dict);
    for (std::size_t position : positions) {
        nb::object value = d[str_of(set.keys[position])];
        if (nb::isinstance<nb::list>(value)) value.attr("sort")();
    }
}

namespace {

learn::ArityTable arity_table_from(nb::handle arities) {
    if (!PyDict_Check(arities.ptr())) {
        raise_type_error("dict_1", "an arity table (dict of predicate name -> number of arguments)", arities);
    }
    learn::ArityTable table;
    for (auto [key, value] : nb::borrow<nb::dict>(arities)) {
        if (!PyUnicode_Check(key.ptr())) raise_type_error("dict_1", "a dict with predicate names (str) as keys", key);
        // An arity that is not a whole number >= 0 matches no literal.
        long long arity = -1;
        if (PyBool_Check(value.ptr()) || PyLong_Check(value.ptr())) {
            int overflow = 0;
            arity = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
            if (overflow) arity = -1;
        } else if (PyFloat_Check(value.ptr())) {
            const double x = PyFloat_AsDouble(value.ptr());
            if (x >= 0 && x < 1e18 && std::floor(x) == x) arity = static_cast<long long>(x);
        }
        if (arity >= 0) table.entries.emplace_back(text_from(key, "dict_1"), static_cast<std::size_t>(arity));
    }
    return table;
}

std::vector<learn::PredicatePair> relation_from(nb::handle relation) {
    if (nb::isinstance<nb::str>(relation) || relation.is_none()) {
        raise_type_error("relation", "a list of predicate pairs", relation);
    }
    std::vector<learn::PredicatePair> out;
    for (nb::handle pair : relation) {
        // Only a pair of two names can ever equal a link [p, q].
        if (!(nb::isinstance<nb::list>(pair) || nb::isinstance<nb::tuple>(pair))) continue;
        if (nb::len(pair) != 2) continue;
        nb::handle a = pair[0], b = pair[1];
        if (!PyUnicode_Check(a.ptr()) || !PyUnicode_Check(b.ptr())) continue;
        out.emplace_back(text_from(a, "relation"), text_from(b, "relation"));
    }
    return out;
}

// The keys of a track dict that can match a signature: tuples of names in
// ascending order (a signature is always sorted).
learn::Track track_from(nb::handle track) {
    if (!nb::isinstance<nb::dict>(track)) raise_type_error("track", "a dict", track);
    learn::Track out;
    for (auto [key, value] : nb::borrow<nb::dict>(track)) {
        (void)value;
        if (!nb::isinstance<nb::tuple>(key)) continue;
        std::vector<std::string> names;
        bool usable = true;
        for (nb::handle item : key) {
            if (!PyUnicode_Check(item.ptr())) {
                usable = false;
                break;
            }
            names.push_back(text_from(item, "track"));
        }
        if (usable && std::is_sorted(names.begin(), names.end())) out.signatures.push_back(std::move(names));
    }
    return out;
}

nb::dict arity_table_py(BottomClauses<"pos_file_dic"> pos_file_dic,
                        Count<"size_positive_example"> size_positive_example, learn::KeySize key_size) {
    std::vector<std::size_t> sorted;
    learn::ArityTable table;
    {
        nb::gil_scoped_release release;
        PyRandom rng;
        table = learn::predicate_arity_table(pos_file_dic.set, size_positive_example.value, key_size,
                                             rng, &sorted);
    }
    sort_host_lists(pos_file_dic.source, pos_file_dic.set, sorted);
    nb::dict out;
    for (const auto& [name, arity] : table.entries) out[str_of(name)] = arity;
    return out;
}

nb::list compress_py(nb::handle bc) {
    if (!PyList_Check(bc.ptr())) raise_type_error("BC", "a list of literal texts (it is sorted in place)", bc);
    std::vector<std::string> literals = texts_from(bc, "BC");
    nb::list out = list_of(learn::compress_bottom_clause(literals));
    bc.attr("sort")();
    return out;
}

nb::list limit_py(Texts<"BC"> bc, nb::handle bc_count) {
    const std::vector<std::string>& literals = bc.items;
    if (PyFloat_Check(bc_count.ptr())) {
        // The sampler checks the bounds before it finds it cannot count with a float.
        const double x = PyFloat_AsDouble(bc_count.ptr());
        if (!(x >= 0 && x <= static_cast<double>(literals.size()))) {
            throw ValueError("Sample larger than population or is negative: cannot draw " +
                             text_from(nb::repr(bc_count), "bc_count") + " of " +
                             std::to_string(literals.size()) + " literals of the bottom clause");
        }
        raise_type_error("bc_count", "an int", bc_count);
    }
    const long long k = count_from(bc_count, "bc_count");
    PyRandom rng;
    return list_of(learn::limit_bottom_clause(literals, k, rng));
}

nb::list relation_chains_py(BottomClauses<"positive_file_dictionary"> dictionary,
                            Count<"length_positive_examples"> length, Constants<"constant_set"> constant_set,
                            learn::KeySize key_size, bool set_chain) {
    std::vector<learn::PredicatePair> relation;
    {
        nb::gil_scoped_release release;
        PyRandom rng;
        relation = learn::relation_chains(dictionary.set, length.value, constant_set.set, key_size,
                                          set_chain, rng);
    }
    nb::list out;
    for (const auto& [a, b] : relation) {
        nb::list pair;
        pair.append(str_of(a));
        pair.append(str_of(b));
        out.append(pair);
    }
    return out;
}

nb::list generate_hypotheses_py(BottomClauses<"dict_1"> examples, Constants<"constant"> constant,
                                Count<"max_literals"> max_literals, bool exact_literals,
                                learn::KeySize key_size) {
    std::vector<std::string> templates;
    {
        nb::gil_scoped_release release;
        PyRandom rng;
        templates = learn::generate_hypotheses(examples.set, constant.set, max_literals.value,
                                               exact_literals, key_size, rng);
    }
    return list_of(templates);
}

nb::tuple hypotheses_from_bottom_clause_py(Texts<"BC"> bc, Text<"h"> h, Constants<"constant"> constant,
                                           Count<"max_literals"> max_literals, bool exact_literals,
                                           nb::handle track) {
    const std::vector<std::string>& literals = bc.items;
    const std::string& head = h.value;
    learn::Track tr = track_from(track);
    const std::size_t known = tr.signatures.size();

    // A nested-list head argument is written with the host's str() of a list.
    std::string new_head;
    const std::string* override_head = nullptr;
    const std::vector<text::Arg> head_args = text::Clause(head).args();
    if (std::any_of(head_args.begin(), head_args.end(), [](const text::Arg& a) { return a.is_list; })) {
        std::vector<std::string> parts;
        for (nb::handle a : args_to_py(head_args)) parts.push_back(text_from(nb::str(a), "h"));
        new_head = text::make_literal("A", parts);
        override_head = &new_head;
    }

    std::vector<std::string> hypo;
    {
        nb::gil_scoped_release release;
        hypo = learn::hypotheses_from_bottom_clause(literals, head, constant.set, max_literals.value,
                                                    exact_literals, tr, override_head);
    }
    nb::dict d = nb::borrow<nb::dict>(track);
    for (std::size_t i = known; i < tr.signatures.size(); ++i) {
        d[nb::tuple(list_of(tr.signatures[i]))] = nb::str("");
    }
    return nb::make_tuple(list_of(hypo), track);
}

nb::list apply_meta_rules_py(Text<"hd"> hd, Texts<"rule"> rule, nb::handle arities, nb::handle relation,
                             bool distinct) {
    const learn::ArityTable table = arity_table_from(arities);
    const std::vector<learn::PredicatePair> links = relation_from(relation);
    std::vector<std::string> rules;
    {
        nb::gil_scoped_release release;
        rules = learn::apply_meta_rules(hd.value, rule.items, table, links, distinct);
    }
    return list_of(rules);
}

}  // namespace

void bind_candidates(nb::module_& m) {
    m.def("_predicate_arity_table", &arity_table_py, "pos_file_dic"_a, "size_positive_example"_a,
          "key_size"_a);
    m.def("_compress_bottom_clause", &compress_py, "BC"_a);
    m.def(
        "_first_literal_per_predicate",
        [](Texts<"list_1"> list_1) { return list_of(learn::first_literal_per_predicate(list_1.items)); },
        "list_1"_a);
    m.def("_limit_bottom_clause", &limit_py, "BC"_a, "bc_count"_a);
    m.def("_relation_chains", &relation_chains_py, "positive_file_dictionary"_a,
          "length_positive_examples"_a, "constant_set"_a, "key_size"_a, "set_chain"_a);
    m.def("_generate_hypotheses", &generate_hypotheses_py, "dict_1"_a, "constant"_a, "max_literals"_a,
          "exact_literals"_a, "key_size"_a);
    m.def("_hypotheses_from_bottom_clause", &hypotheses_from_bottom_clause_py, "BC"_a, "h"_a,
          "constant"_a, "max_literals"_a, "exact_literals"_a, "track"_a);
    m.def("_apply_meta_rules", &apply_meta_rules_py, "hd"_a, "rule"_a, "dict_1"_a, "relation"_a,
          "distinct"_a);
}

}  // namespace vantor::py
