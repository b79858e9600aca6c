#include "learn/clause_prover.hpp"

#include <algorithm>
#include <unordered_set>

#include "learn/clause_parts.hpp"

namespace vantor::learn {

namespace {

// Above this many bytes of kept answers, the parts' answers start afresh.
constexpr std::size_t kMaxPartBytes = std::size_t{64} << 20;

bool bit(const std::vector<std::uint64_t>& bits, std::uint32_t e) { return (bits[e >> 6] >> (e & 63)) & 1; }
void set_bit(std::vector<std::uint64_t>& bits, std::uint32_t e) { bits[e >> 6] |= std::uint64_t{1} << (e & 63); }

// What a prover answers for `examples` when `proves` says which it proves:
// those proved, in order, up to the first gate failed.
template <class Proves>
std::vector<std::uint32_t> gated(const std::vector<std::uint32_t>& examples, const std::vector<ProofGate>& gates,
                                 Proves proves) {
    std::vector<std::uint32_t> out;
    std::size_t gate = 0;
    for (std::size_t k = 0; k < examples.size(); ++k) {
        for (; gate < gates.size() && gates[gate].examples <= k; ++gate) {
            if (out.size() < gates[gate].proved) return out;
        }
        if (proves(examples[k])) out.push_back(examples[k]);
    }
    return out;
}

// How many of `examples` a prover tried before the gate it failed, from
// what it proved (in order).
std::size_t tried_before_gate(const std::vector<std::uint32_t>& examples, const std::vector<ProofGate>& gates,
                              const std::vector<std::uint32_t>& proved) {
    std::size_t gate = 0, count = 0;
    for (std::size_t k = 0; k < examples.size(); ++k) {
        for (; gate < gates.size() && gates[gate].examples <= k; ++gate) {
            if (count < gates[gate].proved) return k;
        }
        if (count < proved.size() && proved[count] == examples[k]) ++count;
    }
    return examples.size();
}

// The examples still to prove for a part, with the gates that hold for them
// given what is known: empty when the known answers settle the goal.
struct PartQuestion {
    std::vector<std::uint32_t> examples;
    std::vector<ProofGate> gates;
};
PartQuestion question_for(const std::vector<std::uint32_t>& examples, const std::vector<ProofGate>& gates,
                          const std::vector<std::uint64_t>& tried, const std::vector<std::uint64_t>& proved) {
    PartQuestion q;
    std::size_t known = 0, gate = 0;  // known: proved examples before k
    for (std::size_t k = 0; k <= examples.size(); ++k) {
        for (; gate < gates.size() && gates[gate].examples <= k; ++gate) {
            const std::size_t need = gates[gate].proved;
            if (need > known + q.examples.size()) return q;  // fails whatever the rest proves
            if (need > known) {
                q.gates.push_back({static_cast<std::uint32_t>(q.examples.size()), static_cast<std::uint32_t>(need - known)});
            }
        }
        if (k == examples.size()) break;
        const std::uint32_t e = examples[k];
        if (!bit(tried, e)) q.examples.push_back(e);
        else if (bit(proved, e)) ++known;
    }
    return q;
}

}  // namespace

std::vector<std::vector<std::uint32_t>> ClauseProver::prove(const Literal& head, const std::vector<const Clause*>& clauses,
                                                            const std::vector<const std::vector<std::uint32_t>*>& examples,
                                                            const std::vector<std::vector<ProofGate>>* gates) {
    std::vector<ProofGoal> goals;
    std::vector<std::vector<std::uint32_t>> example_lists;
    std::vector<const std::vector<std::uint32_t>*> lists;
    std::string head_args = head.text().substr(head.name.size());
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        ProofGoal goal;
        goal.name = "vantor_search_" + std::to_string(i);
        goal.clauses = goal.name + head_args + " :- ";
        if (clauses[i]->body.empty()) goal.clauses += "true";
        for (std::size_t k = 0; k < clauses[i]->body.size(); ++k) {
            goal.clauses += (k ? ", " : "") + clauses[i]->body[k].text();
        }
        goal.clauses += ".\n";
        std::size_t list = 0;
        while (list < lists.size() && lists[list] != examples[i]) ++list;
        if (list == lists.size()) {
            lists.push_back(examples[i]);
            example_lists.push_back(*examples[i]);
        }
        goal.list = static_cast<std::uint32_t>(list);
        proofs_ += examples[i]->size();
        if (gates) goal.gates = (*gates)[i];
        goals.push_back(std::move(goal));
    }
    ProofAnswers answers = ask(std::move(goals), std::move(example_lists));
    over_limit_ += answers.over_limit;
    answers.proved.resize(clauses.size());
    return std::move(answers.proved);
}

ProofAnswers ClauseProver::ask(std::vector<ProofGoal> goals, std::vector<std::vector<std::uint32_t>> lists) {
    // The batch's example texts stay in place: copying them per batch cost
    // more than many a batch's proofs.
    base_.goals = std::move(goals);
    base_.example_lists = std::move(lists);
    struct Restore {
        ProofBatch& batch;
        ~Restore() {
            batch.goals.clear();
            batch.example_lists.clear();
        }
    } restore{base_};
    return service_.prove(base_);
}

ClauseProver::PartAnswers& ClauseProver::answers_of(const std::string& part) {
    auto [at, fresh] = parts_.try_emplace(part);
    if (fresh) {
        const std::size_t words = (base_.example_arguments.size() + 63) / 64;
        at->second.tried.assign(words, 0);
        at->second.proved.assign(words, 0);
        part_bytes_ += 2 * words * sizeof(std::uint64_t) + part.size();
    }
    return at->second;
}

bool ClauseProver::ask_round(const std::vector<std::string>& parts, const std::vector<std::uint32_t>& examples,
                             const std::vector<std::vector<ProofGate>>& gates) {
    std::vector<ProofGoal> goals;
    std::vector<std::vector<std::uint32_t>> lists;
    std::vector<std::pair<PartAnswers*, PartQuestion>> questions;
    std::unordered_set<std::string> in_batch;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].empty() || !in_batch.insert(parts[i]).second) continue;
        PartAnswers& answers = parts_.at(parts[i]);
        PartQuestion q = question_for(examples, gates[i], answers.tried, answers.proved);
        if (q.examples.empty()) continue;
        ProofGoal goal;
        goal.name = "vantor_search_" + std::to_string(goals.size());
        goal.clauses = goal.name + parts[i] + ".\n";
        goal.list = static_cast<std::uint32_t>(lists.size());
        goal.gates = q.gates;
        lists.push_back(q.examples);
        goals.push_back(std::move(goal));
        proofs_ += q.examples.size();
        questions.emplace_back(&answers, std::move(q));
    }
    if (questions.empty()) return false;
    ProofAnswers answers = ask(std::move(goals), std::move(lists));
    over_limit_ += answers.over_limit;
    answers.proved.resize(questions.size());
    for (std::size_t g = 0; g < questions.size(); ++g) {
        auto& [known, q] = questions[g];
        const std::size_t tried = tried_before_gate(q.examples, q.gates, answers.proved[g]);
        for (std::size_t k = 0; k < tried; ++k) set_bit(known->tried, q.examples[k]);
        for (std::uint32_t e : answers.proved[g]) set_bit(known->proved, e);
    }
    return true;
}

bool ClauseProver::fails(const std::string& part, std::uint32_t example) const {
    if (part.empty()) return false;
    const auto at = parts_.find(part);
    return at != parts_.end() && bit(at->second.tried, example) && !bit(at->second.proved, example);
}

std::vector<std::vector<std::uint32_t>> ClauseProver::prove_refinements(const std::vector<std::string>& parts,
                                                                        const std::vector<std::uint32_t>& examples,
                                                                        const std::vector<std::vector<ProofGate>>& gates) {
    if (part_bytes_ > kMaxPartBytes) parts_.clear(), part_bytes_ = 0;
    for (const std::string& part : parts) {
        if (!part.empty()) answers_of(part);
    }
    // Two refinements with one new part but different gates may need a
    // second round for the looser one.
    while (ask_round(parts, examples, gates)) {
    }
    std::vector<std::vector<std::uint32_t>> out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const PartAnswers* answers = parts[i].empty() ? nullptr : &parts_.at(parts[i]);
        out.push_back(gated(examples, gates[i], [&](std::uint32_t e) { return !answers || bit(answers->proved, e); }));
    }
    return out;
}

}  // namespace vantor::learn
