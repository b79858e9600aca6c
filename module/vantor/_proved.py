"""Learning with coverage proved in the Prolog engine (``coverage="prolog"``).

The core proposes the candidate rules (every rule a positive's bottom clause
forms), proves them and selects the theory. It proves through the service of
``_proving``: in this process with ``n_jobs=1``, otherwise over joblib
workers, so that a cluster backend of joblib (Dask, Ray) runs it as well as
local processes. Proving is deterministic, so the result never depends on
``n_jobs`` or the backend.
"""
import os
import warnings

from . import _core, _host
from ._proving import proving_service
from .evaluate import Vantor

__all__ = ["prove_covered", "learn_proved", "cross_validate_proved"]


def prove_covered(rules, background, pos, neg, n_jobs=1, known_facts=(), time_limit=300.0,
                  sandbox=False, prover="facts"):
    """For every rule, (covered positions of ``pos``, of ``neg``, body
    length), proved in the engine over ``n_jobs`` workers; ``known_facts``
    answer a recursive rule's calls of the target. ``time_limit`` (None: no
    bound) and ``sandbox`` apply to the background's load and every goal, as
    in an evaluation; ``prover`` is the option of that name. Goals cut short
    (out of inferences, past the time bound) count as not proved, with one
    RuntimeWarning per call."""
    covered, over = _core._prove_rules(rules, os.path.abspath(background), pos, neg,
                                       list(known_facts), time_limit, sandbox,
                                       proving_service(n_jobs) if len(rules) > 1 else None,
                                       prover)
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
    return _core._with_variants(rules, options.recursive, options.numbers == "compare", background)


def _calls_own_predicate(rule):
    return _core._calls_own_predicate(rule)


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


def _restricted(covered, pos_at, neg_at):
    """Proved coverage over all examples, renumbered to one fold's training
    examples (positions outside it dropped)."""
    p, n, length = covered
    return ([pos_at[x] for x in p if x in pos_at], [neg_at[x] for x in n if x in neg_at], length)


def cross_validate_proved(kfolds, background, count, options, candidates_per_fold=False):
    """``vantor_cross_validation`` with proved coverage. Every candidate of
    any fold that does not call the target is proved once over all
    examples; each fold then selects from its own candidates, scored on its
    training examples only."""
    hypothesis, measures, time_learn, stats = _core._proved_cross_validation(
        [kfolds.pos_fold[i] for i in range(count)], [kfolds.neg_fold[i] for i in range(count)],
        kfolds.pos_dict, kfolds.neg_dict, background, count, options, candidates_per_fold,
        options.numbers == "compare", proving_service(options.n_jobs))
    record = Vantor(hypothesis, *measures, time_learn)
    record.theories = stats.pop("theories")
    return record, {"candidates": stats["candidates"]}
