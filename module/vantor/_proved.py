"""Learning with coverage proved in the Prolog engine (``coverage="prolog"``).

The core proposes the candidate rules (every rule a positive's bottom clause
forms), proves them and selects the theory. It proves through the service of
``_proving``: in this process with ``n_jobs=1``, otherwise over joblib
workers, so that a cluster backend of joblib (Dask, Ray) runs it as well as
local processes. Proving is deterministic, so the result never depends on
``n_jobs`` or the backend.
"""
import os
import time
import warnings

from . import _core, _host
from ._proving import proving_service
from .evaluate import Vantor, evaluate_theory_prolog, evaluate_theory_prolog_training

__all__ = ["prove_covered", "learn_proved", "cross_validate_proved"]


def prove_covered(rules, background, pos, neg, n_jobs=1, known_facts=(), time_limit=300.0,
                  sandbox=False):
    """For every rule, (covered positions of ``pos``, of ``neg``, body
    length), proved in the engine over ``n_jobs`` workers; ``known_facts``
    answer a recursive rule's calls of the target. ``time_limit`` (None: no
    bound) and ``sandbox`` apply to the background's load and every goal, as
    in an evaluation. Goals cut short (out of inferences, past the time
    bound) count as not proved, with one RuntimeWarning per call."""
    covered, over = _core._prove_rules(rules, os.path.abspath(background), pos, neg,
                                       list(known_facts), time_limit, sandbox,
                                       proving_service(n_jobs) if len(rules) > 1 else None)
    if over:
        warnings.warn(
            f"{over} goal(s) ran out of inferences or past the time bound while proving "
            "candidate rules; counted as not proved", RuntimeWarning, stacklevel=3)
    return covered


def _print_theory(theory):
    out = _host.output()
    print("+----------+ Hypothesis +----------+", file=out)
    print(repr(theory), file=out)


def _evaluation(options):
    """The evaluators' settings from the learning options (0 means no bound)."""
    return {"time_limit": options.time_limit or None, "sandbox": options.sandbox}


def _with_variants(rules, options, background):
    """The candidates with their recursive variants (``recursive``) and their
    threshold tests (``numbers="compare"``)."""
    if options.recursive:
        rules = rules + _core._recursive_variants(rules)
    if options.numbers == "compare":
        rules = rules + _core._threshold_variants(rules, background)
    return rules


def _select(rules, covered, n_pos, n_neg, options):
    """The theory chosen from proved coverage (recursive: with its base
    case), and whether selection had rules to choose from."""
    theory, announce = _core._select_proved_theory(rules, covered, n_pos, n_neg, options)
    if not theory:
        warnings.warn("no candidate rule passed the filters (min_pos, max_neg, min_precision): the "
                      "theory is empty and predicts no example; loosen the filters or give more "
                      "examples", RuntimeWarning, stacklevel=4)
    return theory, announce


def learn_proved(pos, neg, background, options):
    """``vantor_learn`` with proved coverage: the ``Vantor`` record and the
    seconds of each stage. With ``recursive``, rules calling the target are
    candidates too; during the search the target is the training positives."""
    theory, measures, time_learn, work = _core._learn_proved(
        pos, neg, background, options, options.numbers == "compare", proving_service(options.n_jobs))
    return Vantor(theory, *measures, time_learn), work


def _fold_tables(rules, formed_by, train_pos):
    """A fold's candidates: the rules its training positives form, in order
    of first occurrence (indexes into ``rules``)."""
    chosen, seen = [], set()
    for example in train_pos:
        for r in formed_by[example]:
            if r not in seen:
                seen.add(r)
                chosen.append(r)
    return chosen


def _with_thresholds(chosen, texts):
    """A fold's candidate indexes with those of their threshold variants
    (the texts that extend one of its rules by a test)."""
    own = {texts[r] for r in chosen}
    out = list(chosen)
    for i, text in enumerate(texts):
        base, _, test = text.rpartition("&")
        if base in own and (test.startswith(">=(") or test.startswith("=<(")):
            out.append(i)
    return out


def _restricted(covered, pos_at, neg_at):
    """Proved coverage over all examples, renumbered to one fold's training
    examples (positions outside it dropped)."""
    p, n, length = covered
    return ([pos_at[x] for x in p if x in pos_at], [neg_at[x] for x in n if x in neg_at], length)


def _fold_candidates(kfolds, count, options, per_fold):
    """(rule texts, for each fold the indexes of its candidates). Shared
    candidates come from every positive; per-fold ones from each fold's
    training positives alone."""
    texts, index = [], {}

    def intern(rules):
        out = []
        for rule in rules:
            if rule not in index:
                index[rule] = len(texts)
                texts.append(rule)
            out.append(index[rule])
        return out

    folds = []
    if not per_fold:
        rules, formed = _core._formed_rules(kfolds.pos_dict, options)
        ids = intern(rules)
        formed_by = {e: [ids[r] for r in formed[i]] for i, e in enumerate(kfolds.pos_dict)}
        for fold in range(count):
            train = [e for j in range(count) if j != fold for e in kfolds.pos_fold[j]]
            folds.append(_fold_tables(texts, formed_by, train))
        return texts, folds
    for fold in range(count):
        train = {e: kfolds.pos_dict[e] for j in range(count) if j != fold for e in kfolds.pos_fold[j]}
        if not train:
            raise IndexError("a fold has no training positive: the head is taken from the first one")
        rules, _ = _core._formed_rules(train, options)
        folds.append(intern(rules))
    return texts, folds


def cross_validate_proved(kfolds, background, count, options, candidates_per_fold=False):
    """``vantor_cross_validation`` with proved coverage. Every candidate of
    any fold is proved once over all examples; each fold then selects from
    its own candidates, scored on its training examples only."""
    tic = time.time()
    texts, fold_rules = _fold_candidates(kfolds, count, options, candidates_per_fold)
    all_pos, all_neg = list(kfolds.pos_dict), list(kfolds.neg_dict)
    # Proofs of non-recursive rules hold for every fold: each is proved once.
    # A recursive candidate's proofs depend on the fold's positives.
    if options.numbers == "compare" and not options.recursive:
        texts = _with_variants(texts, options, background)
        fold_rules = [_with_thresholds(chosen, texts) for chosen in fold_rules]
    covered = None if options.recursive else prove_covered(texts, background, all_pos, all_neg,
                                                           options.n_jobs, **_evaluation(options))
    pos_index = {e: i for i, e in enumerate(all_pos)}
    neg_index = {e: i for i, e in enumerate(all_neg)}
    theories, results = [], []
    for fold in range(count):
        train_pos = [e for j in range(count) if j != fold for e in kfolds.pos_fold[j]]
        train_neg = [e for j in range(count) if j != fold for e in kfolds.neg_fold[j]]
        if covered is None:
            fold_texts = _with_variants([texts[r] for r in fold_rules[fold]], options, background)
            fold_covered = prove_covered(fold_texts, background, train_pos, train_neg,
                                         options.n_jobs, train_pos, **_evaluation(options))
        else:
            pos_at = {pos_index[e]: i for i, e in enumerate(train_pos)}
            neg_at = {neg_index[e]: i for i, e in enumerate(train_neg)}
            fold_texts = [texts[r] for r in fold_rules[fold]]
            fold_covered = [_restricted(covered[r], pos_at, neg_at) for r in fold_rules[fold]]
        theory, announce = _select(fold_texts, fold_covered, len(train_pos), len(train_neg), options)
        if announce and not options.quiet:
            _print_theory(theory)
        results.append(score_fold(theory, background, train_pos, train_neg, kfolds, fold, options))
        theories.append(theory)
    return fold_record(theories, results, tic), {"candidates": len(texts)}


def score_fold(theory, background, train_pos, train_neg, kfolds, fold, options):
    """A fold's theory scored on its own fold (after its training scores,
    unless quiet), under the options' time bound and sandbox."""
    if not options.quiet:
        evaluate_theory_prolog_training(theory, background, list(train_pos), list(train_neg),
                                        False, **_evaluation(options))
    return evaluate_theory_prolog(theory, background, list(kfolds.pos_fold[fold]),
                                  list(kfolds.neg_fold[fold]), options.quiet, **_evaluation(options))


def fold_record(theories, results, tic):
    """The cross-validation record: per-fold measures, every fold's theory."""
    measures = [[getattr(r, name) for r in results]
                for name in ("accuracy", "precision", "sensitivity", "specificity", "fscore")]
    record = Vantor(theories[-1] if theories else [], *measures, time.time() - tic)
    record.theories = theories
    return record
