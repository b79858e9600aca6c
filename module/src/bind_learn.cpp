#include <nanobind/stl/pair.h>

#include <climits>
#include <cmath>
#include <exception>
#include <optional>

#include "bindings.hpp"
#include "learn/candidates.hpp"
#include "learn/coverage.hpp"
#include "run/learning_run.hpp"
#include "learn/stages.hpp"
#include "learn/matching.hpp"
#include "learn/recursive.hpp"
#include "learn/selection.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

std::vector<std::vector<std::string>> text_lists_of(nb::handle seq, const char* parameter) {
    if (PyUnicode_Check(seq.ptr()) || seq.is_none()) raise_type_error(parameter, "a list of lists of texts", seq);
    std::vector<std::vector<std::string>> out;
    try {
        for (nb::handle item : seq) out.push_back(texts_from(item, parameter));
    } catch (const nb::python_error& e) {
        if (!e.matches(PyExc_TypeError)) throw;
        raise_type_error(parameter, "a list of lists of texts", seq);
    }
    return out;
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

// The host's rule cache: keys that are tuples of literal texts, values rule
// texts or [] (no rule). Other keys can never be the key of a choice.
void read_rule_cache(nb::dict rule_set_dic, learn::CoverageCache& cache) {
    for (auto [key, value] : rule_set_dic) {
        if (!nb::isinstance<nb::tuple>(key)) continue;
        std::vector<std::string> texts;
        bool usable = true;
        for (nb::handle item : key) {
            if (!PyUnicode_Check(item.ptr())) {
                usable = false;
                break;
            }
            texts.push_back(text_from(item, "rule_set_dic"));
        }
        if (!usable) continue;
        std::optional<std::string> rule;
        if (PyUnicode_Check(value.ptr()) && nb::len(value) > 0) {
            rule = text_from(value, "rule_set_dic");
        } else if (truth_of(value)) {
            raise_type_error("rule_set_dic", "a dict whose values are rule texts or []", value);
        }
        cache.put_rule_entry(texts, std::move(rule));
    }
}

// Both host caches get what a pass added, also when it stopped part-way.
void write_back_caches(const learn::CoverageCache& cache, std::size_t mark, nb::dict rule_set_dic,
                       nb::dict hypo_set_dic) {
    RuleStrings strings{cache, {}};
    std::vector<std::pair<std::vector<std::string>, std::optional<learn::RuleId>>> entries;
    cache.rule_entries_since(mark, entries);
    // Keys share their literals: one text object per distinct literal keeps
    // the write-back short (it runs after an interrupt too).
    std::unordered_map<std::string, nb::object> literals;
    for (const auto& [texts, rule] : entries) {
        nb::tuple key = nb::steal<nb::tuple>(PyTuple_New(static_cast<Py_ssize_t>(texts.size())));
        for (std::size_t i = 0; i < texts.size(); ++i) {
            auto [at, fresh] = literals.try_emplace(texts[i]);
            if (fresh) at->second = str_of(texts[i]);
            PyTuple_SET_ITEM(key.ptr(), static_cast<Py_ssize_t>(i), at->second.inc_ref().ptr());
        }
        if (rule) rule_set_dic[key] = strings.get(*rule);
        else rule_set_dic[key] = nb::list();
    }
    for (const std::string& example : learn::computed_examples(cache)) {
        nb::list rules;
        for (learn::RuleId r : *cache.example(example)) rules.append(strings.get(r));
        hypo_set_dic[str_of(example)] = rules;
    }
}

nb::list compute_coverage_py(BottomClauses<"BK"> BK, Text<"head"> head, Texts<"BT"> BT,
                             nb::dict hypo_set_dic, nb::dict rule_set_dic,
                             Constants<"constant"> constant, bool optimize, bool quiet,
                             bool reduce_bc, Count<"bc_count"> bc_count, bool rule_noise_check) {
    learn::CoverageOptions options;
    options.optimize = optimize;
    options.reduce_bc = reduce_bc;
    options.bc_count = bc_count.value;
    options.rule_noise_check = rule_noise_check;

    learn::CoverageCache cache(constant.set);
    cache.keep_entry_order();
    read_rule_cache(rule_set_dic, cache);
    for (auto [key, value] : hypo_set_dic) {
        (void)value;
        if (PyUnicode_Check(key.ptr())) cache.put_external_example(text_from(key, "hypo_set_dic"));
    }
    const std::size_t mark = cache.rule_entry_count();

    std::exception_ptr failure;
    {
        PyInterrupt interrupt;
        run::CheckedProgress progress(std::make_unique<TqdmProgress>(quiet), interrupt);
        PyRandom rng;
        nb::gil_scoped_release release;
        try {
            learn::compute_coverage(BK.set, head.value, BT.items, options, cache, rng, progress);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    write_back_caches(cache, mark, rule_set_dic, hypo_set_dic);
    if (failure) std::rethrow_exception(failure);

    nb::list final_hypo;
    for (const std::string& key : BK.set.keys) final_hypo.append(hypo_set_dic[str_of(key)]);
    return final_hypo;
}

// Rule texts of host hypothesis lists as ids.
struct RuleIds {
    std::unordered_map<std::string, learn::RuleId> ids;
    std::vector<nb::object> objects;
    learn::RuleId get(nb::handle text, const char* parameter) {
        const std::string s = text_from(text, parameter);
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
            rules.push_back(ids.get(r, parameter));
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

nb::dict filter_by_min_pos_py(nb::handle P, ThresholdArg<"min_pos", true> min_pos) {
    RuleIds ids;
    const auto lists = hypothesis_lists(P, "P", ids);
    return cover_dict(learn::filter_by_min_pos(lists, min_pos.value, ids.objects.size()), ids);
}

nb::dict filter_by_max_neg_py(nb::handle dic_p, nb::handle P, ThresholdArg<"max_neg", false> max_neg) {
    if (!PyDict_Check(dic_p.ptr())) raise_type_error("dic_p", "a dict", dic_p);
    RuleIds ids;
    learn::CoverMap pos;
    for (auto [key, value] : nb::borrow<nb::dict>(dic_p)) {
        (void)value;
        if (!nb::isinstance<nb::str>(key)) raise_type_error("dic_p", "a dict with rule texts as keys", key);
        pos.rules.push_back(ids.get(key, "dic_p"));
        pos.positions.emplace_back();
    }
    const auto lists = hypothesis_lists(P, "P", ids);
    return cover_dict(learn::filter_by_max_neg(pos, lists, max_neg.value, ids.objects.size()), ids);
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

nb::tuple select_theory_py(nb::handle P, nb::handle N, nb::handle p, nb::handle n, bool pi, bool re) {
    if (!PyDict_Check(P.ptr())) raise_type_error("P", "a dict", P);
    if (!PyDict_Check(N.ptr())) raise_type_error("N", "a dict", N);
    nb::dict pd = nb::borrow<nb::dict>(P), nd = nb::borrow<nb::dict>(N);
    std::vector<std::string> keys;
    std::vector<std::vector<std::int64_t>> pos_of, neg_of;
    for (auto [key, value] : nd) {
        if (!PyUnicode_Check(key.ptr())) raise_type_error("N", "a dict with rule texts as keys", key);
        if (!pd.contains(key)) {
            PyErr_SetObject(PyExc_KeyError, key.ptr());
            throw nb::python_error();
        }
        keys.push_back(text_from(key, "N"));
        pos_of.push_back(positions_of(pd[key], "P"));
        neg_of.push_back(positions_of(value, "N"));
    }
    if (keys.empty()) return nb::make_tuple(nb::list(), false);
    // The counts are read only when there is a theory to score.
    const long long pc = count_from(p, "p"), nc = count_from(n, "n");
    std::vector<std::string> output;
    {
        nb::gil_scoped_release release;
        const std::vector<std::size_t> chosen = learn::select_indexes(pos_of, neg_of, pc, nc);
        std::vector<std::string> hypo;
        for (std::size_t i : chosen) hypo.push_back(keys[i]);
        output = learn::theory_output(hypo, pi, re);
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

// The learner up to the selected theory, for tests and benchmarks:
// (theory, whether selection had candidates, seconds per stage).
nb::tuple learn_stages_py(BottomClauses<"Training_pos"> Training_pos,
                          BottomClauses<"Training_neg"> Training_neg, learn::LearnOptions options) {
    PyLearningHost py_host(options.quiet);
    std::vector<std::size_t> sorted;
    run::LearnedTheory learned;
    {
        nb::gil_scoped_release release;
        learned = run::learn_stages(Training_pos.set, Training_neg.set, options, py_host.host, sorted);
    }
    sort_host_lists(Training_pos.source, Training_pos.set, sorted);
    nb::dict times = stage_times_of(learned.times);
    times["candidates"] = learned.candidates;
    return nb::make_tuple(list_of(learned.selection.theory), learned.selection.announce, times);
}

// One learning run: (theory, the five training measures, time_learn, work),
// work holding the seconds per stage and of the Prolog evaluation.
nb::tuple vantor_learn_py(BottomClauses<"Training_pos"> Training_pos,
                          BottomClauses<"Training_neg"> Training_neg, PathText<"file"> file,
                          learn::LearnOptions options) {
    PyLearningHost py_host(options.quiet);
    std::vector<std::size_t> sorted;
    const run::LearningResult result = run_then_sort_host_lists(Training_pos, sorted, [&] {
        return run::learning_run(Training_pos.set, Training_neg.set, file.value, options, py_host.host, sorted);
    });
    nb::dict work = stage_times_of(result.times);
    work["prolog evaluation"] = result.seconds_prolog;
    work["candidates"] = result.candidates;
    return nb::make_tuple(list_of(result.hypothesis), measures_of(result.training), result.time_learn,
                          work);
}

}  // namespace

void bind_learn(nb::module_& m) {
    m.def("_compute_coverage", &compute_coverage_py, "BK"_a, "head"_a, "BT"_a, "hypo_set_dic"_a,
          "rule_set_dic"_a, "constant"_a, "optimize"_a, "quiet"_a, "reduce_bc"_a, "bc_count"_a,
          "rule_noise_check"_a);
    m.def("_rename_variables", &rename_variables_py, "Hypo"_a);
    m.def("_match_literals", &match_literals_py, "list_1"_a);
    m.def("_normalise_rule", [](Texts<"H"> H) { return list_of(learn::normalise_rule(H.items)); }, "H"_a);
    m.def("_filter_by_min_pos", &filter_by_min_pos_py, "P"_a, "min_pos"_a);
    m.def("_filter_by_max_neg", &filter_by_max_neg_py, "dic_p"_a, "P"_a, "max_neg"_a);
    m.def("_select_theory", &select_theory_py, "P"_a, "N"_a, "p"_a, "n"_a, "pi"_a, "re"_a);
    m.def("_chain_rule_body", [](Texts<"H"> H) { return list_of(learn::chain_rule_body(H.items)); }, "H"_a);
    m.def("_make_recursive_rules", [](Texts<"H"> H) { return list_of(learn::make_recursive_rules(H.items)); },
          "H"_a);
    m.def("_print_theory", &print_theory, "theory"_a,
          "Prints the hypothesis banner and the theory in list notation.");
    m.def("_learn_stages", &learn_stages_py, "Training_pos"_a, "Training_neg"_a, "options"_a);
    m.def("_vantor_learn", &vantor_learn_py, "Training_pos"_a, "Training_neg"_a, "file"_a,
          "options"_a);
}

}  // namespace vantor::py
