#include "run/refine_learning.hpp"

#include <memory>
#include <string_view>
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

}  // namespace

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

std::string refine_first_clause(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                const std::string& background, const learn::LearnOptions& options, bool prune,
                                Interrupt& interrupt) {
    return with_inputs(pos, neg, background, options, [&](const learn::CoveringInput& input) {
        eval::FactProving local(interrupt);
        return learn::best_first_clause(input, local, interrupt, prune);
    });
}

}  // namespace vantor::run
