#include "run/refine_learning.hpp"

#include <memory>

#include "data/files.hpp"
#include "eval/fact_proving.hpp"
#include "eval/prover.hpp"
#include "learn/search.hpp"

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

std::string refine_first_clause(const data::BottomClauseSet& pos, const data::BottomClauseSet& neg,
                                const std::string& background, const learn::LearnOptions& options, bool prune,
                                Interrupt& interrupt) {
    return with_inputs(pos, neg, background, options, [&](const learn::CoveringInput& input) {
        eval::FactProving local(interrupt);
        return learn::best_first_clause(input, local, interrupt, prune);
    });
}

}  // namespace vantor::run
