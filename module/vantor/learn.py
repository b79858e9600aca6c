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

from . import _core, _host, _proved, _refine
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
    """Hypothesis lists of every example of a bottom-clause dictionary.

    For each candidate of ``BT``, every choice of one bottom-clause literal per
    body literal (same predicate; a predicate repeated k times draws from k
    disjoint chunks of its literals) that is linked to ``head`` gives the rule
    ``rename_variables([[head] + choice])``. Rules with a body literal that
    repeats an argument are left out.

    Parameters
    ----------
    BK : dict
        Bottom-clause dictionary (example text -> bottom clause).
    head : str
        The variabilised head, such as ``'grandparent(A,B)'``.
    BT : list of str
        The candidate rules (internal form, body joined by "&").
    head_dic : object
        Not used.
    hypo_set_dic : dict
        Cache, read and extended in place: example text -> its list (an example
        already there is not recomputed and its very list object is used).
    rule_set_dic : dict
        Cache, read and extended in place: ascending tuple of a choice's literal
        texts -> its rule text (or ``[]``), so the first order met for a set of
        literals fixes its text.
    constant : list of str
        Terms that stay constants.
    optimize : bool
        Narrow the literal choices first with ``match_literals``.
    verbose : bool
        True hides the progress bar (shown on stderr otherwise).
    reduce_bc : bool
        Sample every bottom clause down to ``bc_count`` literals first.
    bc_count : int
        The sample size of ``reduce_bc``.
    rule_noise_check : bool
        Pass every rule through ``normalise_rule``.

    Returns
    -------
    final_hypo : list of list of str
        One list of rule texts per example of ``BK``, in its order.
    hypo_set_dic, rule_set_dic : dict
        The two caches.

    Raises
    ------
    ValueError
        With ``reduce_bc``, for a bottom clause shorter than ``bc_count``
        (naming the example).

    Examples
    --------
    >>> bottoms = {"g(a,c).": ["p(A,C)", "p(C,B)", "m(A)"]}
    >>> lists, _, _ = compute_coverage(bottoms, "g(A,B)", ["g(A,B):-p(A,C)&p(C,B)", "g(A,B):-m(A)"],
    ...                                None, {}, {}, [], False, True, False, 20, False)
    >>> lists
    [['g(A,B):-p(A,C)&p(C,B)', 'g(A,B):-m(A)']]
    """
    del head_dic
    # The caches get many lists and tuples of texts, also after an interrupt.
    with _host.no_cycle_collection():
        final_hypo = _core._compute_coverage(BK, head, BT, hypo_set_dic, rule_set_dic, constant,
                                             bool(optimize), bool(verbose), bool(reduce_bc),
                                             bc_count if reduce_bc else 0, bool(rule_noise_check))
    return final_hypo, hypo_set_dic, rule_set_dic


def rename_variables(Hypo: list[list[str]]) -> Union[str, list]:
    """Canonical variable names for a rule given as a list of literal lists.

    Parameters
    ----------
    Hypo : list of list of str
        One list holding the head and the body literals.

    Returns
    -------
    str or list
        The rule ``head:-b1&...&bn`` with variables named A, B, ... by first
        appearance (constants stay), or ``[]`` when a renamed literal collapses
        into an equal one.

    Examples
    --------
    >>> rename_variables([["g(X,Y)", "p(X,Z)", "p(Z,Y)"]])
    'g(A,B):-p(A,C)&p(C,B)'
    """
    return _core._rename_variables(Hypo)


def match_literals(list_1: list[list[str]], constant_1: Any) -> list[list[str]]:
    """Drop, per position, literals that are variants of an earlier kept one.

    Later positions' variables are renamed onto the kept literal's.

    Parameters
    ----------
    list_1 : list of list of str
        Literal choices, one list per body position.
    constant_1 : object
        Not used.

    Returns
    -------
    list of list of str
        The narrowed choices.

    Examples
    --------
    >>> match_literals([["p(A,C)", "p(A,D)"], ["q(C)", "q(D)"]], None)
    [['p(A,C)'], ['q(C)']]
    """
    del constant_1
    return _core._match_literals(list_1)


def normalise_rule(H: list[str]) -> list[str]:
    """Reshape each rule into a chain from the head's first argument.

    The body is ordered by first argument and walked from the head's first to
    its last argument; a rule whose chain never reaches the head's last
    argument is dropped, one whose first literal carries the head's arguments
    is cut to that literal.

    Parameters
    ----------
    H : list of str
        Rules in the internal form (body joined by "&").

    Returns
    -------
    list of str
        The reshaped rules.

    Examples
    --------
    >>> normalise_rule(["g(A,B):-p(C,B)&p(A,C)"])
    ['g(A,B):-p(A,C)&p(C,B)']
    """
    return _core._normalise_rule(H)


def filter_by_min_pos(P: HypothesisLists, min_pos: Union[int, float]) -> CoverMap:
    """The rules in at least ``min_pos`` hypothesis lists of the positives.

    Parameters
    ----------
    P : list of list of str
        The hypothesis lists of the positive examples (``compute_coverage``).
    min_pos : int or float
        Least number of lists a rule must occur in.

    Returns
    -------
    dict
        ``pos_cover``: rule text -> ascending positions of the lists of ``P``
        that contain it; keys in order of first occurrence.

    Examples
    --------
    >>> filter_by_min_pos([["g(A,B):-p(A,B)", "g(A,B):-q(A,B)"], ["g(A,B):-p(A,B)"]], 2)
    {'g(A,B):-p(A,B)': [0, 1]}
    """
    return _core._filter_by_min_pos(P, min_pos)


def filter_by_max_neg(dic_p: CoverMap, P: HypothesisLists,
                      max_neg: Union[int, float]) -> CoverMap:
    """The rules of ``dic_p`` in at most ``max_neg`` hypothesis lists of the negatives.

    Parameters
    ----------
    dic_p : dict
        ``pos_cover`` from ``filter_by_min_pos``.
    P : list of list of str
        The hypothesis lists of the negative examples.
    max_neg : int or float
        Most lists a rule may occur in.

    Returns
    -------
    dict
        ``neg_cover``: for each key of ``dic_p`` (in its order) kept, the
        ascending positions of the lists that contain it.

    Examples
    --------
    >>> pos_cover = {"g(A,B):-p(A,B)": [0, 1], "g(A,B):-q(A,B)": [0]}
    >>> filter_by_max_neg(pos_cover, [["g(A,B):-q(A,B)"], []], 0)
    {'g(A,B):-p(A,B)': []}
    """
    return _core._filter_by_max_neg(dic_p, P, max_neg)


def select_theory(P: CoverMap, N: CoverMap, p: int, n: int, function: Any, verbose: bool,
                  pi: bool, re: bool) -> list[str]:
    """Greedy theory over the keys of ``N``.

    Seeded with the best (positives - negatives) rule and grown while training
    accuracy strictly rises.

    Parameters
    ----------
    P, N : dict
        ``pos_cover`` and ``neg_cover`` (rule text -> covered positions).
    p, n : int
        The numbers of positive and negative examples.
    function : object
        Not used.
    verbose : bool
        A quiet switch: unless true, prints the banner and the theory.
    pi : bool
        Rewrite the rules with ``postprocess_hypotheses`` (when ``re`` is
        false).
    re : bool
        Rewrite the rules by ``make_recursive_rules(chain_rule_body(...))``.

    Returns
    -------
    list of str
        The theory, bodies joined by ",".

    Raises
    ------
    ZeroDivisionError
        For a rule without positives and negatives, or ``p + n == 0``.

    Examples
    --------
    >>> select_theory({"g(A,B):-p(A,B)": [0, 1]}, {"g(A,B):-p(A,B)": []}, 2, 2,
    ...               None, True, False, False)
    ['g(A,B):-p(A,B)']
    """
    del function
    theory, announce = _core._select_theory(P, N, p, n, bool(pi), bool(re))
    if announce and not verbose:
        _core._print_theory(theory)
    return theory


def chain_rule_body(H: list[str]) -> list[str]:
    """Each rule's body re-ordered into a chain from the head's first argument.

    Literals never reached are dropped. The walk ends after the pass that
    reaches the head's last argument, or after a pass that adds nothing.

    Parameters
    ----------
    H : list of str
        Rules in the internal form.

    Returns
    -------
    list of str
        The re-ordered rules.

    Examples
    --------
    >>> chain_rule_body(["g(A,B):-p(C,B)&p(A,C)&q(D)"])
    ['g(A,B):-p(A,C)&p(C,B)']
    """
    return _core._chain_rule_body(H)


def make_recursive_rules(H: list[str]) -> list[str]:
    """Rewrite chains of one predicate into recursive rules.

    Single-predicate chains become a step rule (calling the head's predicate)
    and a base rule; one-literal rules stay; chains mixing predicates are
    dropped, as is a step or base rule whose renaming collapses (it cannot be
    written as a rule).

    Parameters
    ----------
    H : list of str
        Chain rules in the internal form.

    Returns
    -------
    list of str
        The rewritten rules.

    Examples
    --------
    >>> make_recursive_rules(["path(A,B):-edge(A,C)&edge(C,B)"])
    ['path(A,B):-edge(A,C)&path(C,B)', 'path(A,B):-edge(A,B)']
    """
    return _core._make_recursive_rules(H)


def postprocess_hypotheses(H: list[str], length: int = 2) -> list[str]:
    """Rewriting with invented predicates; not provided yet.

    Parameters
    ----------
    H : list of str
        Rules.
    length : int, default 2
        Accepted for the interface.

    Returns
    -------
    list of str
        ``H`` unchanged.
    """
    del length
    return H


@takes_learn_options
def vantor_learn(Training_pos: BottomClauses, Training_neg: BottomClauses,
                 file: Union[str, os.PathLike] = "BK.pl", *,
                 options: LearnOptions) -> Vantor:
    """Learn a theory from positive and negative bottom-clause dictionaries.

    With the default options it runs, in this order: the head (first
    positive example, variabilised), the arity table (sorts the sampled
    bottom clauses of ``Training_pos`` in place), the relation chains (seed
    ``random`` with the number of positives), the templates (``meta_rule``
    when given, else generated), their instantiation (sorted longest text
    first), coverage of the positives then the negatives with shared caches,
    the ``min_pos`` / ``max_neg`` filters and the greedy selection; then it
    evaluates the theory on the training examples in SWI-Prolog. With
    ``coverage='prolog'`` the candidates are proved in the engine instead,
    and ``selection='cover'`` chooses the rules by their ``eval_fn`` score
    (see the learning options below). Unless ``verbose``, prints the theory
    and the training tables.

    Parameters
    ----------
    Training_pos, Training_neg : dict
        Bottom-clause dictionaries (example text -> bottom clause), as
        ``bottom_clause_generation(..., container='memory')`` returns them.
    file : str or os.PathLike, default 'BK.pl'
        The background file the theory is evaluated with.

    Returns
    -------
    Vantor
        The theory (rules in Prolog form) with its training measures;
        ``time_learn`` excludes the evaluation.

    Raises
    ------
    IndexError
        For an empty ``Training_pos``.
    ValueError
        When ``key_size`` exceeds the number of positives, or for an option
        out of range.
    TypeError
        When a dictionary is given as a file name (load it with
        ``read_pickle`` or build it with
        ``bottom_clause_generation(..., container='memory')``), or for an
        option of the wrong kind.
    KeyboardInterrupt
        When interrupted (no working file is left behind).

    Notes
    -----
    ``constant_set``, ``meta_rule`` and ``key_size`` default to a new empty
    value per call.

    Examples
    --------
    >>> pos, neg = bottom_clause_generation(container="memory", tqdm_disable=True)
    >>> result = vantor_learn(pos, neg, file="BK.pl", verbose=True)
    >>> result.hypothesis
    ['grandparent(A,B):-parent(A,C),parent(C,B)']
    >>> result.accuracy, result.fscore
    (1.0, 1.0)
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
