#include "run/refine_learning.hpp"

#include <charconv>
#include <chrono>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "data/files.hpp"
#include "eval/fact_proving.hpp"
#include "eval/prover.hpp"
#include "learn/search.hpp"
#include "run/proved_learning.hpp"
#include "text/clause.hpp"

namespace vantor::run {

namespace {

template <class Work>
auto with_inputs(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg, const std::string& background,
                 const learn::LearnOptions& options, Work&& work) {
    const std::string path = eval::absolute_background(background);
    const std::string text = data::read_text_file(path);
    const learn::ColumnTypes columns = learn::ColumnTypes::from_lines(data::background_lines(text));
    const learn::CoveringInput input{pos, neg, path, columns, options};
    return work(input);
}

// A rule in the selection's form: its body literals joined by "&".
std::string selection_form(std::string_view rule) {
    const std::size_t neck = rule.find(":-");
    if (neck == std::string_view::npos) return std::string(rule) + ":-";
    std::string out(rule.substr(0, neck + 2));
    const std::vector<std::string_view> body = text::split_top_level(rule.substr(neck + 2), ",");
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (i) out += '&';
        out += body[i];
    }
    return out;
}

// A number as Python writes a float (2.0, 0.5, 1e-09).
std::string python_float(double value) {
    char text[32];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    std::string out(text, error == std::errc() ? end : text);
    if (out.find_first_of(".en") == std::string::npos) out += ".0";
    return out;
}

using Clock = std::chrono::steady_clock;

// A training set of the other folds' examples, each once, in fold order,
// with its bottom clause from the complete dictionary `dict`.
data::BottomClauseSet training_set(const FoldData& folds, const FoldData::Part& dict,
                                   const std::vector<FoldData::Part>& parts, std::size_t k, std::size_t held_out,
                                   const char* dict_name) {
    std::unordered_map<std::string_view, std::size_t> at;
    for (std::size_t i = 0; i < dict.keys.size(); ++i) at.try_emplace(dict.keys[i], i);
    data::BottomClauseSet out;
    std::unordered_set<std::string_view> taken;
    for (std::size_t j = 0; j < k; ++j) {
        if (j == held_out) continue;
        for (const std::string& key : parts[j].keys) {
            const auto found = at.find(key);
            if (found == at.end()) throw KeyError("'" + key + "' is in a fold but not in kfolds." + dict_name);
            if (!taken.insert(key).second) continue;
            out.keys.push_back(key);
            out.clauses.push_back(folds.clauses[dict.clause[found->second]]);
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> search_warnings(const learn::CoveringResult& search, const learn::LearnOptions& options) {
    std::vector<std::string> out;
    if (search.over_limit) {
        out.push_back(std::to_string(search.over_limit) +
                      " goal(s) ran out of inferences during the search; counted as not proved");
    }
    if (search.out_of_time) {
        out.push_back("time_budget (" + python_float(options.search.time_budget) +
                      " s) ran out: the search returns the theory found so far (" +
                      std::to_string(search.theory.size()) + " rule(s))");
    } else if (search.theory.empty()) {
        out.push_back("the search found no clause that passes the filters (min_pos, max_neg, min_precision): the "
                      "theory is empty and predicts no example; loosen the filters, raise max_literals or "
                      "max_nodes");
    }
    return out;
}

std::unique_ptr<eval::EngineLoadBeside> engine_load_beside(const std::string& background,
                                                           const learn::LearnOptions& options) {
    const std::string path = eval::absolute_background(background);
    if (options.n_jobs == 1 || learn::batch_prover_named(options.search.prover) != BatchProver::facts) return nullptr;
    return std::make_unique<eval::EngineLoadBeside>(path, options.time_limit, options.sandbox);
}

learn::CoveringResult refine_learning(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                      const std::string& background, const learn::LearnOptions& options,
                                      ProvingService* service, Interrupt& interrupt, eval::EngineLoadBeside* load) {
    std::unique_ptr<eval::EngineLoadBeside> own;
    if (!load) {
        own = engine_load_beside(background, options);
        load = own.get();
    }
    learn::CoveringResult result = with_inputs(pos, neg, background, options, [&](const learn::CoveringInput& input) {
        eval::FactProving local(interrupt);
        return learn::learn_by_refinement(input, service ? *service : local, interrupt);
    });
    if (load) load->finish();
    return result;
}

RefinedRun refined_run(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                       const std::string& background, const learn::LearnOptions& options, ProvingService* service,
                       const LearningHost& host, eval::EngineLoadBeside* load) {
    RefinedRun run;
    run.search = refine_learning(pos, neg, background, options, service, host.interrupt, load);
    if (host.on_limit) {
        for (const std::string& warning : search_warnings(run.search, options)) host.on_limit(warning);
    }
    run.theory = run.search.theory;
    if (run.search.runners_up.empty()) return run;
    // The search's clauses first: the selection gives a tie to the earlier rule.
    learn::CoverageTable table;
    std::unordered_set<std::string> seen;
    for (const std::vector<std::string>* rules : {&run.search.theory, &run.search.runners_up}) {
        for (const std::string& rule : *rules) {
            std::string form = selection_form(rule);
            if (seen.insert(form).second) table.rules.push_back(std::move(form));
        }
    }
    eval::FactProving local(host.interrupt);
    const std::vector<std::string> none;
    table.covered = proved_coverage(table.rules, eval::absolute_background(background), pos.keys, neg.keys,
                                    options.selection.recursive ? pos.keys : none, options,
                                    service ? *service : local, host);
    learn::SelectionOptions chosen = options.selection;
    chosen.mode = "cover";
    if (chosen.eval_fn != "accuracy" && chosen.eval_fn != "coverage") chosen.eval_fn = "compression";
    learn::Selection selection = select_proved(table, pos.size(), neg.size(), chosen);
    if (selection.theory.empty()) warn_empty_theory(host);
    run.theory = std::move(selection.theory);
    return run;
}

CrossValidationResult refined_cross_validation(const FoldData& folds, long long k_fold,
                                               const CrossValidationOptions& options, ProvingService* service,
                                               const LearningHost& host) {
    const auto tic = Clock::now();
    const auto k = static_cast<std::size_t>(k_fold);
    const learn::LearnOptions& learn = options.learn;
    const eval::EvalSettings settings = evaluation_settings(learn);
    CrossValidationResult result;
    for (std::size_t fold = 0; fold < k; ++fold) {
        host.interrupt.check();
        const data::BottomClauseSet pos = training_set(folds, folds.pos_dict, folds.pos_fold, k, fold, "pos_dict");
        const data::BottomClauseSet neg = training_set(folds, folds.neg_dict, folds.neg_fold, k, fold, "neg_dict");
        if (pos.keys.empty()) throw IndexError("a fold has no training positive: the search needs a seed");
        std::vector<std::string> theory = refined_run(pos, neg, options.file, learn, service, host).theory;
        if (!learn.quiet && host.announce) host.announce(theory);
        if (!learn.quiet) {
            eval::evaluate_theory(theory, options.file, pos.keys, neg.keys, false, eval::kTrainingBanner, host.out,
                                  host.on_limit, &host.interrupt, nullptr, settings);
        }
        result.folds.push_back(eval::evaluate_theory(theory, options.file, folds.pos_fold[fold].keys,
                                                     folds.neg_fold[fold].keys, learn.quiet, eval::kTestingBanner,
                                                     host.out, host.on_limit, &host.interrupt, nullptr, settings));
        result.hypothesis = theory;
        result.theories.push_back(std::move(theory));
    }
    result.time_learn = std::chrono::duration<double>(Clock::now() - tic).count();
    return result;
}

std::string refine_first_clause(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                const std::string& background, const learn::LearnOptions& options, bool prune,
                                Interrupt& interrupt) {
    return with_inputs(pos, neg, background, options, [&](const learn::CoveringInput& input) {
        eval::FactProving local(interrupt);
        return learn::best_first_clause(input, local, interrupt, prune);
    });
}

}  // namespace vantor::run
