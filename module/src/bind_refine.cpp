// The refinement search: a learning run, its proving service over Python
// (for parallel proving with joblib), one batch proved for a worker, and one
// batch proved by a chosen prover (to compare fact proving with the engine).
#include <chrono>

#include <nanobind/stl/optional.h>
#include <nanobind/stl/tuple.h>

#include "bindings.hpp"
#include "py_proving.hpp"
#include "eval/batch_proving.hpp"
#include "eval/fact_proving.hpp"
#include "eval/fact_store.hpp"
#include "learn/clause_parts.hpp"
#include "learn/search.hpp"
#include "run/refine_learning.hpp"

using namespace nb::literals;

namespace vantor::py {

namespace {

using Answers = std::tuple<std::vector<std::vector<std::uint32_t>>, std::size_t>;

// The search's inputs. Anything but two dictionaries is refused first, as
// ever; then the engine's load of the background starts (when the options
// allow one) before they are read, so that it runs while they are.
struct RefineInputs {
    std::unique_ptr<eval::EngineLoadBeside> load;
    data::BottomClauseSet pos, neg;
    std::optional<PyProving> service;
};

RefineInputs refine_inputs(nb::handle pos_dict, nb::handle neg_dict, const std::string& background,
                           const learn::LearnOptions& options, nb::handle prove) {
    if (!PyDict_Check(pos_dict.ptr())) bottom_clause_set_from(pos_dict, "Training_pos");
    if (!PyDict_Check(neg_dict.ptr())) bottom_clause_set_from(neg_dict, "Training_neg");
    RefineInputs in;
    in.load = run::engine_load_beside(background, options);
    try {
        in.pos = bottom_clause_set_from(pos_dict, "Training_pos");
        in.neg = bottom_clause_set_from(neg_dict, "Training_neg");
    } catch (...) {
        nb::gil_scoped_release release;  // the load never needs the GIL; waiting for it must not hold it
        in.load.reset();
        throw;
    }
    if (!prove.is_none()) in.service.emplace(prove);
    return in;
}

nb::tuple refine_learn(nb::handle pos_dict, nb::handle neg_dict, const std::string& background,
                       learn::LearnOptions options, nb::handle prove) {
    RefineInputs in = refine_inputs(pos_dict, neg_dict, background, options, prove);
    PyInterrupt interrupt;
    learn::CoveringResult result;
    {
        nb::gil_scoped_release release;
        result = run::refine_learning(in.pos, in.neg, background, options, in.service ? &*in.service : nullptr,
                                      interrupt, in.load.get());
    }
    return nb::make_tuple(list_of(result.theory), result.out_of_time, result.over_limit, result.seeds,
                          result.expanded, list_of(result.runners_up),
                          result.proofs);
}

// vantor_learn with the search: (theory, training measures, time_learn,
// seconds per stage, example proofs asked for). The theory is announced
// unless quiet, then scored on the training examples.
nb::tuple learn_refined(nb::handle pos_dict, nb::handle neg_dict, const std::string& background,
                        learn::LearnOptions options, nb::handle prove) {
    RefineInputs in = refine_inputs(pos_dict, neg_dict, background, options, prove);
    PyLearningHost py_host(options.quiet);
    run::RefinedRun run;
    eval::EvalResult training;
    double time_learn = 0.0, seconds_prolog = 0.0;
    {
        nb::gil_scoped_release release;
        const auto tic = std::chrono::steady_clock::now();
        run = run::refined_run(in.pos, in.neg, background, options, in.service ? &*in.service : nullptr,
                               py_host.host, in.load.get());
        time_learn = std::chrono::duration<double>(std::chrono::steady_clock::now() - tic).count();
        if (!options.quiet && py_host.host.announce) py_host.host.announce(run.theory);
        training = run::training_evaluation(run.theory, background, in.pos, in.neg, options, py_host.host,
                                            seconds_prolog);
    }
    nb::dict work;
    work["search"] = time_learn;
    work["prolog evaluation"] = seconds_prolog;
    return nb::make_tuple(list_of(run.theory), measures_of(training), time_learn, work, run.search.proofs);
}

// Every answer of one batch proved in this process (the workers' entry).
FullAnswers prove_batch_answers(const std::string& background, std::vector<std::string> arguments,
                                std::string common, ProofLists lists, const ProofGoals& goals, double time_limit,
                                bool sandbox, std::int64_t inference_limit, const std::string& prover,
                                bool engine_verdict_pending) {
    const ProofBatch batch = batch_of(background, std::move(arguments), std::move(common), std::move(lists), goals,
                                      time_limit, sandbox, inference_limit, prover, engine_verdict_pending);
    PyInterrupt interrupt;
    ProofAnswers answers;
    {
        nb::gil_scoped_release release;
        answers = eval::prove_batch_any(batch, interrupt);
    }
    return {std::move(answers.proved), answers.over_limit, answers.over_time, std::move(answers.cut_short)};
}

Answers prove_batch(const std::string& background, std::vector<std::string> arguments, std::string common,
                    ProofLists lists, const ProofGoals& goals, double time_limit, bool sandbox,
                    const std::string& prover) {
    const ProofBatch batch = batch_of(background, std::move(arguments), std::move(common), std::move(lists), goals,
                                      time_limit, sandbox, 0, prover);
    PyInterrupt interrupt;
    ProofAnswers answers;
    {
        nb::gil_scoped_release release;
        answers = eval::prove_batch_any(batch, interrupt);
    }
    return {std::move(answers.proved), answers.over_limit};
}

// "engine": the engine; "facts": fact proving, None where it would leave
// the batch to the engine.
std::optional<Answers> prove_with(const std::string& prover, const std::string& background,
                                  std::vector<std::string> arguments, std::string common, ProofLists lists,
                                  const ProofGoals& goals, double time_limit, bool sandbox) {
    const ProofBatch batch = batch_of(background, std::move(arguments), std::move(common), std::move(lists), goals,
                                      time_limit, sandbox, 0, prover);
    PyInterrupt interrupt;
    std::optional<ProofAnswers> answers;
    {
        nb::gil_scoped_release release;
        if (prover == "engine") answers = eval::prove_batch(batch, interrupt);
        else answers = eval::prove_with_facts(batch, interrupt);
    }
    if (!answers) return std::nullopt;
    return Answers{std::move(answers->proved), answers->over_limit};
}

std::string first_clause(BottomClauses<"Training_pos"> pos, BottomClauses<"Training_neg"> neg,
                         const std::string& background, learn::LearnOptions options, bool prune) {
    PyInterrupt interrupt;
    nb::gil_scoped_release release;
    return run::refine_first_clause(pos.set, neg.set, background, options, prune, interrupt);
}

// The clause's body positions by independent part.
std::vector<std::vector<std::uint32_t>> clause_parts(const std::string& head, const std::vector<std::string>& body) {
    std::vector<learn::Literal> literals;
    for (const std::string& text : body) literals.push_back(learn::parse_literal(text));
    return learn::independent_parts(learn::parse_literal(head), literals);
}

}  // namespace

void bind_refine(nb::module_& m) {
    m.def("_refine_learn", &refine_learn, "Training_pos"_a, "Training_neg"_a, "background"_a, "options"_a,
          "prove"_a.none() = nb::none(),
          "Sequential covering with the refinement search: (theory, out of time, goals over the "
          "inference limit, seeds searched, clauses expanded, runners-up, example proofs asked for). `prove`, when given, proves every batch.");
    m.def("_search_warnings",
          [](std::vector<std::string> theory, bool out_of_time, std::size_t over_limit,
             const learn::LearnOptions& options) {
              learn::CoveringResult search;
              search.theory = std::move(theory);
              search.out_of_time = out_of_time;
              search.over_limit = over_limit;
              return run::search_warnings(search, options);
          },
          "theory"_a, "out_of_time"_a, "over_limit"_a, "options"_a,
          "The RuntimeWarning texts of a search that found `theory`.");
    m.def("_learn_refined", &learn_refined, "Training_pos"_a, "Training_neg"_a, "background"_a, "options"_a,
          "prove"_a.none() = nb::none(),
          "vantor_learn with the search: (theory, training measures, time_learn, seconds per stage, "
          "example proofs asked for).");
    m.def("_prove_batch", &prove_batch, "background"_a, "arguments"_a, "common"_a, "lists"_a, "goals"_a, "time_limit"_a,
          "sandbox"_a, "prover"_a = "facts",
          "One batch of search goals (clauses, name, example list, gates) proved in this process by the "
          "prover ('facts' or 'engine'): the proved indexes of each goal and the count cut short by the "
          "inference limit.");
    m.def("_prove_batch_answers", &prove_batch_answers, "background"_a, "arguments"_a, "common"_a, "lists"_a,
          "goals"_a, "time_limit"_a, "sandbox"_a, "inference_limit"_a, "prover"_a = "facts",
          "engine_verdict_pending"_a = false,
          "One batch proved in this process with every answer: (proved indexes per goal, goals over "
          "the inference limit, goals past the time bound, examples cut short per goal). "
          "`engine_verdict_pending`: the caller's search has the engine load the background and "
          "uses no answer if that fails, so fact proving need not wait for the engine's verdict.");
    m.def("_proves_over_facts", [](const std::string& background) {
              nb::gil_scoped_release release;
              return eval::facts::background_facts(background) != nullptr;
          }, "background"_a,
          "Whether search goals over the background (an absolute name) are proved over its facts "
          "in this process (ground facts of plain constants), rather than by the engine.");
    m.def("_prove_batch_with", &prove_with, "prover"_a, "background"_a, "arguments"_a, "common"_a, "lists"_a,
          "goals"_a, "time_limit"_a, "sandbox"_a,
          "One batch of search goals proved by the engine or by fact proving (None where fact "
          "proving leaves it to the engine).");
    m.def("_refine_first_clause", &first_clause, "Training_pos"_a, "Training_neg"_a, "background"_a, "options"_a,
          "prune"_a, "The first seed's best clause, with branch and bound on or off.");
    m.def("_independent_parts", &clause_parts, "head"_a, "body"_a,
          "The body's positions by independent part (literals linked through variables the head "
          "does not hold), as the search proves them.");
}

}  // namespace vantor::py
