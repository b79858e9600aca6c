"""Learning with the refinement search (``search="refine"``).

The core runs the search, the cover selection over its clauses and
runners-up, the training scores and the cross-validation; it proves through
the service of ``_proving`` (this process with ``n_jobs=1``, joblib workers
otherwise). Proofs do not depend on where they run, so neither does the
theory. With ``pool=True`` the text stage's candidates join the selection,
which is then composed here.
"""
import contextvars
import copy
import os
import time
import warnings

from . import _core
from ._proved import _evaluation, _print_theory
from ._proving import proving_service
from .evaluate import Vantor, evaluate_theory_prolog, evaluate_theory_prolog_training

__all__ = ["learn_refined", "cross_validate_refined", "counting_proofs"]

# A list that searches in this context add their example proofs to (set by
# a caller that budgets work by counting it).
_PROOF_COUNT = contextvars.ContextVar("vantor_search_proofs", default=None)


class counting_proofs:
    """``with counting_proofs() as count:`` -- ``count[0]`` then holds the
    example proofs the searches inside asked for."""

    def __enter__(self):
        self.count = [0]
        self._token = _PROOF_COUNT.set(self.count)
        return self.count

    def __exit__(self, *exc):
        _PROOF_COUNT.reset(self._token)


def _count(proofs):
    count = _PROOF_COUNT.get()
    if count is not None:
        count[0] += proofs


def _run_search(pos, neg, background, options):
    """(theory, out of time, goals over the inference limit, runners-up)."""
    background = os.path.abspath(background)
    theory, late, over, _, _, runners, proofs = _core._refine_learn(
        pos, neg, background, options, proving_service(options.n_jobs))
    _count(proofs)
    return theory, late, over, runners


def _search(pos, neg, background, options):
    """(theory, runners-up) of the search, with its warnings."""
    theory, late, over, runners = _run_search(pos, neg, background, options)
    _warn(theory, late, over, options, 5)
    return theory, runners


def _warn(theory, late, over, options, stacklevel):
    """The search's warnings: goals cut short, out of time, no clause
    (``stacklevel`` counted from here)."""
    for text in _core._search_warnings(theory, late, over, options):
        warnings.warn(text, RuntimeWarning, stacklevel=stacklevel)


def _internal_form(rule):
    """A rule in Prolog form with its body joined by "&" (commas inside
    arguments stay)."""
    head, _, body = rule.partition(":-")
    parts, depth, current = [], 0, []
    for ch in body:
        if ch in "([":
            depth += 1
        elif ch in ")]":
            depth -= 1
        if ch == "," and depth == 0:
            parts.append("".join(current))
            current = []
        else:
            current.append(ch)
    parts.append("".join(current))
    return head + ":-" + "&".join(parts)


def _pooled_theory(pos, neg, background, options):
    """The search's theory with ``pool``: the cover selection over the
    search's clauses, their runners-up and the text stage's candidates, all
    proved on the training examples under the run's time bound and sandbox."""
    from . import _proved

    theory, runners = _search(pos, neg, background, options)
    candidates, _ = _core._formed_rules(pos, options)
    candidates = _proved._with_variants(candidates, options, background)
    # The search's clauses first: the selection gives a tie to the earlier rule.
    rules = list(dict.fromkeys(list(map(_internal_form, theory + runners)) + candidates))
    covered = _proved.prove_covered(rules, background, list(pos), list(neg), options.n_jobs,
                                    list(pos) if options.recursive else (), prover=options.prover,
                                    **_evaluation(options))
    chosen = copy.copy(options)
    chosen.selection = "cover"
    if chosen.eval_fn not in ("accuracy", "coverage", "compression"):
        chosen.eval_fn = "compression"
    theory, _ = _proved._select(rules, covered, len(pos), len(neg), chosen)
    return theory


def learn_refined(pos, neg, background, options):
    """``vantor_learn`` with the search: the ``Vantor`` record and the
    seconds of each stage."""
    if options.pool:
        tic = time.time()
        theory = _pooled_theory(pos, neg, background, options)
        learned = time.time()
        if not options.quiet:
            _print_theory(theory)
        test = evaluate_theory_prolog_training(theory, background, pos, neg, options.quiet,
                                               **_evaluation(options))
        work = {"search": learned - tic, "prolog evaluation": time.time() - learned}
        return Vantor(theory, test.accuracy, test.precision, test.sensitivity, test.specificity,
                      test.fscore, learned - tic), work
    theory, measures, time_learn, work, proofs = _core._learn_refined(
        pos, neg, os.path.abspath(background), options, proving_service(options.n_jobs))
    _count(proofs)
    return Vantor(theory, *measures, time_learn), work


def cross_validate_refined(kfolds, background, count, options):
    """``vantor_cross_validation`` with the search: every fold learns from
    its training folds and is scored on its own fold (run by the core, but
    with ``pool``, whose selection is composed here)."""
    if options.pool:
        return _cross_validate_pooled(kfolds, background, count, options)
    hypothesis, measures, time_learn, stats = _core._refined_cross_validation(
        [kfolds.pos_fold[i] for i in range(count)], [kfolds.neg_fold[i] for i in range(count)],
        kfolds.pos_dict, kfolds.neg_dict, background, count, options, proving_service(options.n_jobs))
    record = Vantor(hypothesis, *measures, time_learn)
    record.theories = stats["theories"]
    return record, {}


def _cross_validate_pooled(kfolds, background, count, options):
    tic = time.time()
    theories, results = [], []
    for fold in range(count):
        train_pos = {e: kfolds.pos_dict[e] for j in range(count) if j != fold for e in kfolds.pos_fold[j]}
        train_neg = {e: kfolds.neg_dict[e] for j in range(count) if j != fold for e in kfolds.neg_fold[j]}
        if not train_pos:
            raise IndexError("a fold has no training positive: the search needs a seed")
        theory = _pooled_theory(train_pos, train_neg, background, options)
        if not options.quiet:
            _print_theory(theory)
            evaluate_theory_prolog_training(theory, background, list(train_pos), list(train_neg), False,
                                            **_evaluation(options))
        results.append(evaluate_theory_prolog(theory, background, list(kfolds.pos_fold[fold]),
                                              list(kfolds.neg_fold[fold]), options.quiet,
                                              **_evaluation(options)))
        theories.append(theory)
    measures = [[getattr(r, name) for r in results]
                for name in ("accuracy", "precision", "sensitivity", "specificity", "fscore")]
    record = Vantor(theories[-1] if theories else [], *measures, time.time() - tic)
    record.theories = theories
    return record, {}
