#include "learn/covering.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <unordered_set>

#include "learn/search.hpp"

namespace vantor::learn {

namespace {

using Clock = std::chrono::steady_clock;

std::string arguments_of(std::string_view example) {
    while (!example.empty() && (example.back() == '.' || example.back() == ' ')) example.remove_suffix(1);
    const std::size_t open = example.find('(');
    return open == std::string_view::npos ? std::string() : std::string(example.substr(open));
}

std::string fact_text(std::string_view example) {
    while (!example.empty() && (example.back() == '.' || example.back() == ' ')) example.remove_suffix(1);
    return std::string(example) + ".\n";
}

// A rule as a program line: a blank after the neck, so that a body starting
// with an operator (>=) still reads.
std::string program_line(const std::string& rule) {
    const std::size_t neck = rule.find(":-");
    return rule.substr(0, neck + 2) + " " + rule.substr(neck + 2) + ".\n";
}

struct Filters {
    std::size_t min_pos = 1, max_neg = 0;
    double min_precision = 0.0;
};

Filters filters_of(const SelectionOptions& o, std::size_t n_pos, std::size_t n_neg) {
    Filters f;
    long long min_pos = o.min_pos, max_neg = o.max_neg;
    if (o.min_pos_fraction > 0) min_pos = static_cast<long long>(std::ceil(o.min_pos_fraction * static_cast<double>(n_pos)));
    if (o.max_neg_fraction > 0) max_neg = static_cast<long long>(o.max_neg_fraction * static_cast<double>(n_neg));
    f.min_pos = static_cast<std::size_t>(std::max(1LL, min_pos));
    f.max_neg = static_cast<std::size_t>(std::max(0LL, max_neg));
    f.min_precision = o.min_precision;
    return f;
}

// Whether `failed` seeds in a row without a clause, taken from `open`
// uncovered positives, are enough to stop: a clause worth finding covers at
// least `min_pos` of them and one in twenty, and a group that large would
// have held one of the seeds with a chance above 95% (the examples' order
// taken as arbitrary). At scale, with min_pos a share, one failure is
// enough; on a small set many seeds get their turn.
bool seeds_enough(std::size_t failed, std::size_t open, std::size_t min_pos) {
    const double group = std::max({static_cast<double>(min_pos), std::ceil(0.05 * static_cast<double>(open)), 1.0});
    if (group >= static_cast<double>(open)) return true;
    const double missed = std::pow(1.0 - group / static_cast<double>(open), static_cast<double>(failed));
    return missed < 0.05;
}

// Deterministic draws (splitmix64), the same on every platform.
std::uint64_t next_random(std::uint64_t& state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// `first`, then up to `cap` items in all drawn from `items` (kept in their
// order); every item when cap is zero or less.
std::vector<std::size_t> sample_of(const std::vector<std::size_t>& items, long long cap, std::uint64_t salt,
                                   const std::vector<std::size_t>& first) {
    std::vector<std::size_t> rest;
    for (std::size_t i : items) {
        if (std::find(first.begin(), first.end(), i) == first.end()) rest.push_back(i);
    }
    const std::size_t room = cap <= 0 ? rest.size() : static_cast<std::size_t>(std::max<long long>(0, cap - static_cast<long long>(first.size())));
    if (rest.size() > room) {
        std::uint64_t state = salt;
        for (std::size_t k = 0; k < room; ++k) {
            const std::size_t j = k + static_cast<std::size_t>(next_random(state) % (rest.size() - k));
            std::swap(rest[k], rest[j]);
        }
        rest.resize(room);
        std::sort(rest.begin(), rest.end());
    }
    std::vector<std::size_t> out = first;
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

struct Found {
    Literal head;
    Clause clause;
    double score = 0.0;
};

class Covering {
public:
    Covering(const CoveringInput& in, ProvingService& service, Interrupt& interrupt)
        : in_(in), o_(in.options), service_(service), interrupt_(interrupt),
          filters_(filters_of(o_.selection, in.pos.size(), in.neg.size())) {
        if (in.pos.size() == 0) throw IndexError("search='refine' needs at least one positive example");
        if (o_.search.time_budget > 0) {
            deadline_ = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(o_.search.time_budget));
        }
        score_.score = search_score_named(o_.selection.eval_fn);
        batch_prover_named(o_.search.prover);  // a bad name fails before any work
        for (const std::string& e : in.pos.keys) {
            arguments_.push_back(arguments_of(e));
            known_ += fact_text(e);
        }
        for (const std::string& e : in.neg.keys) arguments_.push_back(arguments_of(e));
        const Literal target = parse_literal(in.pos.keys.front());
        target_ = target.name + "/" + std::to_string(target.args.size());
        target_name_ = target.name;
        for (const std::string& e : in.pos.keys) {
            std::vector<std::string> args = parse_literal(e).args;
            std::sort(args.begin(), args.end());
            repeats_term_.push_back(std::adjacent_find(args.begin(), args.end()) != args.end());
        }
        uncovered_.assign(in.pos.size(), true);
        wrong_.assign(in.neg.size(), false);
        tried_.assign(in.pos.size(), false);
        deferred_.assign(in.pos.size(), false);
    }

    CoveringResult run() {
        std::size_t failures = 0, failed_seeds = 0, open_then = 0;
        while (o_.selection.max_rules < 0 || static_cast<long long>(out_.theory.size()) < o_.selection.max_rules) {
            std::vector<std::size_t> seeds = next_seeds(false);
            // Every seed left wants a recursive clause and there is no base
            // clause yet: search them without recursion.
            bool recursive = o_.selection.recursive;
            if (seeds.empty() && !has_base_) {
                seeds = next_seeds(true);
                recursive = false;
            }
            if (seeds.empty()) break;
            const Outcome outcome = step(seeds, recursive);
            if (out_.out_of_time) break;
            if (outcome == Outcome::added) {
                failures = failed_seeds = 0;
                continue;
            }
            if (outcome == Outcome::deferred) {
                for (std::size_t s : seeds) deferred_[s] = true;
                continue;
            }
            if (failures == 0) open_then = open_positives();
            for (std::size_t s : seeds) tried_[s] = true;
            ++failures;
            failed_seeds += seeds.size();
            const long long most = o_.search.max_failed_seeds;
            if (most > 0 ? failures >= static_cast<std::size_t>(most)
                         : seeds_enough(failed_seeds, open_then, filters_.min_pos)) {
                break;
            }
        }
        return std::move(out_);
    }

    std::string first_clause(bool prune) {
        const std::vector<std::size_t> seeds = next_seeds(true);
        if (seeds.empty()) return "";
        prune_ = prune;
        const std::optional<Found> found = search(seeds, o_.selection.recursive);
        return found ? rule_text(found->head, found->clause) : "";
    }

private:
    enum class Outcome { added, failed, deferred };

    // The next uncovered positives not tried yet; those whose best clause
    // was recursive wait (unless `deferred`) until the theory has a base.
    // Positives whose arguments repeat a term (t(x,x)) come after the
    // others: their bottom clause's head repeats a variable, so its clauses
    // cover only such pairs, while another seed's general clause may cover
    // them as well.
    std::vector<std::size_t> next_seeds(bool deferred) const {
        std::vector<std::size_t> out;
        const auto wanted = static_cast<std::size_t>(std::max(1LL, o_.search.seeds));
        for (bool repeating : {false, true}) {
            for (std::size_t i = 0; i < uncovered_.size() && out.size() < wanted; ++i) {
                if (repeats_term_[i] != repeating) continue;
                if (uncovered_[i] && !tried_[i] && (deferred || has_base_ || !deferred_[i])) out.push_back(i);
            }
        }
        return out;
    }

    // Uncovered positives not tried as seeds yet.
    std::size_t open_positives() const {
        std::size_t n = 0;
        for (std::size_t i = 0; i < uncovered_.size(); ++i) n += uncovered_[i] && !tried_[i];
        return n;
    }

    // A recursive clause needs a base clause beside it: without one, the
    // seed waits while other seeds may give a base.
    Outcome step(const std::vector<std::size_t>& seeds, bool recursive) {
        std::optional<Found> found = search(seeds, recursive);
        if (!found || out_.out_of_time) return Outcome::failed;
        if (found->clause.calls_target && !has_base_) return Outcome::deferred;
        if (accept(*found)) return Outcome::added;
        if (!found->clause.calls_target) return Outcome::failed;
        found = search(seeds, false);
        return found && !out_.out_of_time && accept(*found) ? Outcome::added : Outcome::failed;
    }

    ProofBatch batch(std::vector<std::string> arguments, std::string common) const {
        ProofBatch b;
        b.background = in_.background;
        b.example_arguments = std::move(arguments);
        b.common = std::move(common);
        b.time_limit = o_.time_limit;
        b.sandbox = o_.sandbox;
        b.prover = batch_prover_named(o_.search.prover);
        return b;
    }

    std::optional<Found> search(const std::vector<std::size_t>& seeds, bool recursive);
    SearchSettings settings_for(std::size_t n_pos, std::size_t n_neg, std::size_t n_known, std::size_t n_open,
                                bool recursive) const;
    void add_runner_up(std::string rule) {
        if (s_runners_.insert(rule).second) out_.runners_up.push_back(std::move(rule));
    }
    bool accept(const Found& found);
    // Positives and negatives the theory proves alone (tabled, no help).
    std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>> theory_proofs(const std::vector<std::string>& theory);
    std::vector<std::uint32_t> prove_on_all(const Found& found);

    const CoveringInput& in_;
    const LearnOptions& o_;
    ProvingService& service_;
    Interrupt& interrupt_;
    Filters filters_;
    ScoreContext score_;
    std::optional<Clock::time_point> deadline_;
    std::vector<std::string> arguments_;  // positives then negatives
    std::string known_, target_, target_name_;
    std::vector<bool> uncovered_, tried_, deferred_, repeats_term_;
    std::vector<bool> wrong_;  // negatives the theory covers
    // The positives' numbers, read once for every covering step.
    std::vector<std::optional<ExampleValues::Readings>> readings_;
    const ExampleValues::Readings& readings_of(std::size_t i) {
        if (readings_.empty()) readings_.resize(in_.pos.size());
        if (!readings_[i]) readings_[i] = ExampleValues::read(in_.pos.clauses[i], in_.columns);
        return *readings_[i];
    }
    std::unordered_set<std::string> s_runners_;
    bool has_base_ = false, prune_ = true;
    std::size_t theory_neg_ = 0;
    CoveringResult out_;
};

// The search's settings for a sample of `n_pos` of the `n_open` uncovered
// positives, `n_neg` negatives and `n_known` positives covered already.
SearchSettings Covering::settings_for(std::size_t n_pos, std::size_t n_neg, std::size_t n_known,
                                      std::size_t n_open, bool recursive) const {
    SearchSettings s;
    s.refine.max_literals = static_cast<std::size_t>(std::max(0LL, o_.candidates.max_literals));
    s.refine.recursive = recursive;
    s.score = score_;
    s.score.prior = static_cast<double>(n_pos) / static_cast<double>(n_pos + n_neg);
    s.n_pos = n_pos;
    s.n_counted = n_pos + n_neg;
    s.n_examples = n_pos + n_neg + n_known;
    // The filters scaled to the sample, loosely: the chosen clause meets
    // them exactly on every example afterwards.
    const double pos_share = static_cast<double>(n_pos) / static_cast<double>(n_open);
    const double neg_share = n_neg == 0 ? 1.0 : static_cast<double>(n_neg) / static_cast<double>(in_.neg.size());
    s.min_pos = std::max<std::size_t>(1, static_cast<std::size_t>(std::floor(static_cast<double>(filters_.min_pos) * pos_share)));
    s.max_neg = static_cast<std::size_t>(std::ceil(static_cast<double>(filters_.max_neg) * neg_share));
    s.min_precision = o_.selection.min_precision;
    s.max_nodes = static_cast<std::size_t>(std::max(1LL, o_.search.max_nodes));
    s.prune = prune_;
    s.deadline = deadline_;
    s.runners_up = static_cast<std::size_t>(std::max(0LL, o_.search.runners_up));
    return s;
}

std::optional<Found> Covering::search(const std::vector<std::size_t>& seeds, bool recursive) {
    std::vector<std::size_t> open, negatives, covered;
    for (std::size_t i = 0; i < uncovered_.size(); ++i) {
        (uncovered_[i] ? open : covered).push_back(i);
    }
    for (std::size_t i = 0; i < in_.neg.size(); ++i) negatives.push_back(i);
    const std::uint64_t salt = 0x5EEDULL + out_.seeds;
    const std::vector<std::size_t> pos = sample_of(open, o_.search.sample, salt, seeds);
    const std::vector<std::size_t> neg = sample_of(negatives, o_.search.sample, salt ^ 0xABCDULL, {});
    // Covered positives too: a clause's precision and min_pos are judged on
    // every positive, as accepting it does.
    const std::vector<std::size_t> done = sample_of(covered, o_.search.sample, salt ^ 0x7777ULL, {});
    std::vector<std::string> arguments;
    for (std::size_t i : pos) arguments.push_back(arguments_[i]);
    for (std::size_t i : neg) arguments.push_back(arguments_[in_.pos.size() + i]);
    for (std::size_t i : done) arguments.push_back(arguments_[i]);
    ClauseProver prover(service_, batch(std::move(arguments), recursive ? known_ : std::string()));

    SearchSettings s = settings_for(pos.size(), neg.size(), done.size(), open.size(), recursive);
    // Each sample stands for its whole list: counts are weighed by the
    // rates, in uncovered positives of the sample.
    const double pos_rate = static_cast<double>(open.size()) / static_cast<double>(pos.size());
    if (!neg.empty()) s.neg_weight = static_cast<double>(negatives.size()) / static_cast<double>(neg.size()) / pos_rate;
    if (!done.empty()) s.known_weight = static_cast<double>(covered.size()) / static_cast<double>(done.size()) / pos_rate;
    ExampleValues values;
    if (in_.columns.has_numbers()) {
        for (std::size_t i : pos) values.add(readings_of(i));
        s.values = &values;
    }

    std::optional<Found> best;
    for (std::size_t k = 0; k < seeds.size(); ++k) {
        interrupt_.check();
        ++out_.seeds;
        const Seed seed = make_seed(in_.pos.keys[seeds[k]], in_.pos.clauses[seeds[k]], o_.constant_set, in_.columns);
        s.seed = static_cast<std::uint32_t>(k);
        SearchResult r = search_seed(seed, s, prover, interrupt_);
        out_.expanded += r.expanded;
        for (const Clause& c : r.runners_up) add_runner_up(rule_text(seed.head, c));
        if (r.best && seeds.size() > 1) add_runner_up(rule_text(seed.head, *r.best));
        if (r.best && (!best || r.score > best->score ||
                       (r.score == best->score && r.best->length() < best->clause.length()))) {
            best = Found{seed.head, std::move(*r.best), r.score};
        }
        if (r.out_of_time) {
            out_.out_of_time = true;
            break;
        }
    }
    out_.over_limit += prover.over_limit();
    out_.proofs += prover.proofs();
    return best;
}

std::vector<std::uint32_t> Covering::prove_on_all(const Found& found) {
    std::vector<std::uint32_t> all;
    for (std::size_t e = 0; e < arguments_.size(); ++e) all.push_back(static_cast<std::uint32_t>(e));
    ClauseProver prover(service_, batch(arguments_, found.clause.calls_target ? known_ : std::string()));
    std::vector<std::uint32_t> covered = prover.prove(found.head, {&found.clause}, {&all}).front();
    out_.over_limit += prover.over_limit();
    out_.proofs += prover.proofs();
    return covered;
}

std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>> Covering::theory_proofs(
    const std::vector<std::string>& theory) {
    std::string common = ":- table " + target_ + ".\n";
    for (const std::string& rule : theory) common += program_line(rule);
    ProofBatch b = batch(arguments_, std::move(common));
    ProofGoal goal;
    goal.name = target_name_;
    b.example_lists.emplace_back();
    for (std::size_t e = 0; e < arguments_.size(); ++e) b.example_lists[0].push_back(static_cast<std::uint32_t>(e));
    b.goals.push_back(std::move(goal));
    ProofAnswers answers = service_.prove(b);
    out_.over_limit += answers.over_limit;
    out_.proofs += arguments_.size();
    std::vector<std::uint32_t> pos;  // positives, and negatives by their own index
    std::vector<std::uint32_t> neg;
    for (std::uint32_t e : answers.proved.front()) {
        if (e < in_.pos.size()) pos.push_back(e);
        else neg.push_back(e - static_cast<std::uint32_t>(in_.pos.size()));
    }
    return {pos, neg};
}

bool Covering::accept(const Found& found) {
    const std::string rule = rule_text(found.head, found.clause);
    std::vector<std::uint32_t> new_pos, new_neg;
    std::size_t added_neg = 0, all_pos = 0;
    if (!found.clause.calls_target) {
        for (std::uint32_t e : prove_on_all(found)) {
            if (e >= in_.pos.size()) {
                ++added_neg;
                if (!wrong_[e - in_.pos.size()]) new_neg.push_back(e - static_cast<std::uint32_t>(in_.pos.size()));
                continue;
            }
            ++all_pos;
            if (uncovered_[e]) new_pos.push_back(e);
        }
    } else {
        if (!has_base_) return false;
        std::vector<std::string> theory = out_.theory;
        theory.push_back(rule);
        auto [pos, neg] = theory_proofs(theory);
        for (std::uint32_t e : pos) {
            if (uncovered_[e]) new_pos.push_back(e);
        }
        all_pos = new_pos.size();
        added_neg = neg.size() > theory_neg_ ? neg.size() - theory_neg_ : 0;
    }
    // The filters judge the clause on every example, as a rule; it is added
    // only when what it adds to the theory scores above nothing, as the
    // cover selection requires of a rule: its new positives outnumber its
    // new negatives (by its literals after the first, with compression).
    std::size_t wrong_added = found.clause.calls_target ? added_neg : new_neg.size();
    if (score_.score == SearchScore::compression) wrong_added += found.clause.length() > 0 ? found.clause.length() - 1 : 0;
    const double precision = static_cast<double>(all_pos) / static_cast<double>(std::max<std::size_t>(1, all_pos + added_neg));
    if (new_pos.size() <= wrong_added || all_pos < filters_.min_pos || added_neg > filters_.max_neg ||
        precision < filters_.min_precision) {
        return false;
    }
    out_.theory.push_back(rule);
    has_base_ = has_base_ || !found.clause.calls_target;
    if (o_.selection.recursive) {
        auto [pos, neg] = theory_proofs(out_.theory);
        for (std::uint32_t e : pos) uncovered_[e] = false;
        for (std::uint32_t e : neg) wrong_[e] = true;
        theory_neg_ = neg.size();
    }
    for (std::uint32_t e : new_pos) uncovered_[e] = false;
    for (std::uint32_t e : new_neg) wrong_[e] = true;
    return true;
}

}  // namespace

CoveringResult learn_by_refinement(const CoveringInput& input, ProvingService& service, Interrupt& interrupt) {
    return Covering(input, service, interrupt).run();
}

std::string best_first_clause(const CoveringInput& input, ProvingService& service, Interrupt& interrupt,
                              bool prune) {
    return Covering(input, service, interrupt).first_clause(prune);
}

}  // namespace vantor::learn
