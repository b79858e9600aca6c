"""Learning with coverage proved in the Prolog engine (``coverage="prolog"``).

The core proposes the candidate rules (every rule a positive's bottom clause
forms), proves them and selects the theory; this module spreads the proving
over ``n_jobs`` engines with joblib, so that a cluster backend of joblib
(Dask, Ray) runs it as well as local processes. Proving is deterministic, so
the result never depends on ``n_jobs`` or the backend.
"""
import os
import time
import warnings

from . import _core
from .evaluate import Vantor, evaluate_theory_prolog, evaluate_theory_prolog_training

__all__ = ["prove_covered", "learn_proved", "cross_validate_proved"]


def _prove_chunk(rules, background, pos, neg):
    """One worker's share: the covered positions of each rule (module level,
    so that process and cluster backends can send it)."""
    return _core._prove_rules(rules, background, pos, neg)


def _chunks(items, count):
    """``count`` contiguous slices (neighbouring candidates share literals,
    which each worker proves once)."""
    size, extra = divmod(len(items), count)
    out, start = [], 0
    for i in range(count):
        end = start + size + (1 if i < extra else 0)
        if end > start:
            out.append(items[start:end])
        start = end
    return out


def prove_covered(rules, background, pos, neg, n_jobs=1):
    """For every rule, (covered positions of ``pos``, of ``neg``, body
    length), proved in the engine over ``n_jobs`` workers. Goals that run out
    of inferences count as not proved, with one RuntimeWarning per call."""
    background = os.path.abspath(background)
    workers = 1
    if n_jobs != 1 and len(rules) > 1:
        import joblib

        workers = min(joblib.effective_n_jobs(n_jobs), len(rules))
    if workers <= 1:
        covered, over = _prove_chunk(rules, background, pos, neg)
    else:
        import joblib

        parts = joblib.Parallel(n_jobs=workers)(
            joblib.delayed(_prove_chunk)(chunk, background, pos, neg) for chunk in _chunks(rules, workers))
        covered = [rule for part, _ in parts for rule in part]
        over = sum(count for _, count in parts)
    if over:
        warnings.warn(
            f"{over} goal(s) ran out of inferences while proving candidate rules; "
            "counted as not proved", RuntimeWarning, stacklevel=3)
    return covered


def _print_theory(theory):
    import sys

    print("+----------+ Hypothesis +----------+", file=sys.stdout)
    print(repr(theory), file=sys.stdout)


def learn_proved(pos, neg, background, options):
    """``vantor_learn`` with proved coverage: the ``Vantor`` record and the
    seconds of each stage."""
    tic = time.time()
    rules, _ = _core._formed_rules(pos, options)
    formed = time.time()
    covered = prove_covered(rules, background, list(pos), list(neg), options.n_jobs)
    proved = time.time()
    theory, announce = _core._select_proved(rules, covered, len(pos), len(neg), options)
    if announce and not options.quiet:
        _print_theory(theory)
    learned = time.time()
    test = evaluate_theory_prolog_training(theory, background, pos, neg, options.quiet)
    time_learn = learned - tic
    work = {"candidates": len(rules), "rules formed": formed - tic, "proving": proved - formed,
            "selection": learned - proved, "prolog evaluation": time.time() - learned}
    record = Vantor(theory, test.accuracy, test.precision, test.sensitivity, test.specificity,
                    test.fscore, time_learn)
    return record, work


def _fold_selection(rules, covered, formed_by, pos_index, neg_index, train_pos, train_neg, options):
    """A fold's candidates (the rules its training positives form, in order
    of first occurrence) with their proved coverage restricted to its
    training examples, renumbered in training order."""
    chosen, seen = [], set()
    for example in train_pos:
        for r in formed_by[pos_index[example]]:
            if r not in seen:
                seen.add(r)
                chosen.append(r)
    pos_at = {pos_index[e]: i for i, e in enumerate(train_pos)}
    neg_at = {neg_index[e]: i for i, e in enumerate(train_neg)}
    fold_covered = []
    for r in chosen:
        p, n, length = covered[r]
        fold_covered.append(([pos_at[x] for x in p if x in pos_at], [neg_at[x] for x in n if x in neg_at], length))
    return [rules[r] for r in chosen], fold_covered


def cross_validate_proved(kfolds, background, count, options):
    """``vantor_cross_validation`` with proved coverage. Every candidate is
    proved once over all examples; each fold then selects from the rules its
    training positives form, scored on its training examples only."""
    tic = time.time()
    pos_dict, neg_dict = kfolds.pos_dict, kfolds.neg_dict
    rules, formed_by = _core._formed_rules(pos_dict, options)
    all_pos, all_neg = list(pos_dict), list(neg_dict)
    covered = prove_covered(rules, background, all_pos, all_neg, options.n_jobs)
    pos_index = {e: i for i, e in enumerate(all_pos)}
    neg_index = {e: i for i, e in enumerate(all_neg)}
    theories, results = [], []
    for fold in range(count):
        train_pos = [e for j in range(count) if j != fold for e in kfolds.pos_fold[j]]
        train_neg = [e for j in range(count) if j != fold for e in kfolds.neg_fold[j]]
        fold_rules, fold_covered = _fold_selection(rules, covered, formed_by, pos_index, neg_index,
                                                   train_pos, train_neg, options)
        theory, announce = _core._select_proved(fold_rules, fold_covered, len(train_pos),
                                                len(train_neg), options)
        if announce and not options.quiet:
            _print_theory(theory)
        if not options.quiet:
            evaluate_theory_prolog_training(theory, background, train_pos, train_neg, False)
        results.append(evaluate_theory_prolog(theory, background, list(kfolds.pos_fold[fold]),
                                              list(kfolds.neg_fold[fold]), options.quiet))
        theories.append(theory)
    measures = [[getattr(r, name) for r in results]
                for name in ("accuracy", "precision", "sensitivity", "specificity", "fscore")]
    record = Vantor(theories[-1] if theories else [], *measures, time.time() - tic)
    return record, {"candidates": len(rules), "theories": theories}
