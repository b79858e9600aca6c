#include "eval/fact_proving.hpp"

#include <algorithm>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "eval/batch_proving.hpp"
#include "eval/fact_join.hpp"
#include "eval/prover.hpp"

namespace vantor::eval {

namespace {

using namespace facts;

// Steps (calls and facts matched) one example may take here. The engine
// counts at least one inference per call and per clause it resumes, so a
// goal within this budget is far within its inference limit, and a goal
// that might exceed that limit is left to it.
constexpr std::size_t kStepBudget = static_cast<std::size_t>(kSearchInferenceLimit / 2);

// The engine reads the texts of a batch one after another: a text that does
// not end in layout would run into the next one.
bool ends_cleanly(std::string_view text) {
    return text.empty() || text.back() == '\n' || text.back() == ' ' || text.back() == '\t';
}

bool set_common(Background& bg, const std::string& text) {
    if (bg.common && bg.common_text == text) return true;
    bg.common.reset();
    if (!ends_cleanly(text)) return false;
    const auto clauses = read_clauses(text);
    if (!clauses) return false;
    auto facts = FactSet::from(*clauses, bg.terms);
    if (!facts) return false;
    // A predicate of both would be redefined by the later text.
    for (const auto& [key, predicate] : facts->predicates()) {
        if (bg.facts.find(key)) return false;
    }
    bg.common = std::move(facts);
    bg.common_text = text;
    return true;
}

bool read_examples(const ProofBatch& batch, Background& bg) {
    if (!bg.example_texts.empty() && bg.example_texts == batch.example_arguments) return true;
    bg.example_texts.clear();
    TermTable& terms = bg.terms;
    std::vector<std::vector<std::uint32_t>>& out = bg.examples;
    out.clear();
    out.reserve(batch.example_arguments.size());
    for (const std::string& text : batch.example_arguments) {
        const auto args = read_arguments(text);
        if (!args) return false;
        std::vector<std::uint32_t>& ids = out.emplace_back();
        for (const Argument& a : *args) {
            if (a.kind == Argument::variable) return false;
            ids.push_back(terms.intern(a));
        }
    }
    bg.example_texts = batch.example_arguments;
    return true;
}

// Every goal's clauses, grouped by predicate over the whole batch (the
// engine loads them as one program), compiled per goal.
std::optional<std::vector<std::vector<JoinClause>>> compile_goals(
    const ProofBatch& batch, const std::vector<std::vector<std::uint32_t>>& arguments, const FactScope& scope,
    TermTable& terms) {
    std::unordered_map<std::string, std::vector<ParsedClause>> defined;
    for (const ProofGoal& goal : batch.goals) {
        if (!ends_cleanly(goal.clauses)) return std::nullopt;
        auto clauses = read_clauses(goal.clauses);
        if (!clauses) return std::nullopt;
        for (ParsedClause& c : *clauses) {
            const std::string key = indicator(c.head.name, c.head.args.size());
            if (scope.find(key)) return std::nullopt;
            defined[key].push_back(std::move(c));
        }
    }
    std::vector<std::vector<JoinClause>> out;
    for (const ProofGoal& goal : batch.goals) {
        if (goal.list >= batch.example_lists.size()) return std::nullopt;
        const auto& examples = batch.example_lists[goal.list];
        for (std::uint32_t e : examples) {
            if (e >= arguments.size()) return std::nullopt;
        }
        std::vector<JoinClause>& compiled = out.emplace_back();
        if (examples.empty()) continue;
        const std::size_t arity = arguments.at(examples.front()).size();
        auto it = defined.find(indicator(goal.name, arity));
        if (it == defined.end()) return std::nullopt;
        for (const ParsedClause& c : it->second) {
            auto clause = compile_clause(c, scope, terms);
            if (!clause) return std::nullopt;
            compiled.push_back(std::move(*clause));
        }
    }
    return out;
}

// The goal's examples up to the gate it fails, as the engine proves them.
std::vector<std::uint32_t> prove_goal(const ProofGoal& goal, const std::vector<JoinClause>& clauses,
                                      const std::vector<std::uint32_t>& examples,
                                      const std::vector<std::vector<std::uint32_t>>& arguments, const TermTable& terms) {
    std::vector<std::uint32_t> proved;
    JoinScratch scratch;
    std::size_t gate = 0;
    for (std::size_t k = 0; k < examples.size(); ++k) {
        while (gate < goal.gates.size() && goal.gates[gate].examples <= k) {
            if (proved.size() < goal.gates[gate].proved) return proved;
            ++gate;
        }
        const std::vector<std::uint32_t>& example = arguments.at(examples[k]);
        if (example.size() != clauses.front().head.size()) throw JoinUnsure{};  // an unknown predicate
        if (prove_example(clauses, example, terms, kStepBudget, scratch)) proved.push_back(examples[k]);
    }
    return proved;
}

// A goal with no examples over the background: proving it loads the file.
ProofBatch load_check(const std::string& background, double time_limit, bool sandbox) {
    ProofBatch check;
    check.background = background;
    check.example_lists.emplace_back();
    check.goals.push_back(ProofGoal{"vantor_fact_check :- true.\n", "vantor_fact_check", 0, {}});
    check.time_limit = time_limit;
    check.sandbox = sandbox;
    check.prover = BatchProver::engine;
    return check;
}

// Whether the engine loads the background: facts of a built-in predicate's
// name (atom/1, length/2) read here as facts but make the engine refuse the
// file. Checked once per background.
bool engine_loads(Background& bg, const ProofBatch& batch, Interrupt& interrupt) {
    if (bg.engine_loads) return true;
    try {
        prove_batch(load_check(batch.background, batch.time_limit, batch.sandbox), interrupt);
    } catch (const PrologError&) {
        return false;  // the engine reports it, batch by batch
    }
    bg.engine_loads = true;
    return true;
}

// The loads running beside a search: (background, time limit, sandbox) and
// the thread whose search waits for the verdict at its end. Only that
// thread's batches go on without it; another search of the same file (on
// another thread) checks as ever, which waits for the engine.
struct LoadKey {
    std::string background;
    double time_limit;
    bool sandbox;
    std::thread::id owner;
    bool operator==(const LoadKey&) const = default;
};
std::mutex loads_mutex;
std::vector<LoadKey> loads_beside;

LoadKey key_of(const ProofBatch& batch, std::thread::id owner) {
    return LoadKey{batch.background, batch.time_limit, batch.sandbox, owner};
}

void forget_load_beside(const LoadKey& key) {
    std::lock_guard<std::mutex> lock(loads_mutex);
    loads_beside.erase(std::find(loads_beside.begin(), loads_beside.end(), key));
}

}  // namespace

bool load_runs_beside(const ProofBatch& batch) {
    std::lock_guard<std::mutex> lock(loads_mutex);
    const LoadKey key = key_of(batch, std::this_thread::get_id());
    return std::find(loads_beside.begin(), loads_beside.end(), key) != loads_beside.end();
}

EngineLoadBeside::EngineLoadBeside(std::string background, double time_limit, bool sandbox)
    : check_(load_check(background, time_limit, sandbox)), owner_(std::this_thread::get_id()) {
    {
        std::lock_guard<std::mutex> lock(loads_mutex);
        loads_beside.push_back(key_of(check_, owner_));
    }
    try {
        thread_ = std::thread([this] {
            try {
                NoInterrupt none;  // bounded by the time limit; the search keeps watching the host
                prove_batch(check_, none);
            } catch (...) {
                error_ = std::current_exception();
            }
        });
    } catch (...) {
        forget_load_beside(key_of(check_, owner_));
        throw;
    }
}

void EngineLoadBeside::wait() {
    if (waited_) return;
    waited_ = true;
    thread_.join();
    forget_load_beside(key_of(check_, owner_));
}

EngineLoadBeside::~EngineLoadBeside() { wait(); }

void EngineLoadBeside::finish() {
    wait();
    if (error_) std::rethrow_exception(error_);
}

std::optional<ProofAnswers> prove_with_facts(const ProofBatch& batch, Interrupt& interrupt) {
    if (batch.prover == BatchProver::engine || !ends_cleanly(batch.common)) return std::nullopt;
    const BackgroundLease lease = lease_background_facts(batch.background);
    if (!lease.facts) return std::nullopt;
    Background* const bg = lease.facts.get();
    // A load running beside the search gives its verdict when the search ends.
    const bool verdict_pending = batch.engine_verdict_pending || load_runs_beside(batch);
    if (!verdict_pending && !engine_loads(*bg, batch, interrupt)) return std::nullopt;
    if (!set_common(*bg, batch.common)) return std::nullopt;
    const FactScope scope{&bg->facts, &*bg->common};
    if (!read_examples(batch, *bg)) return std::nullopt;
    const auto* arguments = &bg->examples;
    const auto goals = compile_goals(batch, *arguments, scope, bg->terms);
    if (!goals) return std::nullopt;
    ProofAnswers out;
    try {
        for (std::size_t g = 0; g < batch.goals.size(); ++g) {
            interrupt.check();
            const auto& examples = batch.example_lists[batch.goals[g].list];
            out.proved.push_back(prove_goal(batch.goals[g], (*goals)[g], examples, *arguments, bg->terms));
        }
    } catch (const JoinUnsure&) {
        return std::nullopt;
    }
    return out;
}

ProofAnswers prove_batch_any(const ProofBatch& batch, Interrupt& interrupt) {
    if (auto answers = prove_with_facts(batch, interrupt)) return std::move(*answers);
    return prove_batch(batch, interrupt);
}

ProofAnswers FactProving::prove(const ProofBatch& batch) { return prove_batch_any(batch, interrupt_); }

}  // namespace vantor::eval
