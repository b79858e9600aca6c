"""Cross-validated theory quality on the shared ILP data sets, beside the peer.

For every data set under ../shared/datasets (relative to the repository):
bottom clauses at depth 2 for all examples, then a 5-fold cross-validation
over fixed folds: P = the non-blank stripped lines of pos_example.f, N = those
of neg_example.n, rnd = random.Random(1); rnd.shuffle(P); rnd.shuffle(N);
fold f tests on the indexes i with i % 5 == f. Each fold learns with
vantor_learn on the other four folds and scores the theory on fold f with
evaluate_theory_prolog.

Two settings are run: the library's defaults (the specified learner) and the
"proved" setting (coverage proved in the Prolog engine, noise-tolerant cover
selection; see PROVED below). Columns: mean training accuracy, mean test
accuracy, mean number of rules, and seconds per fold (bottom clauses of the
fold's share of the examples plus learning, training evaluation included),
then the peer's (Aleph's) figures over the same folds.

Usage: python benchmarks/quality.py [--sets a,b,...] [--jobs N]
"""
import argparse
import contextlib
import io
import os
import random
import sys
import time
import warnings

import vantor

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
DATASETS = next((p for p in (os.path.join(REPO, "..", "shared", "datasets"),
                             os.path.join(REPO, "..", "..", "shared", "datasets"))
                 if os.path.isdir(p)), None)

# name: (extra vantor_learn options for both settings, peer test, peer train,
# peer clauses, peer seconds per fold)
SETS = {
    "family": ({}, 1.000, 1.000, 1.0, 0.2),
    "trains": ({"max_literals": 3}, 0.900, 1.000, 1.0, 0.2),
    "kinship_aunt": ({}, 1.000, 1.000, 1.0, 0.3),
    "path": ({}, 0.982, 1.000, 8.0, 0.6),
    "alzheimer_amine": ({}, 0.729, 0.789, 19.4, 250.0),
    "mutagenesis188": ({}, 0.803, 0.872, 3.0, 7.6),
    "carcinogenesis": ({}, 0.570, 0.795, 16.6, 7.1),
}

# One setting for every set.
PROVED = {"coverage": "prolog", "selection": "cover"}


def lines(path):
    with open(path, encoding="utf-8-sig") as f:
        return [line.strip() for line in f if line.strip()]


def folds_of(examples, k=5):
    return [[e for i, e in enumerate(examples) if i % k == f] for f in range(k)]


def run_fold(background, pos_dict, neg_dict, pos_folds, neg_folds, f, options):
    train_pos = {e: pos_dict[e] for g in range(len(pos_folds)) if g != f for e in pos_folds[g]}
    train_neg = {e: neg_dict[e] for g in range(len(neg_folds)) if g != f for e in neg_folds[g]}
    tic = time.perf_counter()
    with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        result = vantor.vantor_learn(train_pos, train_neg, file=background, verbose=True, **options)
        seconds = time.perf_counter() - tic
        test = vantor.evaluate_theory_prolog(result.hypothesis, background, pos_folds[f],
                                             neg_folds[f], True)
    return result.accuracy or 0.0, test.accuracy or 0.0, len(result.hypothesis), seconds


def run_set(name, options, jobs):
    folder = os.path.join(DATASETS, name)
    background = os.path.join(folder, "BK.pl")
    pos, neg = lines(os.path.join(folder, "pos_example.f")), lines(os.path.join(folder, "neg_example.n"))
    rnd = random.Random(1)
    rnd.shuffle(pos)
    rnd.shuffle(neg)
    tic = time.perf_counter()
    pos_dict, neg_dict = vantor.bottom_clause_generation(
        file=background, container="memory", positive_example=pos, negative_example=neg,
        tqdm_disable=True)
    bottom_seconds = time.perf_counter() - tic
    pos_folds, neg_folds = folds_of(pos), folds_of(neg)
    rows = {}
    for label, extra in (("default", {}), ("proved", dict(PROVED, n_jobs=jobs))):
        try:
            figures = [run_fold(background, pos_dict, neg_dict, pos_folds, neg_folds, f,
                                dict(options, **extra)) for f in range(5)]
        except TypeError as e:  # an option this build does not know yet
            rows[label] = "n/a (%s)" % e
            continue
        train, test, rules, seconds = (sum(x) / len(x) for x in zip(*figures))
        # A fold's bottom clauses are a fifth of the whole set's.
        rows[label] = "%.3f | %.3f | %.1f | %.2f" % (train, test, rules, seconds + bottom_seconds * 0.8)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sets", default=",".join(SETS))
    parser.add_argument("--jobs", type=int, default=1)
    args = parser.parse_args()
    if DATASETS is None:
        sys.exit("no ../shared/datasets folder next to the repository")
    print("data set | default: train | test | rules | s/fold | proved: train | test | rules | s/fold"
          " | peer: test | train | clauses | s/fold")
    for name in args.sets.split(","):
        options, peer_test, peer_train, peer_rules, peer_seconds = SETS[name]
        random.seed(0)
        rows = run_set(name, options, args.jobs)
        print("%s | %s | %s | %.3f | %.3f | %.1f | %.1f" % (
            name if not options else "%s (%s)" % (name, ", ".join("%s=%s" % kv for kv in options.items())),
            rows["default"], rows["proved"], peer_test, peer_train, peer_rules, peer_seconds),
            flush=True)


if __name__ == "__main__":
    main()
