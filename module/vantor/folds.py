"""Train/test splits and k folds of bottom-clause dictionaries.

The dictionaries stay ordinary host dictionaries (example text -> bottom
clause) so that the parts share the very bottom-clause lists of their
source; the core only computes where the id lists are cut. Shuffles use the
host's ``random`` module (or the generator a ``Learner`` chose for its
thread) and never seed it, so ``random.seed`` in a script makes a split
repeatable.
"""
import operator
import os
from collections.abc import Mapping
from typing import Any, Union

from . import _core, _host, _proved, _refine
from ._files import load_stored, path_text
from ._options import LearnOptions, takes_learn_options
from .evaluate import Vantor

__all__ = [
    "VantorFold",
    "label_dictionary",
    "split_examples",
    "vantor_folds",
    "vantor_folds_generation",
    "vantor_cross_validation",
    "vantor_train_test_split",
]

BottomClauses = dict[str, list[str]]
FoldMap = dict[int, BottomClauses]
Source = Union[BottomClauses, str, os.PathLike]


class VantorFold:
    """The folds of a positive and a negative bottom-clause dictionary.

    ``VantorFold(pos, neg, pos_d, neg_d)`` stores its four fields in this
    order. The record stores what it is given and checks nothing; two
    records are equal when their four fields are equal.

    Attributes
    ----------
    pos_fold : dict
        Fold number (0, 1, ...) -> dictionary of that fold's positive
        examples.
    neg_fold : dict
        The same for the negative examples.
    pos_dict : dict
        The complete positive bottom-clause dictionary.
    neg_dict : dict
        The complete negative bottom-clause dictionary.

    Examples
    --------
    >>> VantorFold({0: {"g(a).": []}}, {0: {}}, {"g(a).": []}, {})
    VantorFold(pos_fold={0: <1 example>}, neg_fold={0: <0 examples>}, pos_dict=<1 example>, neg_dict=<0 examples>)
    """

    __slots__ = ("pos_fold", "neg_fold", "pos_dict", "neg_dict")

    def __init__(self, pos, neg, pos_d, neg_d):
        self.pos_fold = pos
        self.neg_fold = neg
        self.pos_dict = pos_d
        self.neg_dict = neg_d

    def _fields(self):
        return (self.pos_fold, self.neg_fold, self.pos_dict, self.neg_dict)

    def __eq__(self, other):
        if not isinstance(other, VantorFold):
            return NotImplemented
        return self._fields() == other._fields()

    __hash__ = None  # the fields are mutable dictionaries

    def __repr__(self):
        # Bottom clauses can be long: show the shape, not every literal.
        return (
            "VantorFold(pos_fold=%s, neg_fold=%s, pos_dict=%s, neg_dict=%s)"
            % (
                _describe_fold_map(self.pos_fold),
                _describe_fold_map(self.neg_fold),
                _describe_dictionary(self.pos_dict),
                _describe_dictionary(self.neg_dict),
            )
        )


def _describe_dictionary(value):
    if isinstance(value, Mapping):
        return "<%d example%s>" % (len(value), "" if len(value) == 1 else "s")
    return repr(value)


def _describe_fold_map(value):
    if isinstance(value, Mapping):
        return "{%s}" % ", ".join(
            "%r: %s" % (key, _describe_dictionary(part)) for key, part in value.items()
        )
    return repr(value)


def label_dictionary(dict_1: BottomClauses, label: Any) -> BottomClauses:
    """The entries of a dictionary whose keys occur in ``label``, in ``label``'s order.

    Parameters
    ----------
    dict_1 : dict
        A bottom-clause dictionary.
    label : iterable
        Keys; those ``dict_1`` lacks are skipped.

    Returns
    -------
    dict
        The chosen entries.

    Examples
    --------
    >>> label_dictionary({"a": [1], "b": [2]}, ["b", "c", "a"])
    {'b': [2], 'a': [1]}
    """
    return {key: dict_1[key] for key in label if key in dict_1}


def _load_stored(path, parameter):
    """The bottom-clause dictionary stored in the file ``path``."""
    stored = load_stored(path, parameter)
    if not isinstance(stored, Mapping):
        raise TypeError(
            "%r holds a %s, not a bottom-clause dictionary"
            % (os.fsdecode(path), type(stored).__name__)
        )
    return stored


def _check_test_size(test_size):
    """The test size as the core takes it: ("count", int) or ("fraction", float)."""
    try:
        above_one = test_size > 1
    except TypeError:
        raise TypeError(
            "test_size must be a number (a fraction of at most 1 or a count of test examples "
            "above 1), not %s" % type(test_size).__name__
        ) from None
    if above_one:
        try:
            return "count", operator.index(test_size)
        except TypeError:
            raise TypeError(
                "test_size %r is above 1, so it is a count of test examples, and a count "
                "must be an integer (write 3, not 3.0), or give a fraction of at most 1"
                % (test_size,)
            ) from None
    return "fraction", float(test_size)


def _training_boundary(n, test_size):
    kind, value = _check_test_size(test_size)
    if kind == "count":
        # Any count beyond twice the ids already sends every id to test.
        return _core._split_boundary_count(n, min(value, 2 * n + 2))
    return _core._split_boundary_fraction(n, value)


def _check_folds(folds):
    try:
        count = operator.index(folds)
    except TypeError:
        raise TypeError(
            "folds must be a whole number of folds, not %r" % (folds,)
        ) from None
    if count <= 0:
        raise ValueError("folds must be a positive number of folds, got %d" % count)
    if count > 2**62:
        raise ValueError("folds=%d is more folds than can be held" % count)
    return count


def split_examples(data: Source, shuffle: bool = True,
                   test_size: Union[int, float] = 0.25) -> tuple[BottomClauses, BottomClauses]:
    """Split one bottom-clause dictionary into a training and a test part.

    Parameters
    ----------
    data : dict, str or os.PathLike
        A dictionary or the name of a file holding a stored one (an empty file
        is an error).
    shuffle : bool, default True
        Permute the example order with Python's ``random`` module first.
    test_size : int or float, default 0.25
        At most 1: the fraction of test examples (the training size is
        ``int((1 - test_size) * n)`` in double precision); above 1: the number
        of test examples, an integer. A training size below zero counts from
        the end: all but the last ``-size`` examples train.

    Returns
    -------
    train, test : dict
        Both in the (possibly shuffled) example order.

    Raises
    ------
    TypeError
        For a ``test_size`` that is no number, a count that is no integer, or
        ``data`` that is no dictionary or file name.

    Examples
    --------
    >>> bottom_clause_generation(tqdm_disable=True)
    ('positive_bottom_clause', 'negative_bottom_clause')
    >>> train, test = split_examples("positive_bottom_clause", shuffle=False)
    >>> len(train), list(test)
    (6, ['grandparent(martin,peter).', 'grandparent(nora,peter).'])
    """
    if isinstance(data, (str, os.PathLike)):
        dictionary = _load_stored(data, "data")
    else:
        dictionary = data
    if not hasattr(dictionary, "keys"):
        raise TypeError(
            "data must be a bottom-clause dictionary or the name of a file holding a "
            "stored one, not %s" % type(dictionary).__name__
        )
    example_ids = list(dictionary.keys())
    if shuffle:
        _host.generator().shuffle(example_ids)
    boundary = _training_boundary(len(example_ids), test_size)
    return (
        {key: dictionary[key] for key in example_ids[:boundary]},
        {key: dictionary[key] for key in example_ids[boundary:]},
    )


def vantor_train_test_split(
    test_size: Union[int, float] = 0.25,
    shuffle: bool = False,
    positive_file_dictionary: Source = "positive_bottom_clause",
    negative_file_dictionary: Source = "negative_bottom_clause",
) -> tuple[BottomClauses, BottomClauses, BottomClauses, BottomClauses]:
    """Split the positive and the negative bottom clauses into training and test parts.

    The positives are split (and shuffled) before the negatives.

    Parameters
    ----------
    test_size : int or float, default 0.25
        As for ``split_examples``.
    shuffle : bool, default False
        As for ``split_examples``.
    positive_file_dictionary, negative_file_dictionary : dict, str or os.PathLike
        Dictionaries or the names of stored ones (default
        'positive_bottom_clause' and 'negative_bottom_clause'); a false source
        (such as an empty name) leaves its two parts empty.

    Returns
    -------
    pos_train, pos_test, neg_train, neg_test : dict
        The four parts.

    Examples
    --------
    >>> bottom_clause_generation(tqdm_disable=True)
    ('positive_bottom_clause', 'negative_bottom_clause')
    >>> [len(part) for part in vantor_train_test_split(test_size=0.25)]
    [6, 2, 6, 2]
    """
    _check_test_size(test_size)
    pos_train, pos_test, neg_train, neg_test = {}, {}, {}, {}
    if positive_file_dictionary:
        pos_train, pos_test = split_examples(positive_file_dictionary, shuffle, test_size)
    if negative_file_dictionary:
        neg_train, neg_test = split_examples(negative_file_dictionary, shuffle, test_size)
    return pos_train, pos_test, neg_train, neg_test


def vantor_folds_generation(data: Source, folds: int,
                            shuffle: Any) -> tuple[FoldMap, BottomClauses]:
    """Cut one bottom-clause dictionary into consecutive folds.

    With n examples the first ``n % folds`` folds hold ``n // folds + 1``
    examples and the others ``n // folds``.

    Parameters
    ----------
    data : dict, str or os.PathLike
        Used as the dictionary only when it is exactly a ``dict``; anything
        else is taken as the name of a stored dictionary file.
    folds : int
        The number of folds, at least 1.
    shuffle : object
        The ids are shuffled only when ``shuffle == True`` (so 1 shuffles and
        "yes" does not).

    Returns
    -------
    fold_map : dict
        Fold number -> dictionary of that fold.
    dictionary : dict
        The complete dictionary.

    Raises
    ------
    ValueError
        For ``folds`` below 1.

    Examples
    --------
    >>> folds, whole = vantor_folds_generation({"a": [], "b": [], "c": []}, 2, False)
    >>> folds
    {0: {'a': [], 'b': []}, 1: {'c': []}}
    """
    count = _check_folds(folds)
    if type(data) is dict:
        dictionary = data
    else:
        dictionary = _load_stored(data, "data")
    example_ids = list(dictionary.keys())
    if shuffle == True:  # noqa: E712 - an equality test is what is asked for
        _host.generator().shuffle(example_ids)
    fold_map = {}
    start = 0
    for number, size in enumerate(_core._fold_sizes(len(example_ids), count)):
        fold_map[number] = label_dictionary(dictionary, example_ids[start : start + size])
        start += size
    return fold_map, dictionary


def vantor_folds(
    folds: int = 2,
    shuffle: Any = False,
    positive_file_dictionary: Source = "positive_bottom_clause",
    negative_file_dictionary: Source = "negative_bottom_clause",
) -> "VantorFold":
    """The folds of the positive and the negative bottom clauses.

    Positives are cut (and shuffled) before negatives. Give
    ``vantor_cross_validation`` the same number as its ``k_fold``.

    Parameters
    ----------
    folds : int, default 2
        The number of folds.
    shuffle : object, default False
        Shuffle when ``shuffle == True`` (see ``vantor_folds_generation``).
    positive_file_dictionary, negative_file_dictionary : dict, str or os.PathLike
        Dictionaries or the names of stored ones (default
        'positive_bottom_clause' and 'negative_bottom_clause'); a false source
        leaves its fold map and dictionary empty.

    Returns
    -------
    VantorFold
        The fold maps and the complete dictionaries.

    Examples
    --------
    >>> bottom_clause_generation(tqdm_disable=True)
    ('positive_bottom_clause', 'negative_bottom_clause')
    >>> vantor_folds(folds=4, shuffle=True)
    VantorFold(pos_fold={0: <2 examples>, 1: <2 examples>, 2: <2 examples>, 3: <2 examples>}, neg_fold={0: <2 examples>, 1: <2 examples>, 2: <2 examples>, 3: <2 examples>}, pos_dict=<8 examples>, neg_dict=<8 examples>)
    """
    _check_folds(folds)
    pos_fold, neg_fold, pos_dict, neg_dict = {}, {}, {}, {}
    if positive_file_dictionary:
        pos_fold, pos_dict = vantor_folds_generation(positive_file_dictionary, folds, shuffle)
    if negative_file_dictionary:
        neg_fold, neg_dict = vantor_folds_generation(negative_file_dictionary, folds, shuffle)
    return VantorFold(pos_fold, neg_fold, pos_dict, neg_dict)


def _check_k_fold(kfolds, k_fold):
    """k_fold as a count, once it is known that every fold it asks for exists."""
    try:
        count = operator.index(k_fold)
    except TypeError:
        raise TypeError("k_fold must be a whole number of folds, not %r" % (k_fold,)) from None
    if count <= 0:
        raise ValueError(
            "k_fold must be at least 1, got %d: with no fold to run no theory is learned" % count
        )
    for name in ("pos_fold", "neg_fold"):
        if not isinstance(getattr(kfolds, name), Mapping):
            raise TypeError(
                "kfolds.%s must be a fold map (fold number -> dictionary), not %s"
                % (name, type(getattr(kfolds, name)).__name__)
            )
    pos_fold, neg_fold = kfolds.pos_fold, kfolds.neg_fold
    held = 0
    while held in pos_fold and held in neg_fold:
        held += 1
    if count > held:
        missing = "pos_fold" if held not in pos_fold else "neg_fold"
        advice = "make the folds with vantor_folds(folds=%d)" % count
        if held:
            advice += " or pass k_fold=%d" % held
        if not (pos_fold if missing == "pos_fold" else neg_fold):
            advice += " (kfolds.%s is empty: give vantor_folds the %s examples)" % (
                missing, "positive" if missing == "pos_fold" else "negative")
        raise KeyError(
            "k_fold=%d but kfolds holds %d fold%s (fold %d is missing from kfolds.%s); "
            "vantor_folds(folds=...) and k_fold must agree: %s"
            % (count, held, "" if held == 1 else "s", held, missing, advice)
        )
    return count


@takes_learn_options
def vantor_cross_validation(kfolds: VantorFold, file: Union[str, os.PathLike] = "BK.pl",
                            k_fold: int = 10, *, candidates_per_fold: bool = False,
                            options: LearnOptions) -> Vantor:
    """k-fold cross-validation of the learner on the folds of ``vantor_folds``.

    The candidate rules are built once from all positive examples
    (``kfolds.pos_dict``; the head is its first example), so held-out
    positives shape them too; with ``candidates_per_fold=True`` each fold
    builds its own from its training positives alone, and held-out examples
    shape nothing. Then, for each fold i from 0 to ``k_fold - 1``, a theory is
    learned on the other folds and scored in the Prolog engine on fold i.
    Coverage caches are shared by all folds, so each example's coverage is
    computed once. Unless ``verbose``, each fold prints its theory and its
    training and test tables.

    Parameters
    ----------
    kfolds : VantorFold
        The folds, from ``vantor_folds``.
    file : str or os.PathLike, default 'BK.pl'
        The background file.
    k_fold : int, default 10
        The number of folds ``vantor_folds(folds=...)`` made.
    candidates_per_fold : bool, default False
        Keyword only: build the candidates of each fold from its training
        positives alone.

    Returns
    -------
    Vantor
        ``hypothesis`` is the last fold's theory; the five measure fields are
        lists with one test value per fold; ``time_learn`` is the whole call's
        wall-clock time in seconds, Prolog evaluations included; ``theories``
        holds every fold's theory, in fold order.

    Raises
    ------
    ValueError
        For ``k_fold`` below 1.
    KeyError
        When ``kfolds`` holds fewer folds than ``k_fold``.
    IndexError
        For an empty ``kfolds.pos_dict``.
    KeyboardInterrupt
        When interrupted; and whatever learning or the Prolog engine raises
        (no partial result).

    Notes
    -----
    Every learning option means what it means for ``vantor_learn``; unlike
    there, the candidates are not re-sorted by length. ``constant_set``,
    ``meta_rule`` and ``key_size`` default to a new empty value per call.

    Examples
    --------
    >>> bottom_clause_generation(tqdm_disable=True)
    ('positive_bottom_clause', 'negative_bottom_clause')
    >>> folds = vantor_folds(folds=4, shuffle=True)
    >>> cv = vantor_cross_validation(folds, file="BK.pl", k_fold=4, verbose=True)
    >>> cv.accuracy
    [1.0, 1.0, 1.0, 1.0]
    >>> cv.hypothesis
    ['grandparent(A,B):-parent(A,C),parent(C,B)']
    """
    return _cross_validation_run(kfolds, file, k_fold, options, candidates_per_fold)[0]


def _cross_validation_run(kfolds, file, k_fold, options, candidates_per_fold=False):
    """The cross-validation record and a breakdown of the work (for benchmarks)."""
    for name in ("pos_fold", "neg_fold", "pos_dict", "neg_dict"):
        if not hasattr(kfolds, name):
            raise TypeError(
                "kfolds must be the VantorFold that vantor_folds returns, not %s"
                % type(kfolds).__name__
            )
    count = _check_k_fold(kfolds, k_fold)
    if options.search == "refine":
        return _refine.cross_validate_refined(kfolds, path_text(file, "file"), count, options)
    if options.coverage == "prolog":
        return _proved.cross_validate_proved(kfolds, path_text(file, "file"), count, options,
                                             bool(candidates_per_fold))
    hypothesis, measures, time_learn, stats = _core._cross_validation(
        [kfolds.pos_fold[i] for i in range(count)], [kfolds.neg_fold[i] for i in range(count)],
        kfolds.pos_dict, kfolds.neg_dict, path_text(file, "file"), count, options,
        bool(candidates_per_fold),
    )
    record = Vantor(hypothesis, *measures, time_learn)
    record.theories = stats.pop("theories")
    return record, stats


@takes_learn_options
def _cross_validation(kfolds: VantorFold, file: Union[str, os.PathLike] = "BK.pl",
                      k_fold: int = 10, *, candidates_per_fold: bool = False,
                      options: LearnOptions) -> tuple[Vantor, dict[str, Any]]:
    """vantor_cross_validation's record and a breakdown of the work (for
    benchmarks and tests)."""
    return _cross_validation_run(kfolds, file, k_fold, options, candidates_per_fold)
