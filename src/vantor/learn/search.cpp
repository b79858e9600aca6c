#include "learn/search.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <set>
#include <tuple>
#include <unordered_set>

#include "learn/clause_parts.hpp"

namespace vantor::learn {

namespace {

constexpr double kM = 10.0;

struct Node {
    Clause clause;
    std::vector<std::uint32_t> covered;
    std::size_t pos = 0, neg = 0, known = 0;  // known: positives covered already
    double score = 0.0, bound = 0.0;
};

// How clauses rank, best first: a higher score, then (a score such as
// compression has already paid for the length) fewer negatives, more
// positives, fewer literals.
std::tuple<double, std::size_t, std::ptrdiff_t, std::size_t> clause_rank(double score, std::size_t neg,
                                                                         std::size_t pos, std::size_t length) {
    return {-score, neg, -static_cast<std::ptrdiff_t>(pos), length};
}

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
            if (s_.prune && !may_beat_best(nodes_[at].bound, nodes_[at].pos, nodes_[at].clause.length() + 1)) continue;
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
        std::vector<std::string> parts;  // what each fresh refinement adds
        for (Clause& c : refinements(nodes_[at].clause, seed_, refine)) {
            std::string part = new_part(seed_.head, nodes_[at].clause, c);
            // Most refinements lose the seed (a value or a cut it lacks):
            // when that is known already, it is all there is to know.
            if (prover_.fails(part, s_.seed) || !seen_.insert(c.key()).second) continue;
            fresh.push_back(std::move(c));
            parts.push_back(std::move(part));
        }
        if (fresh.empty()) return;
        std::vector<std::uint32_t> order{s_.seed};
        std::size_t positives = 1;
        for (std::uint32_t e : nodes_[at].covered) {
            if (e < s_.n_pos && e != s_.seed) order.push_back(e), ++positives;
        }
        for (std::uint32_t e : nodes_[at].covered) {
            if (e >= s_.n_pos) order.push_back(e);  // negatives, then positives covered already
        }
        const std::size_t known = nodes_[at].known;
        std::vector<std::vector<ProofGate>> gates;
        std::vector<std::size_t> needed;
        for (const Clause& c : fresh) {
            needed.push_back(positives_needed(c.length(), positives, known));
            gates.push_back({{1, 1}, {static_cast<std::uint32_t>(positives), static_cast<std::uint32_t>(needed.back())}});
        }
        std::vector<std::vector<std::uint32_t>> covered =
            prover_.prove_refinements(parts, order, gates);
        for (std::size_t i = 0; i < fresh.size(); ++i) {
            std::sort(covered[i].begin(), covered[i].end());
            const auto proved_pos = std::lower_bound(covered[i].begin(), covered[i].end(),
                                                     static_cast<std::uint32_t>(s_.n_pos)) - covered[i].begin();
            // Stopped at a gate: its negatives were never tried.
            if (static_cast<std::size_t>(proved_pos) < needed[i]) continue;
            consider(Node{std::move(fresh[i]), std::move(covered[i])}, true);
        }
    }

    // The fewest positives not yet covered that a clause of this length
    // must keep to pass min_pos (with at most `known` covered already) and,
    // with pruning, to possibly beat the best clause so far (more than
    // `most` when it cannot).
    std::size_t positives_needed(std::size_t length, std::size_t most, std::size_t known) const {
        const double rest = static_cast<double>(s_.min_pos) - static_cast<double>(known) * s_.known_weight;
        std::size_t p = rest > 1.0 ? static_cast<std::size_t>(std::ceil(rest)) : 1;
        if (!s_.prune || !result_.best) return p;
        while (p <= most && !may_beat_best(optimistic_score(s_.score, p, length), p, length)) ++p;
        return p;
    }

    // Whether a clause with this score, these new positives and these
    // negatives would replace the best one (clause_rank). A bound holds for
    // refinements that may lose every negative, at their shortest.
    bool beats_best(double score, std::size_t pos, std::size_t neg, std::size_t length) const {
        return !result_.best || clause_rank(score, neg, pos, length) <
                                    clause_rank(result_.score, result_.neg, result_.pos, result_.best->length());
    }
    bool may_beat_best(double bound, std::size_t pos, std::size_t length) const {
        return beats_best(bound, pos, 0, length);
    }

    // Scores a proved node, keeps it as the best when it is, and queues it
    // when it may lead to better. False when the node is dropped.
    bool consider(Node node, bool may_be_chosen) {
        if (!std::binary_search(node.covered.begin(), node.covered.end(), s_.seed)) return false;
        node.pos = static_cast<std::size_t>(std::lower_bound(node.covered.begin(), node.covered.end(),
                                                             static_cast<std::uint32_t>(s_.n_pos)) -
                                            node.covered.begin());
        const auto counted = std::lower_bound(node.covered.begin(), node.covered.end(),
                                              static_cast<std::uint32_t>(s_.n_counted));
        node.neg = static_cast<std::size_t>(counted - node.covered.begin()) - node.pos;
        node.known = static_cast<std::size_t>(node.covered.end() - counted);
        const double positives = static_cast<double>(node.pos) + static_cast<double>(node.known) * s_.known_weight;
        if (positives < static_cast<double>(s_.min_pos)) return false;
        const std::size_t length = node.clause.length();
        node.score = clause_score(s_.score, node.pos, node.neg, length);
        node.bound = optimistic_score(s_.score, node.pos, length);
        const double precision = positives / (positives + static_cast<double>(node.neg) * s_.neg_weight);
        const bool passes = (length > 0 || may_be_chosen) && node.neg <= s_.max_neg && precision >= s_.min_precision;
        if (passes && s_.runners_up > 0) {
            passing_.push_back({node.score, node.neg, node.pos, length, passing_.size(), node.clause, node.covered});
        }
        if (passes && beats_best(node.score, node.pos, node.neg, length)) {
            result_.best = node.clause;
            result_.pos = node.pos;
            result_.neg = node.neg;
            result_.score = node.score;
        }
        // A clause without negatives is expanded only when pruning is off:
        // its refinements keep no more positives and cannot score higher.
        const bool promising = !s_.prune || may_beat_best(node.bound, node.pos, length + 1);
        if (length < s_.refine.max_literals && promising && (node.neg > 0 || !s_.prune)) {
            nodes_.push_back(std::move(node));
            open_.insert(nodes_.size() - 1);
        }
        return true;
    }

    // The best passing clauses other than the best one, best first in the
    // order that chose the best (then found earlier), one per set of covered
    // examples: the selection cannot tell apart two clauses that cover the
    // same examples, and a literal that changes nothing would otherwise
    // fill the list with copies of one clause.
    void keep_runners_up() {
        std::sort(passing_.begin(), passing_.end(), [](const Passing& a, const Passing& b) {
            return std::make_pair(clause_rank(a.score, a.neg, a.pos, a.length), a.order) <
                   std::make_pair(clause_rank(b.score, b.neg, b.pos, b.length), b.order);
        });
        std::set<std::vector<std::uint32_t>> covered;
        for (Passing& p : passing_) {
            if (result_.runners_up.size() >= s_.runners_up) break;
            if (result_.best && p.clause.key() == result_.best->key()) {
                covered.insert(p.covered);
                continue;
            }
            if (!covered.insert(p.covered).second) continue;
            result_.runners_up.push_back(std::move(p.clause));
        }
    }

    struct Passing {
        double score;
        std::size_t neg, pos, length, order;
        Clause clause;
        std::vector<std::uint32_t> covered;
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

SearchResult search_seed(const Seed& seed, const SearchSettings& settings, ClauseProver& prover,
                         Interrupt& interrupt) {
    Search search(seed, settings, prover, interrupt);
    return search.run();
}

}  // namespace vantor::learn
