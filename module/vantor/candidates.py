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
    first appearance. The bottom clauses of the drawn examples are left
    sorted inside ``pos_file_dic``. ``neg_file_dic`` and
    ``size_negative_example`` are accepted and not used.

    Raises ValueError when the dictionary is empty or the sample is larger
    than it.
    """
    del neg_file_dic, size_negative_example
    return _core._predicate_arity_table(pos_file_dic, size_positive_example, key_size)


def compress_bottom_clause(BC: list[str]) -> list[str]:
    """Sort ``BC`` in place and return its smallest literal of each predicate.

    Literals are grouped by the text before their first "("; the result holds
    the first literal of every group, in sorted order.
    """
    return _core._compress_bottom_clause(BC)


def first_literal_per_predicate(list_1: list[str]) -> list[str]:
    """The first literal of each predicate, in input order (input unchanged)."""
    return _core._first_literal_per_predicate(list_1)


def limit_bottom_clause(BC: list[str], bc_count: int) -> list[str]:
    """``bc_count`` literals of ``BC`` drawn at random: ``random.sample(BC, bc_count)``.

    Raises ValueError when ``bc_count`` is negative or larger than ``BC``.
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
    """
    return _core._generate_hypotheses(dict_1, constant, max_literals, bool(exact_literals), key_size)


def hypotheses_from_bottom_clause(BC: list[str], h: str, constant: list[str], max_literals: int,
                                  exact_literals: bool, track: dict) -> tuple[list[str], dict]:
    """Templates of one bottom clause; returns the pair ``(Hypo, track)``.

    Every subset of 1 to ``max_literals`` literals (exactly ``max_literals``
    with ``exact_literals``) whose literals are linked to ``h`` in order, and
    whose sorted tuple of predicate names is not yet a key of ``track``,
    gives one template; its signature is added to ``track`` (the same dict,
    extended in place and returned).
    """
    return _core._hypotheses_from_bottom_clause(BC, h, constant, max_literals, bool(exact_literals),
                                                track)


def apply_meta_rules(hd: str, rule: list[str], dict_1: dict[str, int], relation: list[list[str]],
                     distinct: bool) -> list[str]:
    """Candidate rules with head ``hd`` from the templates ``rule``.

    Body predicates are chosen from the arity table ``dict_1`` by arity; the
    first must be linked to the head predicate (``[target, p]`` in
    ``relation``), neighbouring ones to each other in either orientation.
    With ``distinct`` no predicate is used twice. Each multiset of predicates
    is instantiated once, by the first template and choice that reach it.
    Rules come in creation order, without duplicates.
    """
    return _core._apply_meta_rules(hd, rule, dict_1, relation, bool(distinct))
