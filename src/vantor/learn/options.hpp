// Every setting of a learning run in one record.
//
// The learning driver and the cross-validation driver take a LearnOptions;
// each stage reads its own nested part. for_each_option lists the settings
// by the names the host gives them, so a host conversion can fill the record
// without knowing its fields one by one: a new setting is a field here, a
// line in for_each_option, and the stage that reads it.
#pragma once

#include <string>
#include <vector>

#include "learn/candidates.hpp"
#include "learn/coverage.hpp"
#include "text/substitution.hpp"

namespace vantor::learn {

struct CandidateOptions {
    std::vector<std::string> meta_rule;  // non-empty: used instead of generated templates
    long long max_literals = 2;
    bool exact_literals = false;
    KeySize key_size;
    bool distinct = false;
    bool set_chain = false;
    bool sort_by_length = true;  // longest text first, stable (the learning driver)
};

struct SelectionOptions {
    long long min_pos = 1;
    long long max_neg = 0;
    bool pi = false;
    bool recursive = false;
    // "greedy": growth by training accuracy over the candidates' coverage
    // lists; "cover": the noise-tolerant set cover of cover_selection.hpp.
    std::string mode = "greedy";
    // Cover mode only: the score ("accuracy" and "coverage" rank alike,
    // "compression" charges body literals), the precision a rule needs, the
    // largest theory (negative: no limit), and max_neg as a share of the
    // negatives when it was given as a fraction in (0, 1) (negative: not),
    // and min_pos alike as a share of the positives.
    std::string eval_fn = "accuracy";
    double min_precision = 0.0;
    long long max_rules = -1;
    double max_neg_fraction = -1.0;
    double min_pos_fraction = -1.0;  // min_pos as a share of the positives, or negative
};

// The refinement search (search="refine"): clauses grown literal by
// literal from one seed's bottom clause, proved as they grow.
struct SearchOptions {
    // "candidates": the text stage proposes the rules; "refine": the search.
    std::string mode = "candidates";
    // Seconds for the whole search (zero or less: no bound); past it the
    // theory found so far is returned.
    double time_budget = 0.0;
    // Clauses expanded per seed search: the real bound on the work, since
    // with label noise the optimistic score rarely prunes.
    long long max_nodes = 100;
    // Seeds searched per covering step; the best clause of them is kept.
    long long seeds = 1;
    // Covering stops after this many steps in a row gave no clause; zero or
    // less: once the failed seeds make a clause left to find unlikely.
    long long max_failed_seeds = 0;
    // The search scores clauses on at most this many positives and as many
    // negatives (the seed always among them); the chosen clause is then
    // proved on every example. Zero or less: every example.
    long long sample = 300;
    // Passing clauses each seed search reports beside its best one, for a
    // selection over all of them (zero: none).
    long long runners_up = 0;
    // "facts": clauses are proved over the background's indexed facts where
    // that answers exactly, in the engine otherwise; "engine": always in the
    // engine.
    std::string prover = "facts";
};

struct LearnOptions {
    // "text": a rule covers an example when its text comes out of the
    // example's bottom clause; "prolog": when the engine proves it.
    std::string coverage_mode = "text";
    text::ConstantSet constant_set;
    CandidateOptions candidates;
    CoverageOptions coverage;
    SelectionOptions selection;
    // No progress bars, theory or tables (the host's `verbose`, which means quiet).
    bool quiet = false;
    // Evaluation in the engine: seconds for the background's load and for
    // each goal (zero or less: no bound), and the sandboxed load.
    double time_limit = 300.0;
    bool sandbox = false;
    SearchOptions search;
    // The host's worker count (its n_jobs): anything but 1 lets the search
    // run the engine's first load of the background on a thread of its own.
    long long n_jobs = 1;
};

// A count compared with a number of covered examples. A host may give it as
// a real number; `at_least` says which side of the comparison it is on, so
// a conversion can round toward the side that keeps the comparison exact.
struct Threshold {
    long long& count;
    bool at_least;
};

// Calls visit(name, field) for every setting, in the order of the host's
// parameters. Thresholds come wrapped in Threshold.
template <class Visit>
void for_each_option(LearnOptions& o, Visit&& visit) {
    visit("constant_set", o.constant_set);
    visit("meta_rule", o.candidates.meta_rule);
    visit("min_pos", Threshold{o.selection.min_pos, true});
    visit("max_neg", Threshold{o.selection.max_neg, false});
    visit("max_literals", o.candidates.max_literals);
    visit("exact_literals", o.candidates.exact_literals);
    visit("key_size", o.candidates.key_size);
    visit("distinct", o.candidates.distinct);
    visit("optimize", o.coverage.optimize);
    visit("quiet", o.quiet);
    visit("reduce_bc", o.coverage.reduce_bc);
    visit("bc_count", o.coverage.bc_count);
    visit("set_chain", o.candidates.set_chain);
    visit("pi", o.selection.pi);
    visit("recursive", o.selection.recursive);
    visit("rule_noise_check", o.coverage.rule_noise_check);
    visit("coverage", o.coverage_mode);
    visit("selection", o.selection.mode);
    visit("eval_fn", o.selection.eval_fn);
    visit("min_precision", o.selection.min_precision);
    visit("max_rules", o.selection.max_rules);
    visit("max_neg_fraction", o.selection.max_neg_fraction);
    visit("min_pos_fraction", o.selection.min_pos_fraction);
    visit("time_limit", o.time_limit);
    visit("sandbox", o.sandbox);
    visit("search", o.search.mode);
    visit("time_budget", o.search.time_budget);
    visit("max_nodes", o.search.max_nodes);
    visit("seeds", o.search.seeds);
    visit("max_failed_seeds", o.search.max_failed_seeds);
    visit("search_sample", o.search.sample);
    visit("runners_up", o.search.runners_up);
    visit("prover", o.search.prover);
    visit("n_jobs", o.n_jobs);
}

}  // namespace vantor::learn
