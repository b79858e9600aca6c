"""Cross-validated theory quality on the shared ILP data sets, beside the peer.

For every data set under ../shared/datasets (relative to the repository):
bottom clauses at depth 2 for all examples, then a 5-fold cross-validation
over fixed folds: P = the non-blank stripped lines of pos_example.f, N = those
of neg_example.n, rnd = random.Random(1); rnd.shuffle(P); rnd.shuffle(N);
fold f tests on the indexes i with i % 5 == f. Each fold learns on the other four folds and is scored on fold f.

The first column is ``Learner(background)`` with nothing else: each fold's
learner chooses its own setting on that fold's training examples (nested:
the held-out fold never shapes the choice), is fitted on them and scored on
the held-out fold; its seconds per fold are the whole fit (bottom clauses,
choosing and learning), and the last cell shows each fold's chosen
max_literals (and "r" for recursive, "v" for numbers as variables, "a" for
following facts by any argument).

Two settings are run through vantor_cross_validation: the library's defaults
(candidates built once from every positive, as the functional driver does by
default) and the "proved" setting (coverage proved in the Prolog engine,
noise-tolerant cover selection, each fold's candidates from its own training
positives; see PROVED below). Columns: mean training accuracy, mean test
accuracy, mean number of rules, and seconds per fold (bottom clauses of the
fold's share of the examples plus learning, training evaluation included),
then the peer's (Aleph's) figures over the same folds. A third column runs
the refinement search (search="refine", SEARCH below: one setting for every
set, the noisy-data setting's filters and score; each seed's search also
reports its next best clauses and the cover selection chooses the theory
from all of them; the recursive tasks add
recursive=True with their max_neg and eval_fn, and no key_size). The recursive tasks include same_generation with every
reflexive pair added to the positives (its base case is then
same_generation(A,A)).

The recursive tasks (RECURSIVE below) run the same way: the generated ones
from tests/data, path from the shared data sets. Their proved setting adds
recursive candidates (rules calling the target, answered by the training
positives during the search, the final theory evaluated tabled); the
default setting is the library's defaults as for every set. The depth/follow
column gives the bottom-clause depth and how facts are followed from known
terms ("first": through their first argument, the library's rule).

Usage: python benchmarks/quality.py [--sets a,b,...] [--jobs N]
       [--columns learner,default,proved,search]
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

# Recursive tasks: name: (data folder, extra options for both settings, extra
# options of the proved setting). None for a folder means the shared data
# set of that name.
RECURSIVE = {
    "path (recursive)": (None, {}, {"recursive": True, "max_neg": 0, "key_size": 10, "eval_fn": "compression"}),
    "ancestor": (os.path.join(REPO, "tests", "data", "ancestor"), {},
                 {"recursive": True, "max_neg": 0, "eval_fn": "compression"}),
    "same_generation": (os.path.join(REPO, "tests", "data", "same_generation"), {"max_literals": 4},
                        {"recursive": True, "max_neg": 0, "eval_fn": "compression"}),
    "updown": (os.path.join(REPO, "tests", "data", "updown"), {"max_literals": 3},
               {"recursive": True, "max_neg": 0, "eval_fn": "compression"}),
}

def reflexive_same_generation():
    """A folder holding same_generation with every reflexive pair of a person
    who has a parent added to the positives (the known theory then needs
    same_generation(A,A) as its base case)."""
    import tempfile

    source = os.path.join(REPO, "tests", "data", "same_generation")
    folder = tempfile.mkdtemp(prefix="same_generation_reflexive_")
    facts = lines(os.path.join(source, "BK.pl"))
    people = sorted({fact[len("child("):].split(",")[0] for fact in facts})
    positives = sorted(lines(os.path.join(source, "pos_example.f"))
                       + [f"same_generation({p},{p})." for p in people])
    for name, items in (("BK.pl", facts), ("pos_example.f", positives),
                        ("neg_example.n", lines(os.path.join(source, "neg_example.n")))):
        with open(os.path.join(folder, name), "w") as f:
            f.write("\n".join(items) + "\n")
    return folder


RECURSIVE["same_generation (reflexive)"] = (reflexive_same_generation, {"max_literals": 4},
                                            {"recursive": True, "max_neg": 0, "eval_fn": "compression"})

# Bottom clauses of every set.
BOTTOM = {"depth": 2}

# The refinement search (search="refine"), one setting for every set; the
# recursive tasks add recursive=True.
SEARCH = {"search": "refine", "max_literals": 3, "eval_fn": "compression", "min_pos": 0.05,
          "max_neg": 0.3, "min_precision": 0.65, "max_nodes": 50, "runners_up": 5}

# One setting for every set.
PROVED = {"coverage": "prolog", "selection": "cover", "min_pos": 0.05, "max_neg": 0.3,
          "min_precision": 0.65, "eval_fn": "compression"}


def lines(path):
    with open(path, encoding="utf-8-sig") as f:
        return [line.strip() for line in f if line.strip()]


def folds_of(examples, k=5):
    return [[e for i, e in enumerate(examples) if i % k == f] for f in range(k)]


def run_cv(background, pos_dict, neg_dict, pos_folds, neg_folds, options, per_fold):
    """One 5-fold cross-validation: mean training accuracy (each fold's
    theory scored on its training examples), mean test accuracy, mean rules,
    seconds of the whole call. The call gets its own copy of the bottom
    clauses: the candidates' stages sort some of them in place, which would
    change the order in which a later column's search meets their literals."""
    pos_dict = {e: list(literals) for e, literals in pos_dict.items()}
    neg_dict = {e: list(literals) for e, literals in neg_dict.items()}
    folds = vantor.VantorFold({f: {e: pos_dict[e] for e in pos_folds[f]} for f in range(5)},
                              {f: {e: neg_dict[e] for e in neg_folds[f]} for f in range(5)},
                              dict(pos_dict), dict(neg_dict))
    tic = time.perf_counter()
    with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        cv = vantor.vantor_cross_validation(folds, file=background, k_fold=5, verbose=True,
                                            candidates_per_fold=per_fold, **options)
        seconds = time.perf_counter() - tic
        train = []
        for f, theory in enumerate(cv.theories):
            tp = [e for g in range(5) if g != f for e in pos_folds[g]]
            tn = [e for g in range(5) if g != f for e in neg_folds[g]]
            train.append(vantor.evaluate_theory_prolog(theory, background, tp, tn, True).accuracy or 0.0)
    test = [a if a is not None else 0.0 for a in cv.accuracy]
    return (sum(train) / 5, sum(test) / 5, sum(len(t) for t in cv.theories) / 5, seconds)


def run_learner(background, pos_folds, neg_folds):
    """``Learner(background)`` per fold: mean training and test accuracy,
    mean rules, mean seconds per fit and the folds' chosen structures."""
    train, test, rules, seconds, shapes = [], [], [], [], []
    for f in range(5):
        tp = [e for g in range(5) if g != f for e in pos_folds[g]]
        tn = [e for g in range(5) if g != f for e in neg_folds[g]]
        tic = time.perf_counter()
        with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
            warnings.simplefilter("ignore")
            learner = vantor.Learner(background).fit(tp + tn, [1] * len(tp) + [0] * len(tn))
            seconds.append(time.perf_counter() - tic)
            held = pos_folds[f] + neg_folds[f]
            test.append(learner.score(held, [1] * len(pos_folds[f]) + [0] * len(neg_folds[f])))
        train.append(learner.training_scores_["accuracy"] or 0.0)
        rules.append(len(learner.theory_))
        used = learner.chosen_["options"]
        shapes.append("%s%s%s%s" % (used["max_literals"], "r" if used["recursive"] else "",
                                    "v" if used["numbers"] == "variable" else "",
                                    "a" if used["follow"] == "any" else ""))
    return "%.3f | %.3f | %.1f | %.2f | %s" % (sum(train) / 5, sum(test) / 5, sum(rules) / 5,
                                               sum(seconds) / 5, ",".join(shapes))


def run_set(name, options, jobs, folder=None, proved_extra=None,
            columns=("learner", "default", "proved", "search"), prover="facts", shuffle=1):
    folder = folder or os.path.join(DATASETS, name)
    background = os.path.join(folder, "BK.pl")
    pos, neg = lines(os.path.join(folder, "pos_example.f")), lines(os.path.join(folder, "neg_example.n"))
    rnd = random.Random(shuffle)  # the folds: 1 for the published tables
    rnd.shuffle(pos)
    rnd.shuffle(neg)
    tic = time.perf_counter()
    pos_dict, neg_dict = vantor.bottom_clause_generation(
        file=background, container="memory", positive_example=pos, negative_example=neg,
        tqdm_disable=True, **BOTTOM)
    bottom_seconds = time.perf_counter() - tic
    pos_folds, neg_folds = folds_of(pos), folds_of(neg)
    rows = {"learner": run_learner(background, pos_folds, neg_folds) if "learner" in columns
            else "- | - | - | - | -"}
    proved = dict(PROVED, n_jobs=jobs, prover=prover, **(proved_extra or {}))
    # The recursive rows keep their own max_literals (the row's options, else
    # the default), max_neg and eval_fn, as the proved setting does; the
    # search needs no key_size.
    search = dict(SEARCH, n_jobs=jobs, prover=prover)
    if proved_extra:
        del search["max_literals"]
        search.update({k: v for k, v in proved_extra.items() if k != "key_size"})
    for label, extra, per_fold in (("default", {}, False), ("proved", proved, True), ("search", search, True)):
        if label not in columns:
            rows[label] = "- | - | - | -"
            continue
        random.seed(0)
        train, test, rules, seconds = run_cv(background, pos_dict, neg_dict, pos_folds, neg_folds,
                                             dict(options, **extra), per_fold)
        # Per fold: a fifth of the call, and the bottom clauses of the
        # fold's training share of the examples.
        rows[label] = "%.3f | %.3f | %.1f | %.2f" % (train, test, rules, seconds / 5 + bottom_seconds * 0.8)
    return rows


def label(name, options):
    return name if not options else "%s (%s)" % (name, ", ".join("%s=%s" % kv for kv in options.items()))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sets", default=",".join(list(SETS) + list(RECURSIVE)))
    parser.add_argument("--jobs", type=int, default=1)
    parser.add_argument("--prover", choices=("facts", "engine"), default="facts",
                        help="how the proved and search columns prove rules: over indexed facts where that answers "
                             "exactly (the default), or always in the Prolog engine")
    parser.add_argument("--columns", default="learner,default,proved,search",
                        help="settings to run (the others print as -)")
    args = parser.parse_args()
    columns = args.columns.split(",")
    names = args.sets.split(",")
    if DATASETS is None and any(n in SETS or RECURSIVE.get(n, (0,))[0] is None for n in names):
        sys.exit("no ../shared/datasets folder next to the repository")
    print("data set | Learner(): train | test | rules | s/fold | chosen max_literals"
          " | depth/follow | default: train | test | rules | s/fold | proved: train | test | rules"
          " | s/fold | search: train | test | rules | s/fold | peer: test | train | clauses | s/fold")
    depth = "%s/%s" % (BOTTOM["depth"], BOTTOM.get("follow", "first"))
    for name in names:
        random.seed(0)
        if name in RECURSIVE:
            folder, options, proved_extra = RECURSIVE[name]
            folder = folder() if callable(folder) else folder
            rows = run_set(name.split(" ")[0], options, args.jobs, folder, proved_extra, columns,
                           args.prover)
            peer = SETS.get(name.split(" ")[0]) if folder is None else None
            peer_figures = "%.3f | %.3f | %.1f | %.1f" % peer[1:] if peer else "- | - | - | -"
            print("%s | %s | %s | %s | %s | %s | %s" % (
                label(name, dict(options, **proved_extra)), rows["learner"], depth,
                rows["default"], rows["proved"], rows["search"], peer_figures), flush=True)
            continue
        options, peer_test, peer_train, peer_rules, peer_seconds = SETS[name]
        rows = run_set(name, options, args.jobs, columns=columns, prover=args.prover)
        print("%s | %s | %s | %s | %s | %s | %.3f | %.3f | %.1f | %.1f" % (
            label(name, options), rows["learner"], depth, rows["default"], rows["proved"],
            rows["search"], peer_test, peer_train, peer_rules, peer_seconds), flush=True)


if __name__ == "__main__":
    main()
