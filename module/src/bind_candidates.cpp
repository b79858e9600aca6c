#include <nanobind/stl/pair.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "bindings.hpp"
#include "learn/candidates.hpp"

using namespace nb::literals;

namespace vantor::py {

learn::KeySize key_size_from(nb::handle value) {
    const int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) nb::raise_python_error();
    if (truth == 0) return learn::KeySize::unset();
    if (PyFloat_Check(value.ptr())) return learn::KeySize::of_real(PyFloat_AsDouble(value.ptr()));
    if (PyIndex_Check(value.ptr())) {
        nb::object index = nb::steal(PyNumber_Index(value.ptr()));
        if (!index.is_valid()) nb::raise_python_error();
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
        // Beyond 64 bits no population is large enough; the draw fails alike.
        if (overflow) n = overflow > 0 ? LLONG_MAX : LLONG_MIN;
        return learn::KeySize::of(n);
    }
    raise_type_error("key_size",
                     "a number of examples (an int) or a value that tests false, such as [] or 0",
                     value);
}

namespace {

std::vector<std::string> texts_of(nb::handle seq, const char* parameter) {
    if (nb::isinstance<nb::str>(seq) || seq.is_none()) {
        raise_type_error(parameter, "a list of literal texts", seq);
    }
    std::vector<std::string> out;
    try {
        for (nb::handle item : seq) {
            if (!nb::isinstance<nb::str>(item)) {
                raise_type_error(parameter, "a list of texts (every element a str)", item);
            }
            out.push_back(nb::cast<std::string>(item));
        }
    } catch (const nb::python_error&) {
        raise_type_error(parameter, "a list of literal texts", seq);
    }
    return out;
}

nb::list to_list(const std::vector<std::string>& texts) {
    nb::list out;
    for (const std::string& s : texts) out.append(nb::str(s.c_str(), s.size()));
    return out;
}

}  // namespace

void sort_host_lists(nb::handle dict, const data::BottomClauseSet& set,
                     const std::vector<std::size_t>& positions) {
    nb::dict d = nb::borrow<nb::dict>(dict);
    for (std::size_t position : positions) {
        const std::string& key = set.keys[position];
        nb::object value = d[nb::str(key.c_str(), key.size())];
        if (nb::isinstance<nb::list>(value)) value.attr("sort")();
    }
}

namespace {

learn::ArityTable arity_table_from(nb::handle dict_1) {
    if (!nb::isinstance<nb::dict>(dict_1)) {
        raise_type_error("dict_1", "an arity table (dict of predicate name -> number of arguments)", dict_1);
    }
    learn::ArityTable table;
    for (auto [key, value] : nb::borrow<nb::dict>(dict_1)) {
        if (!nb::isinstance<nb::str>(key)) raise_type_error("dict_1", "a dict with predicate names (str) as keys", key);
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
        if (arity >= 0) table.entries.emplace_back(nb::cast<std::string>(key), static_cast<std::size_t>(arity));
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
        if (!nb::isinstance<nb::str>(a) || !nb::isinstance<nb::str>(b)) continue;
        out.emplace_back(nb::cast<std::string>(a), nb::cast<std::string>(b));
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
            if (!nb::isinstance<nb::str>(item)) {
                usable = false;
                break;
            }
            names.push_back(nb::cast<std::string>(item));
        }
        if (usable && std::is_sorted(names.begin(), names.end())) out.signatures.push_back(std::move(names));
    }
    return out;
}

nb::dict arity_table_py(nb::handle pos_file_dic, nb::handle size_positive_example, nb::handle key_size) {
    data::BottomClauseSet set = bottom_clause_set_from(pos_file_dic, "pos_file_dic");
    const long long size = integer_from(size_positive_example, "size_positive_example");
    const learn::KeySize ks = key_size_from(key_size);
    std::vector<std::size_t> sorted;
    learn::ArityTable table;
    {
        nb::gil_scoped_release release;
        PyRandom rng;
        table = learn::predicate_arity_table(set, size, ks, rng, &sorted);
    }
    sort_host_lists(pos_file_dic, set, sorted);
    nb::dict out;
    for (const auto& [name, arity] : table.entries) out[nb::str(name.c_str(), name.size())] = arity;
    return out;
}

nb::list compress_py(nb::handle bc) {
    if (!nb::isinstance<nb::list>(bc)) raise_type_error("BC", "a list of literal texts (it is sorted in place)", bc);
    std::vector<std::string> literals = texts_of(bc, "BC");
    nb::list out = to_list(learn::compress_bottom_clause(literals));
    bc.attr("sort")();
    return out;
}

nb::list limit_py(nb::handle bc, nb::handle bc_count) {
    std::vector<std::string> literals = texts_of(bc, "BC");
    long long k = 0;
    if (PyFloat_Check(bc_count.ptr())) {
        // The sampler checks the bounds before it finds it cannot count with a float.
        const double x = PyFloat_AsDouble(bc_count.ptr());
        if (!(x >= 0 && x <= static_cast<double>(literals.size()))) {
            throw ValueError("Sample larger than population or is negative: cannot draw " +
                             nb::cast<std::string>(nb::repr(bc_count)) + " of " +
                             std::to_string(literals.size()) + " literals of the bottom clause");
        }
        raise_type_error("bc_count", "an int", bc_count);
    }
    k = integer_from(bc_count, "bc_count");
    PyRandom rng;
    return to_list(learn::limit_bottom_clause(literals, k, rng));
}

nb::list relation_chains_py(nb::handle dict, nb::handle length, nb::handle constant_set,
                            nb::handle key_size, nb::handle set_chain) {
    const data::BottomClauseSet set = bottom_clause_set_from(dict, "positive_file_dictionary");
    const long long n = integer_from(length, "length_positive_examples");
    const text::ConstantSet constant = constant_set_from(constant_set, "constant_set");
    const learn::KeySize ks = key_size_from(key_size);
    const bool chain = truth_of(set_chain);
    std::vector<learn::PredicatePair> relation;
    {
        nb::gil_scoped_release release;
        PyRandom rng;
        relation = learn::relation_chains(set, n, constant, ks, chain, rng);
    }
    nb::list out;
    for (const auto& [a, b] : relation) {
        nb::list pair;
        pair.append(nb::str(a.c_str(), a.size()));
        pair.append(nb::str(b.c_str(), b.size()));
        out.append(pair);
    }
    return out;
}

nb::list generate_hypotheses_py(nb::handle dict_1, nb::handle constant, nb::handle max_literals,
                                nb::handle exact_literals, nb::handle key_size) {
    const data::BottomClauseSet set = bottom_clause_set_from(dict_1, "dict_1");
    const text::ConstantSet constants = constant_set_from(constant, "constant");
    const long long max = integer_from(max_literals, "max_literals");
    const bool exact = truth_of(exact_literals);
    const learn::KeySize ks = key_size_from(key_size);
    std::vector<std::string> templates;
    {
        nb::gil_scoped_release release;
        PyRandom rng;
        templates = learn::generate_hypotheses(set, constants, max, exact, ks, rng);
    }
    return to_list(templates);
}

nb::tuple hypotheses_from_bottom_clause_py(nb::handle bc, nb::handle h, nb::handle constant,
                                           nb::handle max_literals, nb::handle exact_literals,
                                           nb::handle track) {
    const std::vector<std::string> literals = texts_of(bc, "BC");
    if (!nb::isinstance<nb::str>(h)) raise_type_error("h", "a literal text", h);
    const std::string head = nb::cast<std::string>(h);
    const text::ConstantSet constants = constant_set_from(constant, "constant");
    const long long max = integer_from(max_literals, "max_literals");
    const bool exact = truth_of(exact_literals);
    learn::Track tr = track_from(track);
    const std::size_t known = tr.signatures.size();

    // A nested-list head argument is written with the host's str() of a list.
    std::string new_head;
    const std::string* override_head = nullptr;
    const std::vector<text::Arg> head_args = text::Clause(head).args();
    if (std::any_of(head_args.begin(), head_args.end(), [](const text::Arg& a) { return a.is_list; })) {
        std::vector<std::string> parts;
        for (nb::handle a : args_to_py(head_args)) parts.emplace_back(nb::str(a).c_str());
        new_head = text::make_literal("A", parts);
        override_head = &new_head;
    }

    std::vector<std::string> hypo;
    {
        nb::gil_scoped_release release;
        hypo = learn::hypotheses_from_bottom_clause(literals, head, constants, max, exact, tr, override_head);
    }
    nb::dict d = nb::borrow<nb::dict>(track);
    for (std::size_t i = known; i < tr.signatures.size(); ++i) {
        nb::list names = to_list(tr.signatures[i]);
        d[nb::tuple(names)] = nb::str("");
    }
    return nb::make_tuple(to_list(hypo), track);
}

nb::list apply_meta_rules_py(nb::handle hd, nb::handle rule, nb::handle dict_1, nb::handle relation,
                             nb::handle distinct) {
    if (!nb::isinstance<nb::str>(hd)) raise_type_error("hd", "a literal text", hd);
    const std::string head = nb::cast<std::string>(hd);
    const std::vector<std::string> templates = texts_of(rule, "rule");
    const learn::ArityTable table = arity_table_from(dict_1);
    const std::vector<learn::PredicatePair> links = relation_from(relation);
    const bool dist = truth_of(distinct);
    std::vector<std::string> rules;
    {
        nb::gil_scoped_release release;
        rules = learn::apply_meta_rules(head, templates, table, links, dist);
    }
    return to_list(rules);
}

}  // namespace

void bind_candidates(nb::module_& m) {
    m.def("_predicate_arity_table", &arity_table_py, "pos_file_dic"_a, "size_positive_example"_a,
          "key_size"_a);
    m.def("_compress_bottom_clause", &compress_py, "BC"_a);
    m.def(
        "_first_literal_per_predicate",
        [](nb::handle list_1) {
            return to_list(learn::first_literal_per_predicate(texts_of(list_1, "list_1")));
        },
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
