"""Proving candidates in parallel: 5-fold cross-validation of a data
set (default mutagenesis188) with the proved setting of quality.py, serial
and with n_jobs workers (threads over the indexed facts for these
backgrounds of ground facts, joblib's worker processes otherwise: the first
parallel call starts them, later calls reuse them).

Usage: python benchmarks/parallel.py [--set NAME] [--jobs N]
"""
import argparse
import contextlib
import io
import os
import random
import time
import warnings

import vantor

from quality import DATASETS, PROVED, folds_of, lines


def cross_validation_seconds(background, pos_dict, neg_dict, pos_folds, neg_folds, jobs):
    folds = vantor.VantorFold({f: {e: pos_dict[e] for e in pos_folds[f]} for f in range(5)},
                              {f: {e: neg_dict[e] for e in neg_folds[f]} for f in range(5)},
                              dict(pos_dict), dict(neg_dict))
    random.seed(0)
    tic = time.perf_counter()
    with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
        warnings.simplefilter("ignore")
        cv = vantor.vantor_cross_validation(folds, file=background, k_fold=5, verbose=True,
                                            candidates_per_fold=True, n_jobs=jobs, **PROVED)
    return time.perf_counter() - tic, cv.accuracy


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--set", default="mutagenesis188")
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    folder = os.path.join(DATASETS, args.set)
    background = os.path.join(folder, "BK.pl")
    pos, neg = lines(os.path.join(folder, "pos_example.f")), lines(os.path.join(folder, "neg_example.n"))
    rnd = random.Random(1)
    rnd.shuffle(pos)
    rnd.shuffle(neg)
    pos_dict, neg_dict = vantor.bottom_clause_generation(
        file=background, container="memory", positive_example=pos, negative_example=neg,
        tqdm_disable=True)
    pos_folds, neg_folds = folds_of(pos), folds_of(neg)
    runs = [("n_jobs=1", 1), (f"n_jobs={args.jobs} (workers start)", args.jobs),
            (f"n_jobs={args.jobs} (workers reused)", args.jobs), ("n_jobs=1 again", 1)]
    for label, jobs in runs:
        seconds, accuracy = cross_validation_seconds(background, pos_dict, neg_dict, pos_folds,
                                                     neg_folds, jobs)
        print(f"{args.set} 5-fold CV, {label}: {seconds:.2f} s, test accuracy {accuracy}")


if __name__ == "__main__":
    main()
