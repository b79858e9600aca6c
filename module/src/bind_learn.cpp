#include <nanobind/stl/pair.h>

#include <climits>
#include <cmath>
#include <exception>
#include <optional>

#include "bindings.hpp"
#include "learn/candidates.hpp"
#include "learn/coverage.hpp"
#include "learn/driver.hpp"
#include "learn/matching.hpp"
#include "learn/recursive.hpp"
#include "learn/selection.hpp"

using namespace nb::literals;

namespace vantor::py {

// Shared with the candidate bindings.
learn::KeySize key_size_from(nb::handle value);
void sort_host_lists(nb::handle dict, const data::BottomClauseSet& set,
                     const std::vector<std::size_t>& positions);

namespace {

nb::str str_of(const std::string& s) { return nb::str(s.c_str(), s.size()); }

nb::list list_of(const std::vector<std::string>& texts) {
    nb::list out;
    for (const std::string& s : texts) out.append(str_of(s));
    return out;
}

std::vector<std::string> texts_of(nb::handle seq, const char* parameter) {
    if (nb::isinstance<nb::str>(seq) || seq.is_none()) raise_type_error(parameter, "a list of texts", seq);
    std::vector<std::string> out;
    try {
        for (nb::handle item : seq) {
            if (!nb::isinstance<nb::str>(item)) raise_type_error(parameter, "a list of texts (every element a str)", item);
            out.push_back(nb::cast<std::string>(item));
        }
    } catch (const nb::python_error&) {
        raise_type_error(parameter, "a list of texts", seq);
    }
    return out;
}

std::vector<std::vector<std::string>> text_lists_of(nb::handle seq, const char* parameter) {
    if (nb::isinstance<nb::str>(seq) || seq.is_none()) raise_type_error(parameter, "a list of lists of texts", seq);
    std::vector<std::vector<std::string>> out;
    try {
        for (nb::handle item : seq) out.push_back(texts_of(item, parameter));
    } catch (const nb::python_error&) {
        raise_type_error(parameter, "a list of lists of texts", seq);
    }
    return out;
}

void require_dict(nb::handle value, const char* parameter) {
    if (!nb::isinstance<nb::dict>(value)) raise_type_error(parameter, "a dict", value);
}

// Per-call text objects of rule ids, so that equal texts share one str.
struct RuleStrings {
    const learn::CoverageCache& cache;
    std::vector<nb::object> objects;
    nb::object get(learn::RuleId id) {
        if (id >= objects.size()) objects.resize(id + 1);
        if (!objects[id].is_valid()) objects[id] = str_of(cache.rule_text(id));
        return objects[id];
    }
};

nb::list compute_coverage_py(nb::handle BK, nb::handle head, nb::handle BT, nb::handle hypo_set_dic,
                             nb::handle rule_set_dic, nb::handle constant, nb::handle optimize,
                             nb::handle verbose, nb::handle reduce_bc, nb::handle bc_count,
                             nb::handle rule_noise_check) {
    const data::BottomClauseSet bk = bottom_clause_set_from(BK, "BK");
    if (!nb::isinstance<nb::str>(head)) raise_type_error("head", "a literal text", head);
    const std::string head_text = nb::cast<std::string>(head);
    const std::vector<std::string> candidates = texts_of(BT, "BT");
    require_dict(hypo_set_dic, "hypo_set_dic");
    require_dict(rule_set_dic, "rule_set_dic");
    const text::ConstantSet constants = constant_set_from(constant, "constant");
    learn::CoverageOptions options;
    options.optimize = truth_of(optimize);
    options.reduce_bc = truth_of(reduce_bc);
    if (options.reduce_bc) options.bc_count = integer_from(bc_count, "bc_count");
    options.rule_noise_check = truth_of(rule_noise_check);
    const bool quiet = truth_of(verbose);

    learn::CoverageCache cache(constants);
    cache.keep_entry_order();
    for (auto [key, value] : nb::borrow<nb::dict>(rule_set_dic)) {
        if (!nb::isinstance<nb::tuple>(key)) continue;  // never the key of a choice
        std::vector<std::string> texts;
        bool usable = true;
        for (nb::handle item : key) {
            if (!nb::isinstance<nb::str>(item)) {
                usable = false;
                break;
            }
            texts.push_back(nb::cast<std::string>(item));
        }
        if (!usable) continue;
        std::optional<std::string> rule;
        if (nb::isinstance<nb::str>(value) && nb::len(value) > 0) {
            rule = nb::cast<std::string>(value);
        } else if (truth_of(value)) {
            raise_type_error("rule_set_dic", "a dict whose values are rule texts or []", value);
        }
        cache.put_rule_entry(texts, std::move(rule));
    }
    for (auto [key, value] : nb::borrow<nb::dict>(hypo_set_dic)) {
        (void)value;
        if (nb::isinstance<nb::str>(key)) cache.put_external_example(nb::cast<std::string>(key));
    }
    const std::size_t mark = cache.rule_entry_count();

    learn::CoverageResult result;
    std::exception_ptr failure;
    {
        TqdmProgress progress(quiet);
        PyRandom rng;
        nb::gil_scoped_release release;
        try {
            result = learn::compute_coverage(bk, head_text, candidates, options, cache, rng, progress);
        } catch (...) {
            failure = std::current_exception();
        }
    }

    // Both caches get what was added, also when the pass stopped part-way.
    RuleStrings strings{cache, {}};
    std::vector<std::pair<std::vector<std::string>, std::optional<learn::RuleId>>> entries;
    cache.rule_entries_since(mark, entries);
    nb::dict rules = nb::borrow<nb::dict>(rule_set_dic);
    for (const auto& [texts, rule] : entries) {
        nb::tuple key = nb::tuple(list_of(texts));
        if (rule) rules[key] = strings.get(*rule);
        else rules[key] = nb::list();
    }
    nb::dict examples = nb::borrow<nb::dict>(hypo_set_dic);
    for (const std::string& example : learn::computed_examples(cache)) {
        nb::list lst;
        for (learn::RuleId r : *cache.example(example)) lst.append(strings.get(r));
        examples[str_of(example)] = lst;
    }
    if (failure) std::rethrow_exception(failure);

    nb::list final_hypo;
    for (std::size_t i = 0; i < bk.size(); ++i) final_hypo.append(examples[str_of(bk.keys[i])]);
    return final_hypo;
}

// Rule texts of host hypothesis lists as ids.
struct RuleIds {
    std::unordered_map<std::string, learn::RuleId> ids;
    std::vector<nb::object> objects;
    learn::RuleId get(nb::handle text) {
        const std::string s = nb::cast<std::string>(text);
        auto [it, inserted] = ids.try_emplace(s, static_cast<learn::RuleId>(objects.size()));
        if (inserted) objects.push_back(nb::borrow(text));
        return it->second;
    }
};

std::vector<std::vector<learn::RuleId>> hypothesis_lists(nb::handle P, const char* parameter, RuleIds& ids) {
    if (nb::isinstance<nb::str>(P) || P.is_none()) raise_type_error(parameter, "a list of hypothesis lists", P);
    std::vector<std::vector<learn::RuleId>> out;
    for (nb::handle entry : P) {
        if (nb::isinstance<nb::str>(entry)) raise_type_error(parameter, "a list of lists of rule texts", entry);
        std::vector<learn::RuleId> rules;
        for (nb::handle r : entry) {
            if (!nb::isinstance<nb::str>(r)) raise_type_error(parameter, "a list of lists of rule texts", r);
            rules.push_back(ids.get(r));
        }
        out.push_back(std::move(rules));
    }
    return out;
}

nb::dict cover_dict(const learn::CoverMap& map, const RuleIds& ids) {
    nb::dict out;
    for (std::size_t k = 0; k < map.rules.size(); ++k) {
        nb::list positions;
        for (std::int64_t i : map.positions[k]) positions.append(i);
        out[ids.objects[map.rules[k]]] = positions;
    }
    return out;
}

nb::dict filter_by_min_pos_py(nb::handle P, nb::handle min_pos) {
    RuleIds ids;
    const auto lists = hypothesis_lists(P, "P", ids);
    const long long threshold = threshold_from(min_pos, "min_pos", true);
    return cover_dict(learn::filter_by_min_pos(lists, threshold, ids.objects.size()), ids);
}

nb::dict filter_by_max_neg_py(nb::handle dic_p, nb::handle P, nb::handle max_neg) {
    require_dict(dic_p, "dic_p");
    RuleIds ids;
    learn::CoverMap pos;
    for (auto [key, value] : nb::borrow<nb::dict>(dic_p)) {
        (void)value;
        if (!nb::isinstance<nb::str>(key)) raise_type_error("dic_p", "a dict with rule texts as keys", key);
        pos.rules.push_back(ids.get(key));
        pos.positions.emplace_back();
    }
    const auto lists = hypothesis_lists(P, "P", ids);
    const long long threshold = threshold_from(max_neg, "max_neg", false);
    return cover_dict(learn::filter_by_max_neg(pos, lists, threshold, ids.objects.size()), ids);
}

std::vector<std::int64_t> positions_of(nb::handle value, const char* parameter) {
    std::vector<std::int64_t> out;
    if (nb::isinstance<nb::str>(value)) raise_type_error(parameter, "a dict of lists of example positions", value);
    for (nb::handle x : value) {
        if (!PyLong_Check(x.ptr())) raise_type_error(parameter, "a dict of lists of example positions (int)", x);
        out.push_back(nb::cast<std::int64_t>(x));
    }
    return out;
}

nb::tuple select_theory_py(nb::handle P, nb::handle N, nb::handle p, nb::handle n, nb::handle pi, nb::handle re) {
    require_dict(P, "P");
    require_dict(N, "N");
    nb::dict pd = nb::borrow<nb::dict>(P), nd = nb::borrow<nb::dict>(N);
    std::vector<std::string> keys;
    std::vector<std::vector<std::int64_t>> pos_of, neg_of;
    for (auto [key, value] : nd) {
        if (!nb::isinstance<nb::str>(key)) raise_type_error("N", "a dict with rule texts as keys", key);
        if (!pd.contains(key)) {
            PyErr_SetObject(PyExc_KeyError, key.ptr());
            throw nb::python_error();
        }
        keys.push_back(nb::cast<std::string>(key));
        pos_of.push_back(positions_of(pd[key], "P"));
        neg_of.push_back(positions_of(value, "N"));
    }
    if (keys.empty()) return nb::make_tuple(nb::list(), false);
    const long long pc = integer_from(p, "p"), nc = integer_from(n, "n");
    const bool use_pi = truth_of(pi), use_re = truth_of(re);
    std::vector<std::string> output;
    {
        nb::gil_scoped_release release;
        const std::vector<std::size_t> chosen = learn::select_indexes(pos_of, neg_of, pc, nc);
        std::vector<std::string> hypo;
        for (std::size_t i : chosen) hypo.push_back(keys[i]);
        output = learn::theory_output(hypo, use_pi, use_re);
    }
    return nb::make_tuple(list_of(output), true);
}

nb::object rename_variables_py(nb::handle Hypo) {
    const std::optional<std::string> r = learn::rename_variables(text_lists_of(Hypo, "Hypo"));
    if (!r) return nb::list();
    return str_of(*r);
}

nb::list match_literals_py(nb::handle list_1) {
    nb::list out;
    for (const auto& position : learn::match_literals(text_lists_of(list_1, "list_1"))) out.append(list_of(position));
    return out;
}

nb::tuple learn_stages_py(nb::handle Training_pos, nb::handle Training_neg, nb::handle constant_set,
                          nb::handle meta_rule, nb::handle min_pos, nb::handle max_neg,
                          nb::handle max_literals, nb::handle exact_literals, nb::handle key_size,
                          nb::handle distinct, nb::handle optimize, nb::handle verbose,
                          nb::handle reduce_bc, nb::handle bc_count, nb::handle set_chain, nb::handle pi,
                          nb::handle recursive, nb::handle rule_noise_check) {
    data::BottomClauseSet pos = bottom_clause_set_from(Training_pos, "Training_pos");
    const data::BottomClauseSet neg = bottom_clause_set_from(Training_neg, "Training_neg");
    const text::ConstantSet constants = constant_set_from(constant_set, "constant_set");
    learn::CandidateOptions copt;
    copt.meta_rule = texts_of(meta_rule, "meta_rule");
    copt.max_literals = integer_from(max_literals, "max_literals");
    copt.exact_literals = truth_of(exact_literals);
    copt.key_size = key_size_from(key_size);
    copt.distinct = truth_of(distinct);
    copt.set_chain = truth_of(set_chain);
    learn::CoverageOptions cov;
    cov.optimize = truth_of(optimize);
    cov.reduce_bc = truth_of(reduce_bc);
    if (cov.reduce_bc) cov.bc_count = integer_from(bc_count, "bc_count");
    cov.rule_noise_check = truth_of(rule_noise_check);
    learn::SelectionOptions sel;
    sel.min_pos = threshold_from(min_pos, "min_pos", true);
    sel.max_neg = threshold_from(max_neg, "max_neg", false);
    sel.pi = truth_of(pi);
    sel.recursive = truth_of(recursive);
    const bool quiet = truth_of(verbose);

    learn::StageTimes times;
    learn::Candidates candidates;
    {
        PyRandom rng;
        nb::gil_scoped_release release;
        candidates = learn::build_candidates(pos, constants, copt, rng, &times);
    }
    sort_host_lists(Training_pos, pos, candidates.sorted_positions);

    learn::Selection selection;
    {
        PyRandom rng;
        TqdmProgress pos_bar(quiet), neg_bar(quiet);
        nb::gil_scoped_release release;
        learn::CoverageCache cache(constants);
        selection = learn::cover_and_select(pos, neg, candidates.head, candidates.theory, cov, sel, cache,
                                            rng, pos_bar, neg_bar, &times);
    }
    nb::dict t;
    t["arity table"] = times.arity_table;
    t["relation chains"] = times.relation_chains;
    t["templates"] = times.templates;
    t["instantiation"] = times.instantiation;
    t["positive coverage"] = times.positive_coverage;
    t["negative coverage"] = times.negative_coverage;
    t["selection"] = times.selection;
    t["candidates"] = candidates.theory.size();
    return nb::make_tuple(list_of(selection.theory), selection.announce, t);
}

}  // namespace

void bind_learn(nb::module_& m) {
    m.def("_compute_coverage", &compute_coverage_py, "BK"_a, "head"_a, "BT"_a, "hypo_set_dic"_a,
          "rule_set_dic"_a, "constant"_a, "optimize"_a, "verbose"_a, "reduce_bc"_a, "bc_count"_a,
          "rule_noise_check"_a);
    m.def("_rename_variables", &rename_variables_py, "Hypo"_a);
    m.def("_match_literals", &match_literals_py, "list_1"_a);
    m.def("_normalise_rule", [](nb::handle H) { return list_of(learn::normalise_rule(texts_of(H, "H"))); }, "H"_a);
    m.def("_filter_by_min_pos", &filter_by_min_pos_py, "P"_a, "min_pos"_a);
    m.def("_filter_by_max_neg", &filter_by_max_neg_py, "dic_p"_a, "P"_a, "max_neg"_a);
    m.def("_select_theory", &select_theory_py, "P"_a, "N"_a, "p"_a, "n"_a, "pi"_a, "re"_a);
    m.def("_chain_rule_body", [](nb::handle H) { return list_of(learn::chain_rule_body(texts_of(H, "H"))); }, "H"_a);
    m.def("_make_recursive_rules", [](nb::handle H) { return list_of(learn::make_recursive_rules(texts_of(H, "H"))); }, "H"_a);
    m.def("_learn_stages", &learn_stages_py, "Training_pos"_a, "Training_neg"_a, "constant_set"_a,
          "meta_rule"_a, "min_pos"_a, "max_neg"_a, "max_literals"_a, "exact_literals"_a, "key_size"_a,
          "distinct"_a, "optimize"_a, "verbose"_a, "reduce_bc"_a, "bc_count"_a, "set_chain"_a, "pi"_a,
          "recursive"_a, "rule_noise_check"_a);
}

}  // namespace vantor::py
