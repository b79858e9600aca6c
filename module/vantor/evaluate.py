"""Theory evaluation: the five measures, the result record and the scoring of
a theory in the embedded SWI-Prolog engine."""
import os
from typing import Any, Optional, Union

from ._core import PrologError, PrologInputError, PrologUnavailableError, compute_metrics
from ._core import _DEFAULT_TIME_LIMIT, _evaluate_theory

__all__ = [
    "PrologError",
    "PrologInputError",
    "PrologUnavailableError",
    "Vantor",
    "compute_metrics",
    "evaluate_theory_prolog",
    "evaluate_theory_prolog_training",
]

_FIELDS = ("hypothesis", "accuracy", "precision", "sensitivity", "specificity", "fscore", "time_learn")


class Vantor:
    """Result record: a theory with its measures and its learning time.

    Stores exactly what it is given. The evaluators fill it with an empty
    hypothesis and an empty time; the learning driver with the learned rules
    and the seconds it took; the cross-validation driver with one value per
    fold in each measure.

    Attributes
    ----------
    hypothesis : list of str
        The theory (rules in Prolog form).
    accuracy, precision, sensitivity, specificity, fscore : float or None
        The measures (None where a denominator is zero), or lists of them.
    time_learn : float or list
        Seconds of learning (an empty list from the evaluators).
    theories : list of list of str or None
        Every fold's theory after a cross-validation, else None; not one of
        the fields compared by ``==``.

    Examples
    --------
    >>> Vantor(["g(A):-p(A)"], *compute_metrics(3, 4, 1, 0), 0.5).accuracy
    0.875
    """

    # theories: every fold's theory after a cross-validation (None
    # otherwise); not one of the compared fields.
    __slots__ = _FIELDS + ("theories",)
    __hash__ = None

    def __init__(self, H, accuracy, precision, sensitivity, specificity, fscore, time_learn):
        self.hypothesis = H
        self.accuracy = accuracy
        self.precision = precision
        self.sensitivity = sensitivity
        self.specificity = specificity
        self.fscore = fscore
        self.time_learn = time_learn
        self.theories = None

    def _values(self):
        return tuple(getattr(self, f) for f in _FIELDS)

    def __eq__(self, other):
        if not isinstance(other, Vantor):
            return NotImplemented
        return self._values() == other._values()

    def __repr__(self):
        inner = ", ".join(f"{f}={getattr(self, f)!r}" for f in _FIELDS)
        return f"Vantor({inner})"


def _evaluate(theory, file_1, pos, neg, quiet, training, time_limit, sandbox):
    if isinstance(theory, (list, tuple)) and not theory:
        # No rule proves nothing: all negatives refused, all positives missed.
        return Vantor([], *compute_metrics(0, len(neg), 0, len(pos)), [])
    if isinstance(file_1, os.PathLike):
        file_1 = os.fspath(file_1)
    d = _evaluate_theory(theory, file_1, pos, neg, bool(quiet), training,
                         time_limit=time_limit, sandbox=bool(sandbox))
    return Vantor([], *d["metrics"], [])


# Examples as texts, or a bottom-clause dictionary whose keys are the examples.
_Examples = Union[list[str], dict[str, Any]]


def evaluate_theory_prolog_training(theory: list[str], file_1: Union[str, os.PathLike],
                                    pos: _Examples, neg: _Examples,
                                    verbose: bool, *, time_limit: Optional[float] = _DEFAULT_TIME_LIMIT,
                                    sandbox: bool = False) -> Vantor:
    """Score a theory on training examples in SWI-Prolog.

    Loads the theory together with the background file `file_1`, proves every
    text of `pos` and then of `neg` once, and prints the "Training" banner and
    the confusion and measure tables unless `verbose` is true (it means quiet).

    Parameters
    ----------
    theory : list of str
        Rule texts (body joined by "," or "&").
    file_1 : str or os.PathLike
        The background file.
    pos, neg : list of str or dict
        The positive and negative examples (lists, or dicts whose keys are the
        examples).
    verbose : bool
        A quiet switch: true prints nothing.
    time_limit : float or None, default 300
        Keyword only: seconds for loading the background and for each goal
        (None: no bound); a goal past it counts as not proved (one
        RuntimeWarning per call), a load past it raises PrologError naming the
        file.
    sandbox : bool, default False
        Keyword only: load the background under SWI-Prolog's library(sandbox);
        unsafe directives and clauses are refused with PrologError naming the
        line, and every goal must be safe.

    Returns
    -------
    Vantor
        ``Vantor([], accuracy, precision, sensitivity, specificity, fscore, [])``.

    Raises
    ------
    PrologInputError
        (a ValueError and a PrologError) When a rule text does not read as
        exactly one clause, or an example calls a built-in or library
        predicate; it names the rule or the example.
    PrologError
        For load and goal errors, with the engine's message.
    OSError
        For a full disk.
    KeyboardInterrupt
        Ctrl-C stops a running goal or load.

    Notes
    -----
    The working files "copy_bk.pl" and "test_bk.pl" are written into a
    temporary directory of the call's own, never the working directory. The
    engine keeps the background loaded while its file is unchanged (same path,
    size and modification time); nothing an evaluation asserts outlives it.
    An empty theory proves nothing: its measures are those of refusing every
    example (accuracy = negatives / all, sensitivity 0, specificity 1, no
    precision, F1 0), found without touching disk or engine. Rules calling
    their own predicate are tabled; a goal that runs out of inferences counts
    as not proved with a RuntimeWarning.

    Examples
    --------
    >>> pos, neg = read_example("pos_example.f"), read_example("neg_example.n")
    >>> evaluate_theory_prolog_training(["grandparent(A,B):-parent(A,B)"], "BK.pl", pos, neg, True)
    Vantor(hypothesis=[], accuracy=0.375, precision=0.0, sensitivity=0.0, specificity=0.75, fscore=0.0, time_learn=[])
    """
    return _evaluate(theory, file_1, pos, neg, verbose, True, time_limit, sandbox)


def evaluate_theory_prolog(theory: list[str], file_1: Union[str, os.PathLike],
                           pos: _Examples, neg: _Examples,
                           verbose: bool, *, time_limit: Optional[float] = _DEFAULT_TIME_LIMIT,
                           sandbox: bool = False) -> Vantor:
    """Score a theory on held-out examples in SWI-Prolog.

    The same as ``evaluate_theory_prolog_training`` (see there for the
    parameters, the result and the errors), with the "Testing" banner.

    Parameters
    ----------
    theory : list of str
        Rule texts.
    file_1 : str or os.PathLike
        The background file.
    pos, neg : list of str or dict
        The held-out positive and negative examples.
    verbose : bool
        A quiet switch: true prints nothing.
    time_limit : float or None, default 300
        Keyword only: seconds for the load and for each goal.
    sandbox : bool, default False
        Keyword only: load the background under SWI-Prolog's sandbox.

    Returns
    -------
    Vantor
        The five measures, with an empty hypothesis and time.

    Examples
    --------
    >>> pos, neg = read_example("pos_example.f"), read_example("neg_example.n")
    >>> scores = evaluate_theory_prolog(["grandparent(A,B):-parent(A,C),parent(C,B)"], "BK.pl",
    ...                                 pos, neg, True)
    >>> scores.accuracy, scores.precision, scores.fscore
    (1.0, 1.0, 1.0)
    """
    return _evaluate(theory, file_1, pos, neg, verbose, False, time_limit, sandbox)
