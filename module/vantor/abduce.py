"""Abduction: proposing ground facts for abducible predicates.

Given rules in the internal form ``head:-b1&...&bn`` that each carry exactly
one abducible literal, and the bottom clauses of the positive examples,
``vantor_abduction`` matches every rule's ordinary body literals against
every example's bottom clause and, where the matches agree, instantiates the
abducible literal into ground facts. The facts are counted (or scored) and
written to "abduced_facts.txt" in the working directory.
"""
import os
import tempfile
import warnings

from . import _core
from ._core import consistent_substitutions, instantiate_abducibles, separate_abducibles
from .data import read_pickle

__all__ = [
    "separate_abducibles",
    "consistent_substitutions",
    "instantiate_abducibles",
    "vantor_abduction",
]

OUTPUT_FILE = "abduced_facts.txt"
METRICS = ("coverage", "predictive_power")

_PATH_TYPES = (str, bytes, os.PathLike)


def _load_stored(name):
    """The object stored in the file ``name``; an empty file holds no examples."""
    if not isinstance(name, _PATH_TYPES):
        # open() would take an integer as a file descriptor (and close it).
        raise TypeError(
            "Training_pos must be a bottom-clause dictionary (dict) or the name of a "
            "file holding a stored one, not %s" % type(name).__name__
        )
    return read_pickle(name)


def _file_mode(path):
    try:
        return os.stat(path).st_mode & 0o7777
    except OSError:
        mask = os.umask(0)
        os.umask(mask)
        return 0o666 & ~mask


def _replace_file(path, text):
    """Write ``text`` to ``path`` so that the file holds either its old or its
    whole new content, never a part."""
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".",
                               suffix=".tmp")
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="") as handle:
            handle.write(text)
        os.chmod(tmp, _file_mode(path))
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def vantor_abduction(Training_pos, abducible, positive_example_list=None, constant_set=None,
                     meta_rule=None, metric="coverage"):
    """Propose facts for the abducible predicates and write "abduced_facts.txt".

    Training_pos: the positive bottom-clause dictionary (exactly a ``dict``), or
        the name of the file in which one is stored (loaded with pickle; an
        empty file holds no examples).
    abducible: list of abducible predicate names.
    positive_example_list: the example texts to use, in order; empty (the
        default, a fresh list on every call) means every key of the dictionary.
    constant_set: terms never turned into variables (as for bottom clauses).
    meta_rule: the rules to abduce with, in the form ``h(A,B):-p(A,C)&ab(C,B)``;
        each must carry exactly one literal of an abducible predicate.
    metric: "coverage" writes how often each fact was proposed;
        "predictive_power" writes and returns trunc(N * (count - 1) / count)
        for N examples. Any other value writes only the header line (and
        warns).

    Returns a dict from fact text to its count (or score), in order of first
    proposal. The file holds the header line "fact \\t coverage " and one line
    per fact, sorted by character code. Nothing is written when an error is
    raised: a rule without exactly one abducible literal (ValueError) or an
    example missing from the dictionary (KeyError).
    """
    positive_example_list = [] if positive_example_list is None else positive_example_list
    constant_set = [] if constant_set is None else constant_set
    meta_rule = [] if meta_rule is None else meta_rule

    if isinstance(abducible, (str, bytes)):
        raise TypeError(
            "abducible must be a list of predicate names, not a single text; write [%r]"
            % (abducible,)
        )
    if isinstance(positive_example_list, (str, bytes)):
        raise TypeError(
            "positive_example_list must be a list of example texts, not a single text; "
            "write [%r]" % (positive_example_list,)
        )

    dictionary = Training_pos if type(Training_pos) is dict else _load_stored(Training_pos)
    if isinstance(dictionary, list) and not dictionary:
        dictionary = {}  # an empty stored file: no examples at all
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
    _replace_file(OUTPUT_FILE, text)
    return coverage
