#include "learn/search.hpp"

#include "learn/clause_parts.hpp"

#include <algorithm>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_set>

namespace vantor::learn {

namespace {

constexpr double kM = 10.0;

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

struct Node {
    Clause clause;
    std::vector<std::uint32_t> covered;
    std::size_t pos = 0, neg = 0;
    double score = 0.0, bound = 0.0;
};

// Best first: higher score, then shorter, then created earlier.
struct Order {
    const std::vector<Node>* nodes;
    bool operator()(std::size_t a, std::size_t b) const {
        const Node& x = (*nodes)[a];
        const Node& y = (*nodes)[b];
        return std::make_tuple(-x.score, x.clause.length(), a) < std::make_tuple(-y.score, y.clause.length(), b);
    }
};

bool head_is_general(const Literal& head) {
    std::vector<std::string> seen;
    for (const std::string& a : head.args) {
        const bool variable = !a.empty() && a.front() >= 'A' && a.front() <= 'Z';
        if (!variable || std::find(seen.begin(), seen.end(), a) != seen.end()) return false;
        seen.push_back(a);
    }
    return true;
}

class Search {
public:
    Search(const Seed& seed, const SearchSettings& settings, ClauseProver& prover, Interrupt& interrupt)
        : seed_(seed), s_(settings), prover_(prover), interrupt_(interrupt), open_(Order{&nodes_}) {}

    SearchResult run() {
        Node root{root_clause(seed_), {}};
        std::vector<std::uint32_t> all;
        for (std::size_t e = 0; e < s_.n_examples; ++e) all.push_back(static_cast<std::uint32_t>(e));
        root.covered = prover_.prove(seed_.head, {&root.clause}, {&all}).front();
        if (!consider(std::move(root), !head_is_general(seed_.head))) return result_;
        while (!open_.empty()) {
            if (result_.expanded >= s_.max_nodes) break;
            if (s_.deadline && std::chrono::steady_clock::now() > *s_.deadline) {
                result_.out_of_time = true;
                break;
            }
            interrupt_.check();
            const std::size_t at = *open_.begin();
            open_.erase(open_.begin());
            if (s_.prune && result_.best && nodes_[at].bound <= result_.score) continue;
            expand(at);
        }
        keep_runners_up();
        return result_;
    }

private:
    // Proves the node's new refinements in one batch, each on the examples
    // the node covers: the seed first (a clause that loses it is dropped),
    // then the positives (too few, or too few to beat the best clause:
    // dropped), then the negatives.
    void expand(std::size_t at) {
        ++result_.expanded;
        RefineSettings refine = s_.refine;
        std::vector<std::uint32_t> covered_pos;
        for (std::uint32_t e : nodes_[at].covered) {
            if (e < s_.n_pos) covered_pos.push_back(e);
        }
        if (s_.values) {
            refine.cuts = [&](const std::string& key, bool at_least) {
                return s_.values->cuts(key, covered_pos, at_least, s_.cuts);
            };
        }
        std::vector<Clause> fresh;
        for (Clause& c : refinements(nodes_[at].clause, seed_, refine)) {
            if (seen_.insert(c.key()).second) fresh.push_back(std::move(c));
        }
        if (fresh.empty()) return;
        std::vector<std::uint32_t> order{s_.seed};
        std::size_t positives = 1;
        for (std::uint32_t e : nodes_[at].covered) {
            if (e < s_.n_pos && e != s_.seed) order.push_back(e), ++positives;
        }
        for (std::uint32_t e : nodes_[at].covered) {
            if (e >= s_.n_pos) order.push_back(e);
        }
        std::vector<std::vector<ProofGate>> gates;
        std::vector<std::size_t> needed;
        for (const Clause& c : fresh) {
            needed.push_back(positives_needed(c.length(), positives));
            gates.push_back({{1, 1}, {static_cast<std::uint32_t>(positives), static_cast<std::uint32_t>(needed.back())}});
        }
        std::vector<std::vector<std::uint32_t>> covered =
            prover_.prove_refinements(seed_.head, nodes_[at].clause, fresh, order, gates);
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            std::sort(covered[i].begin(), covered[i].end());
            const auto proved_pos = std::lower_bound(covered[i].begin(), covered[i].end(),
                                                     static_cast<std::uint32_t>(s_.n_pos)) - covered[i].begin();
            // Stopped at a gate: its negatives were never tried.
            if (static_cast<std::size_t>(proved_pos) < needed[i]) continue;
            consider(Node{std::move(fresh[i]), std::move(covered[i])}, true);
        }
    }

    // The fewest positives a clause of this length must keep to pass
    // min_pos and, with pruning, to possibly beat the best clause so far
    // (more than `most` when it cannot).
    std::size_t positives_needed(std::size_t length, std::size_t most) const {
        std::size_t p = std::max<std::size_t>(1, s_.min_pos);
        if (!s_.prune || !result_.best) return p;
        while (p <= most && optimistic_score(s_.score, p, length) <= result_.score) ++p;
        return p;
    }

    // Scores a proved node, keeps it as the best when it is, and queues it
    // when it may lead to better. False when the node is dropped.
    bool consider(Node node, bool may_be_chosen) {
        if (!std::binary_search(node.covered.begin(), node.covered.end(), s_.seed)) return false;
        node.pos = static_cast<std::size_t>(std::lower_bound(node.covered.begin(), node.covered.end(),
                                                             static_cast<std::uint32_t>(s_.n_pos)) -
                                            node.covered.begin());
        node.neg = node.covered.size() - node.pos;
        if (node.pos < s_.min_pos) return false;
        const std::size_t length = node.clause.length();
        node.score = clause_score(s_.score, node.pos, node.neg, length);
        node.bound = optimistic_score(s_.score, node.pos, length);
        const double precision = static_cast<double>(node.pos) / static_cast<double>(node.pos + node.neg);
        const bool passes = (length > 0 || may_be_chosen) && node.neg <= s_.max_neg && precision >= s_.min_precision;
        if (passes && s_.runners_up > 0) passing_.push_back({node.score, length, passing_.size(), node.clause});
        if (passes && (!result_.best || node.score > result_.score ||
                       (node.score == result_.score && length < result_.best->length()))) {
            result_.best = node.clause;
            result_.pos = node.pos;
            result_.neg = node.neg;
            result_.score = node.score;
        }
        // A clause without negatives is expanded only when pruning is off:
        // its refinements keep no more positives and cannot score higher.
        const bool promising = !s_.prune || !result_.best || node.bound > result_.score;
        if (length < s_.refine.max_literals && promising && (node.neg > 0 || !s_.prune)) {
            nodes_.push_back(std::move(node));
            open_.insert(nodes_.size() - 1);
        }
        return true;
    }

    // The best passing clauses other than the best one, best first (higher
    // score, then shorter, then found earlier).
    void keep_runners_up() {
        std::sort(passing_.begin(), passing_.end(), [](const Passing& a, const Passing& b) {
            return std::make_tuple(-a.score, a.length, a.order) < std::make_tuple(-b.score, b.length, b.order);
        });
        for (Passing& p : passing_) {
            if (result_.runners_up.size() >= s_.runners_up) break;
            if (result_.best && p.clause.key() == result_.best->key()) continue;
            result_.runners_up.push_back(std::move(p.clause));
        }
    }

    struct Passing {
        double score;
        std::size_t length, order;
        Clause clause;
    };

    const Seed& seed_;
    const SearchSettings& s_;
    ClauseProver& prover_;
    Interrupt& interrupt_;
    std::vector<Node> nodes_;
    std::set<std::size_t, Order> open_;
    std::unordered_set<std::string> seen_;
    std::vector<Passing> passing_;
    SearchResult result_;
};

}  // namespace

BatchProver batch_prover_named(std::string_view name) {
    if (name == "facts") return BatchProver::facts;
    if (name == "engine") return BatchProver::engine;
    throw ValueError("prover must be one of 'facts', 'engine', got '" + std::string(name) + "'");
}

SearchScore search_score_named(std::string_view name) {
    if (name == "accuracy" || name == "coverage") return SearchScore::coverage;
    if (name == "compression") return SearchScore::compression;
    if (name == "laplace") return SearchScore::laplace;
    if (name == "m_estimate") return SearchScore::m_estimate;
    throw ValueError("eval_fn must be one of 'accuracy', 'coverage', 'compression', 'laplace', 'm_estimate' "
                     "with search='refine', got '" + std::string(name) + "'");
}

double clause_score(const ScoreContext& c, std::size_t pos, std::size_t neg, std::size_t length) {
    const double p = static_cast<double>(pos), n = static_cast<double>(neg);
    switch (c.score) {
        case SearchScore::coverage: return p - n;
        case SearchScore::compression: return p - n - static_cast<double>(length) + 1.0;
        case SearchScore::laplace: return (p + 1.0) / (p + n + 2.0);
        case SearchScore::m_estimate: return (p + kM * c.prior) / (p + n + kM);
    }
    return 0.0;
}

double optimistic_score(const ScoreContext& c, std::size_t pos, std::size_t length) {
    // Refinements keep at most these positives, may lose every negative and
    // are no shorter; every score rises with positives, falls with
    // negatives and (compression) with length.
    return clause_score(c, pos, 0, length);
}

std::vector<std::vector<std::uint32_t>> ClauseProver::prove(const Literal& head, const std::vector<const Clause*>& clauses,
                                                            const std::vector<const std::vector<std::uint32_t>*>& examples,
                                                            const std::vector<std::vector<ProofGate>>* gates) {
    ProofBatch batch = base_;
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
            batch.example_lists.push_back(*examples[i]);
        }
        goal.list = static_cast<std::uint32_t>(list);
        proofs_ += examples[i]->size();
        if (gates) goal.gates = (*gates)[i];
        batch.goals.push_back(std::move(goal));
    }
    ProofAnswers answers = service_.prove(batch);
    over_limit_ += answers.over_limit;
    answers.proved.resize(clauses.size());
    return std::move(answers.proved);
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

std::vector<std::vector<std::uint32_t>> ClauseProver::prove_refinements(const Literal& head, const Clause& parent,
                                                                        const std::vector<Clause>& clauses,
                                                                        const std::vector<std::uint32_t>& examples,
                                                                        const std::vector<std::vector<ProofGate>>& gates) {
    if (part_bytes_ > kMaxPartBytes) parts_.clear(), part_bytes_ = 0;
    // Each refinement's parts holding a literal its parent lacks, as one
    // goal ("" when there is none). Its other parts are parts of the
    // parent, or subsets of them, so every example here proves them.
    std::vector<std::string> new_part(clauses.size());
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        const std::vector<Literal>& body = clauses[i].body;
        std::vector<std::uint32_t> positions;
        for (const auto& part : independent_parts(head, body)) {
            const bool changed = std::any_of(part.begin(), part.end(), [&](std::uint32_t k) {
                return k >= parent.body.size() || body[k].name != parent.body[k].name ||
                       body[k].args != parent.body[k].args;
            });
            if (changed) positions.insert(positions.end(), part.begin(), part.end());
        }
        if (positions.empty()) continue;
        std::sort(positions.begin(), positions.end());
        new_part[i] = part_text(head, body, positions);
        answers_of(new_part[i]);
    }
    // Rounds of asking: two refinements with one new part but different
    // gates may need a second round for the looser one.
    for (bool asked = true; asked;) {
        asked = false;
        ProofBatch batch = base_;
        std::vector<std::pair<PartAnswers*, PartQuestion>> questions;
        std::unordered_set<std::string> in_batch;
        for (std::size_t i = 0; i < clauses.size(); ++i) {
            if (new_part[i].empty() || !in_batch.insert(new_part[i]).second) continue;
            PartAnswers& answers = parts_.at(new_part[i]);
            PartQuestion q = question_for(examples, gates[i], answers.tried, answers.proved);
            if (q.examples.empty()) continue;
            ProofGoal goal;
            goal.name = "vantor_search_" + std::to_string(batch.goals.size());
            goal.clauses = goal.name + new_part[i] + ".\n";
            goal.list = static_cast<std::uint32_t>(batch.example_lists.size());
            goal.gates = q.gates;
            batch.example_lists.push_back(q.examples);
            batch.goals.push_back(std::move(goal));
            proofs_ += q.examples.size();
            questions.emplace_back(&answers, std::move(q));
        }
        if (questions.empty()) break;
        asked = true;
        ProofAnswers answers = service_.prove(batch);
        over_limit_ += answers.over_limit;
        answers.proved.resize(questions.size());
        for (std::size_t g = 0; g < questions.size(); ++g) {
            auto& [known, q] = questions[g];
            const std::size_t tried = tried_before_gate(q.examples, q.gates, answers.proved[g]);
            for (std::size_t k = 0; k < tried; ++k) set_bit(known->tried, q.examples[k]);
            for (std::uint32_t e : answers.proved[g]) set_bit(known->proved, e);
        }
    }
    std::vector<std::vector<std::uint32_t>> out;
    for (std::size_t i = 0; i < clauses.size(); ++i) {
        if (new_part[i].empty()) {
            out.push_back(gated(examples, gates[i], [](std::uint32_t) { return true; }));
            continue;
        }
        const PartAnswers& answers = parts_.at(new_part[i]);
        out.push_back(gated(examples, gates[i], [&](std::uint32_t e) { return bit(answers.proved, e); }));
    }
    return out;
}

SearchResult search_seed(const Seed& seed, const SearchSettings& settings, ClauseProver& prover,
                         Interrupt& interrupt) {
    Search search(seed, settings, prover, interrupt);
    return search.run();
}

}  // namespace vantor::learn
