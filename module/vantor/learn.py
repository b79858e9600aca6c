"""Coverage, selection and the learning driver.

``compute_coverage`` builds, for every example of a bottom-clause dictionary,
the canonical rules its bottom clause forms for each candidate; the filters
and ``select_theory`` turn those lists into a theory; ``vantor_learn`` runs
the whole learner in its fixed order and scores the theory in SWI-Prolog.

The work runs in the C++ core with the interpreter lock released (Ctrl-C
still stops it within a moment); literals are parsed once per run and rule
texts are built only for choices of literals not met before.
"""
import os
from typing import Any, Union

from . import _core, _proved, _refine
from ._files import path_text
from ._options import LearnOptions, takes_learn_options
from .evaluate import Vantor

BottomClauses = dict[str, list[str]]
HypothesisLists = list[list[str]]
CoverMap = dict[str, list[int]]

__all__ = [
    "compute_coverage",
    "rename_variables",
    "match_literals",
    "normalise_rule",
    "filter_by_min_pos",
    "filter_by_max_neg",
    "select_theory",
    "chain_rule_body",
    "make_recursive_rules",
    "postprocess_hypotheses",
    "vantor_learn",
]


def compute_coverage(BK: BottomClauses, head: str, BT: list[str], head_dic: Any,
                     hypo_set_dic: dict, rule_set_dic: dict, constant: list[str], optimize: bool,
                     verbose: bool, reduce_bc: bool, bc_count: int,
                     rule_noise_check: bool) -> tuple[HypothesisLists, dict, dict]:
    """Hypothesis lists of every example of ``BK``; returns
    ``(final_hypo, hypo_set_dic, rule_set_dic)``.

    For each candidate of ``BT``, every choice of one bottom-clause literal per
    body literal (same predicate; a predicate repeated k times draws from k
    disjoint chunks of its literals) that is linked to ``head`` gives the rule
    ``rename_variables([[head] + choice])``. Rules with a body literal that
    repeats an argument are left out; with ``rule_noise_check`` each rule goes
    through ``normalise_rule``; with ``optimize`` the literal choices are first
    narrowed by ``match_literals``; with ``reduce_bc`` each bottom clause is
    first sampled down to ``bc_count`` literals (ValueError naming the example
    when it is shorter).

    The two caches are read and extended in place and returned:
    ``hypo_set_dic`` maps an example text to its list (an example already
    there is not recomputed and its very list object is used);
    ``rule_set_dic`` maps the ascending tuple of a choice's literal texts to
    its rule text (or ``[]``), so the first order met for a set of literals
    fixes its text. ``head_dic`` is not used. A progress bar goes to stderr
    unless ``verbose``.
    """
    del head_dic
    final_hypo = _core._compute_coverage(BK, head, BT, hypo_set_dic, rule_set_dic, constant,
                                         bool(optimize), bool(verbose), bool(reduce_bc),
                                         bc_count if reduce_bc else 0, bool(rule_noise_check))
    return final_hypo, hypo_set_dic, rule_set_dic


def rename_variables(Hypo: list[list[str]]) -> Union[str, list]:
    """Canonical variable names (A, B, ... by first appearance) for ``Hypo``,
    a list of literal lists; returns the rule ``head:-b1&...&bn`` or ``[]``
    when a renamed literal collapses into an equal one. Constants stay."""
    return _core._rename_variables(Hypo)


def match_literals(list_1: list[list[str]], constant_1: Any) -> list[list[str]]:
    """Per position, drop literals that are variants of an earlier kept one and
    rename later positions' variables onto the kept literal's.
    ``constant_1`` is not used."""
    del constant_1
    return _core._match_literals(list_1)


def normalise_rule(H: list[str]) -> list[str]:
    """Each rule of ``H`` reshaped into a chain from the head's first argument
    (body ordered by first argument, walked first to last argument); a rule
    whose chain never reaches the head's last argument is dropped, one whose
    first literal carries the head's arguments is cut to that literal."""
    return _core._normalise_rule(H)


def filter_by_min_pos(P: HypothesisLists, min_pos: Union[int, float]) -> CoverMap:
    """``pos_cover``: rule text -> ascending positions of the entries of ``P``
    that contain it, for rules in at least ``min_pos`` entries; keys in order
    of first occurrence."""
    return _core._filter_by_min_pos(P, min_pos)


def filter_by_max_neg(dic_p: CoverMap, P: HypothesisLists,
                      max_neg: Union[int, float]) -> CoverMap:
    """``neg_cover``: for each key of ``dic_p`` (in its order) produced for at
    most ``max_neg`` entries of ``P``, the ascending positions of those
    entries."""
    return _core._filter_by_max_neg(dic_p, P, max_neg)


def select_theory(P: CoverMap, N: CoverMap, p: int, n: int, function: Any, verbose: bool,
                  pi: bool, re: bool) -> list[str]:
    """Greedy theory over the keys of ``N``, seeded with the best
    (positives - negatives) rule and grown while training accuracy strictly
    rises; returned with bodies joined by ",". With ``re`` the rules are
    rewritten by ``make_recursive_rules(chain_rule_body(...))``, else with
    ``pi`` by ``postprocess_hypotheses``. Unless ``verbose``, prints the
    banner and the theory. ``function`` is not used. A rule without positives
    and negatives, or ``p + n == 0``, raises ZeroDivisionError."""
    del function
    theory, announce = _core._select_theory(P, N, p, n, bool(pi), bool(re))
    if announce and not verbose:
        _core._print_theory(theory)
    return theory


def chain_rule_body(H: list[str]) -> list[str]:
    """Each rule's body re-ordered into a first-to-last-argument chain from
    the head's first argument; literals never reached are dropped. The walk
    ends after the pass that reaches the head's last argument, or after a
    pass that adds nothing."""
    return _core._chain_rule_body(H)


def make_recursive_rules(H: list[str]) -> list[str]:
    """Single-predicate chains become a step rule (calling the head's
    predicate) and a base rule; one-literal rules stay; chains mixing
    predicates are dropped, as is a step or base rule whose renaming
    collapses (it cannot be written as a rule)."""
    return _core._make_recursive_rules(H)


def postprocess_hypotheses(H: list[str], length: int = 2) -> list[str]:
    """Rewriting with invented predicates is not provided yet: returns ``H``
    unchanged (``length`` is accepted for the interface)."""
    del length
    return H


@takes_learn_options
def vantor_learn(Training_pos: BottomClauses, Training_neg: BottomClauses,
                 file: Union[str, os.PathLike] = "BK.pl", *,
                 options: LearnOptions) -> Vantor:
    """Learn a theory from positive and negative bottom-clause dictionaries.

    Runs, in this order: the head (first positive example, variabilised), the
    arity table (sorts the sampled bottom clauses of ``Training_pos`` in
    place), the relation chains (seed ``random`` with the number of
    positives), the templates (``meta_rule`` when given, else generated), their
    instantiation (sorted longest text first), coverage of the positives then
    the negatives with shared caches, the ``min_pos`` / ``max_neg`` filters and
    the greedy selection; then evaluates the theory on the training examples
    in SWI-Prolog (``file`` is the background file) and returns a ``Vantor``
    record whose ``time_learn`` excludes that evaluation. Unless ``verbose``,
    prints the theory and the training tables. ``eval_fn`` is accepted and
    not used (selection scores by accuracy).

    ``constant_set``, ``meta_rule`` and ``key_size`` default to a new empty
    value per call. Raises IndexError for an empty ``Training_pos``, ValueError
    when ``key_size`` exceeds the number of positives, TypeError when a
    dictionary is given as a file name (load it with ``read_pickle`` or build
    it with ``bottom_clause_generation(..., container='memory')``), and
    KeyboardInterrupt when interrupted (no working file is left behind).
    """
    return _learn_run(Training_pos, Training_neg, file, options)[0]


def _learn_run(Training_pos, Training_neg, file, options):
    """The ``Vantor`` record of one run and the seconds of each stage
    (learning stages, "prolog evaluation") with the candidate count."""
    if options.search == "refine":
        return _refine.learn_refined(Training_pos, Training_neg, path_text(file, "file"), options)
    if options.coverage == "prolog":
        return _proved.learn_proved(Training_pos, Training_neg, path_text(file, "file"), options)
    hypothesis, measures, time_learn, work = _core._vantor_learn(
        Training_pos, Training_neg, path_text(file, "file"), options)
    return Vantor(hypothesis, *measures, time_learn), work


@takes_learn_options
def _learn_stages(Training_pos: BottomClauses, Training_neg: BottomClauses, *,
                  options: LearnOptions) -> tuple[list[str], bool, dict[str, float]]:
    """The stages before the Prolog evaluation; returns (theory, announce,
    times) where times maps each stage name to seconds and "candidates" to
    the number of candidate rules (tests and benchmarks use it)."""
    return _core._learn_stages(Training_pos, Training_neg, options)
