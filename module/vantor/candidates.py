"""Candidate rules from bottom clauses.

The stages the learner runs before coverage: the arity table of a sample of
positive examples, the compression and sampling of bottom clauses, the
relation chains (which predicates are seen linked), rule templates abstracted
from bottom clauses, and the instantiation of templates into candidate rules.

Randomness comes from Python's ``random`` module: keys are sorted before
every draw, and drawing k of them gives exactly ``random.sample(keys, k)``, so
``random.seed(n)`` in a script makes a run repeatable. ``relation_chains``
seeds the generator itself. A draw larger than its population raises
ValueError; nothing is clipped.

``key_size`` everywhere is a number of examples, or a value that tests false
(``[]``, ``0``, ``None``) for a tenth of the examples. A float count is
refused with TypeError when it must be drawn, as ``random.sample`` refuses
it; the arity table, which always draws at least one example, takes any
count up to 1 as 1.
"""
from typing import Any

from . import _core

BottomClauses = dict[str, list[str]]
KeySize = Any  # a number of examples, or a value that tests false

__all__ = [
    "predicate_arity_table",
    "compress_bottom_clause",
    "first_literal_per_predicate",
    "limit_bottom_clause",
    "relation_chains",
    "generate_hypotheses",
    "hypotheses_from_bottom_clause",
    "apply_meta_rules",
]


def predicate_arity_table(pos_file_dic: BottomClauses, neg_file_dic: Any, size_positive_example: int,
                          size_negative_example: Any, key_size: KeySize) -> dict[str, int]:
    """Predicate name -> number of arguments, from a random sample of positives.

    Draws ``key_size`` examples (when it tests true, otherwise
    ``size_positive_example // 10``; at least one) from the sorted keys of
    ``pos_file_dic`` and records every predicate of their compressed bottom
    clauses with the arity of the literal it is first seen with, in order of
    first appearance. The bottom clauses of the drawn examples are left sorted
    inside ``pos_file_dic``.

    Parameters
    ----------
    pos_file_dic : dict
        The positive bottom-clause dictionary.
    neg_file_dic : object
        Not used.
    size_positive_example : int
        The number of positive examples.
    size_negative_example : object
        Not used.
    key_size : int or None
        Examples to draw; a false value draws a tenth.

    Returns
    -------
    dict
        Predicate name -> arity.

    Raises
    ------
    ValueError
        When the dictionary is empty or the sample is larger than it.

    Examples
    --------
    >>> pos, neg = bottom_clause_generation(container="memory", tqdm_disable=True)
    >>> predicate_arity_table(pos, neg, len(pos), len(neg), 2)
    {'female': 1, 'male': 1, 'parent': 2}
    """
    del neg_file_dic, size_negative_example
    return _core._predicate_arity_table(pos_file_dic, size_positive_example, key_size)


def compress_bottom_clause(BC: list[str]) -> list[str]:
    """Sort a bottom clause in place and return its smallest literal of each predicate.

    Literals are grouped by the text before their first "("; the result holds
    the first literal of every group, in sorted order.

    Parameters
    ----------
    BC : list of str
        A bottom clause; sorted in place.

    Returns
    -------
    list of str
        One literal per predicate.

    Examples
    --------
    >>> compress_bottom_clause(["parent(C,B)", "male(A)", "parent(A,C)", "male(C)"])
    ['male(A)', 'parent(A,C)']
    """
    return _core._compress_bottom_clause(BC)


def first_literal_per_predicate(list_1: list[str]) -> list[str]:
    """The first literal of each predicate, in input order (input unchanged).

    Parameters
    ----------
    list_1 : list of str
        Literals.

    Returns
    -------
    list of str
        One literal per predicate.

    Examples
    --------
    >>> first_literal_per_predicate(["parent(C,B)", "male(A)", "parent(A,C)", "male(C)"])
    ['parent(C,B)', 'male(A)']
    """
    return _core._first_literal_per_predicate(list_1)


def limit_bottom_clause(BC: list[str], bc_count: int) -> list[str]:
    """Literals of a bottom clause drawn at random: ``random.sample(BC, bc_count)``.

    Parameters
    ----------
    BC : list of str
        A bottom clause.
    bc_count : int
        The number of literals to draw.

    Returns
    -------
    list of str
        The drawn literals.

    Raises
    ------
    ValueError
        When ``bc_count`` is negative or larger than ``BC``.

    Examples
    --------
    >>> len(limit_bottom_clause(["parent(A,C)", "parent(C,B)", "male(A)"], 2))
    2
    """
    return _core._limit_bottom_clause(BC, bc_count)


def relation_chains(positive_file_dictionary: BottomClauses, length_positive_examples: int,
                    constant_set: list[str], key_size: KeySize, set_chain: bool) -> list[list[str]]:
    """Ordered predicate pairs seen linked in a sample of positive bottom clauses.

    Seeds ``random`` with ``length_positive_examples``, draws ``key_size``
    examples (or a tenth of ``length_positive_examples``, at least one) from
    the sorted keys and returns ``[p, q]`` pairs in order of first acceptance:
    ``[target, p]`` when a literal of p shares an argument with the
    variabilised first drawn example, ``[p, q]`` when a literal of p precedes
    a literal of q in one bottom clause and both share a variable outside
    ``constant_set`` (with ``set_chain``, a variable that is not a head
    argument). The result is the same whatever the generator's state before
    the call.

    Parameters
    ----------
    positive_file_dictionary : dict
        The positive bottom-clause dictionary.
    length_positive_examples : int
        The number of positive examples (the seed).
    constant_set : list of str
        Terms that stay constants.
    key_size : int or None
        Examples to draw; a false value draws a tenth.
    set_chain : bool
        Link only through variables that are not head arguments.

    Returns
    -------
    list of list of str
        The pairs.

    Examples
    --------
    >>> pos, _ = bottom_clause_generation(container="memory", tqdm_disable=True)
    >>> relation_chains(pos, len(pos), [], 2, False)[:3]
    [['grandparent', 'parent'], ['grandparent', 'female'], ['parent', 'parent']]
    """
    return _core._relation_chains(positive_file_dictionary, length_positive_examples, constant_set,
                                  key_size, bool(set_chain))


def generate_hypotheses(dict_1: BottomClauses, constant: list[str], max_literals: int,
                        exact_literals: bool, key_size: KeySize) -> list[str]:
    """Rule templates abstracted from a random sample of positive bottom clauses.

    Draws ``key_size`` examples (or a tenth, at least one) with the generator
    as it stands and returns their templates, such as
    ``A(A,B):-B(C,D)&C(E,F)``, in order of first occurrence (drawn examples
    in draw order, each example's templates in creation order). Bottom
    clauses longer than 50 literals are first cut to one literal per
    predicate. Each multiset of body predicates yields at most one template.

    Parameters
    ----------
    dict_1 : dict
        The positive bottom-clause dictionary.
    constant : list of str
        Terms that stay constants.
    max_literals : int
        Most body literals of a template.
    exact_literals : bool
        Only templates of exactly ``max_literals`` body literals.
    key_size : int or None
        Examples to draw; a false value draws a tenth.

    Returns
    -------
    list of str
        The templates (predicates as variables).

    Examples
    --------
    >>> pos, _ = bottom_clause_generation(container="memory", tqdm_disable=True)
    >>> "A(A,B):-B(C,D)&C(E,F)" in generate_hypotheses(pos, [], 2, False, 2)
    True
    """
    return _core._generate_hypotheses(dict_1, constant, max_literals, bool(exact_literals), key_size)


def hypotheses_from_bottom_clause(BC: list[str], h: str, constant: list[str], max_literals: int,
                                  exact_literals: bool, track: dict) -> tuple[list[str], dict]:
    """Templates of one bottom clause.

    Every subset of 1 to ``max_literals`` literals (exactly ``max_literals``
    with ``exact_literals``) whose literals are linked to ``h`` in order, and
    whose sorted tuple of predicate names is not yet a key of ``track``, gives
    one template; its signature is added to ``track``.

    Parameters
    ----------
    BC : list of str
        A bottom clause.
    h : str
        The variabilised head.
    constant : list of str
        Terms that stay constants.
    max_literals : int
        Most body literals.
    exact_literals : bool
        Only subsets of exactly ``max_literals`` literals.
    track : dict
        Signatures met so far; extended in place.

    Returns
    -------
    Hypo : list of str
        The templates.
    track : dict
        The same dict.

    Examples
    --------
    >>> hypotheses_from_bottom_clause(["parent(A,C)", "parent(C,B)", "male(A)"],
    ...                               "grandparent(A,B)", [], 2, True, {})[0]
    ['A(A,B):-B(C,D)&C(E,F)', 'A(A,B):-B(C,D)&C(E)']
    """
    return _core._hypotheses_from_bottom_clause(BC, h, constant, max_literals, bool(exact_literals),
                                                track)


def apply_meta_rules(hd: str, rule: list[str], dict_1: dict[str, int], relation: list[list[str]],
                     distinct: bool) -> list[str]:
    """Candidate rules with head ``hd`` from templates.

    Body predicates are chosen from the arity table ``dict_1`` by arity; the
    first must be linked to the head predicate (``[target, p]`` in
    ``relation``), neighbouring ones to each other in either orientation.
    Each multiset of predicates is instantiated once, by the first template
    and choice that reach it.

    Parameters
    ----------
    hd : str
        The head, such as ``'grandparent(A,B)'``.
    rule : list of str
        Templates with predicate variables, such as ``'A(A,B):-B(A,C)&C(C,B)'``.
    dict_1 : dict
        The arity table.
    relation : list of list of str
        The relation chains.
    distinct : bool
        Never use one predicate twice in a rule.

    Returns
    -------
    list of str
        The candidate rules in creation order, without duplicates.

    Examples
    --------
    >>> apply_meta_rules("grandparent(A,B)", ["A(A,B):-B(A,C)&C(C,B)"], {"parent": 2, "male": 1},
    ...                  [["grandparent", "parent"], ["parent", "parent"]], False)
    ['grandparent(A,B):-parent(A,C)&parent(C,B)']
    """
    return _core._apply_meta_rules(hd, rule, dict_1, relation, bool(distinct))
