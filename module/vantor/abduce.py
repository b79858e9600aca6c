"""Abduction: proposing ground facts for abducible predicates.

Given rules in the internal form ``head:-b1&...&bn`` that each carry exactly
one abducible literal, and the bottom clauses of the positive examples,
``vantor_abduction`` matches every rule's ordinary body literals against
every example's bottom clause and, where the matches agree, instantiates the
abducible literal into ground facts. The facts are counted (or scored) and
written to "abduced_facts.txt" in the working directory.
"""
import os
import warnings
from typing import Optional, Union

from . import _core
from ._core import consistent_substitutions, instantiate_abducibles, separate_abducibles
from ._files import load_stored, replace_files

__all__ = [
    "separate_abducibles",
    "consistent_substitutions",
    "instantiate_abducibles",
    "vantor_abduction",
]

OUTPUT_FILE = "abduced_facts.txt"
METRICS = ("coverage", "predictive_power")


def vantor_abduction(Training_pos: Union[dict[str, list[str]], str, os.PathLike],
                     abducible: list[str], positive_example_list: Optional[list[str]] = None,
                     constant_set: Optional[list[str]] = None, meta_rule: Optional[list[str]] = None,
                     metric: str = "coverage") -> dict[str, int]:
    """Propose facts for the abducible predicates and write "abduced_facts.txt".

    Every rule's ordinary body literals are matched against every example's
    bottom clause and, where the matches agree, the abducible literal is
    instantiated into ground facts, which are counted (or scored).

    Parameters
    ----------
    Training_pos : dict, str or os.PathLike
        The positive bottom-clause dictionary (exactly a ``dict``), or the name
        of the file in which one is stored (an empty file holds no examples; a
        file holding anything but containers, texts and numbers is refused with
        pickle.UnpicklingError, so loading it runs no code).
    abducible : list of str
        The abducible predicate names.
    positive_example_list : list of str, optional
        The example texts to use, in order; empty (the default, a fresh list on
        every call) means every key of the dictionary.
    constant_set : list of str, optional
        Terms never turned into variables (as for bottom clauses).
    meta_rule : list of str, optional
        The rules to abduce with, in the form ``h(A,B):-p(A,C)&ab(C,B)``; each
        must carry exactly one literal of an abducible predicate.
    metric : str, default 'coverage'
        "coverage" writes how often each fact was proposed; "predictive_power"
        writes and returns trunc(N * (count - 1) / count) for N examples. Any
        other value writes only the header line (and warns).

    Returns
    -------
    dict
        Fact text -> its count (or score), in order of first proposal. The file
        holds the header line "fact \\t coverage " and one line per fact, sorted
        by character code.

    Raises
    ------
    ValueError
        For a rule without exactly one abducible literal.
    KeyError
        For an example missing from the dictionary.
    OSError
        For a write that cannot complete (a full disk, say; an earlier file is
        left as it was). Nothing is written when an error is raised.

    Examples
    --------
    >>> bottoms = bottom_clauses_for_set("BK.pl", [], 2, ["grandparent(arthur,diana).",
    ...                                  "grandparent(martin,peter)."], "unused", "memory", True)
    >>> vantor_abduction(bottoms, ["male"],
    ...                  meta_rule=["grandparent(A,B):-parent(A,C)&parent(C,B)&male(A)"])
    {'male(arthur)': 1, 'male(martin)': 1}
    """
    positive_example_list = [] if positive_example_list is None else positive_example_list
    constant_set = [] if constant_set is None else constant_set
    meta_rule = [] if meta_rule is None else meta_rule

    if isinstance(positive_example_list, (str, bytes)):
        raise TypeError(
            "positive_example_list must be a list of example texts, not a single text; "
            "write [%r]" % (positive_example_list,)
        )

    if type(Training_pos) is dict:
        dictionary = Training_pos
    else:
        # An empty stored file holds no examples at all.
        dictionary = load_stored(Training_pos, "Training_pos", if_empty={})
    if type(dictionary) is not dict:
        raise TypeError(
            "Training_pos: the stored object is a %s, not a bottom-clause dictionary"
            % type(dictionary).__name__
        )
    example_ids = list(positive_example_list) if positive_example_list else list(dictionary)

    if not (isinstance(metric, str) and metric in METRICS):
        warnings.warn(
            "metric %r is neither 'coverage' nor 'predictive_power'; %s gets only its "
            "header line" % (metric, OUTPUT_FILE),
            UserWarning,
            stacklevel=2,
        )

    coverage, text = _core._abduction(dictionary, example_ids, constant_set, meta_rule,
                                      abducible, metric)
    replace_files({OUTPUT_FILE: text}, {OUTPUT_FILE: "the abduction output " + OUTPUT_FILE})
    return coverage
