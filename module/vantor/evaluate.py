"""Theory evaluation: the five measures, the result record and the scoring of
a theory in the embedded SWI-Prolog engine."""
import os

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
    and the seconds it took.
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


def evaluate_theory_prolog_training(theory, file_1, pos, neg, verbose, *,
                                    time_limit=_DEFAULT_TIME_LIMIT, sandbox=False):
    """Score `theory` on training examples in SWI-Prolog.

    Loads the theory together with the background file `file_1`, proves
    every text of `pos` and then of `neg` (lists, or dicts whose keys are the
    examples) once, prints the "Training" banner and the confusion and
    measure tables unless `verbose` is true (it means quiet), and returns
    Vantor([], accuracy, precision, sensitivity, specificity, fscore, []).
    The working files "copy_bk.pl" and "test_bk.pl" are written into a
    temporary directory of the call's own, never the working directory. The
    engine keeps the background loaded while its file is unchanged (same
    path, size and modification time); nothing an evaluation asserts
    outlives it. Ctrl-C stops a running goal or load and raises
    KeyboardInterrupt.
    An empty theory proves nothing: its measures are those of refusing
    every example (accuracy = negatives / all, sensitivity 0, specificity 1,
    no precision, F1 0), found without touching disk or engine.
    Each rule text must read as exactly one clause, and an example must not
    call a built-in or library predicate: otherwise PrologInputError (a
    ValueError and a PrologError) names the rule or the example.
    Rules calling their own predicate are tabled; a goal that runs out of
    inferences counts as not proved with a RuntimeWarning. Loading the
    background and each goal are bounded by `time_limit` seconds (None: no
    bound): a goal past it counts as not proved (one RuntimeWarning per
    call), a load past it raises PrologError naming the file. With
    `sandbox` true the background loads under SWI-Prolog's library(sandbox):
    unsafe directives and clauses are refused with PrologError naming the
    line, and every goal must be safe. Load and goal errors raise
    PrologError with the engine's message; a full disk raises OSError.
    """
    return _evaluate(theory, file_1, pos, neg, verbose, True, time_limit, sandbox)


def evaluate_theory_prolog(theory, file_1, pos, neg, verbose, *,
                           time_limit=_DEFAULT_TIME_LIMIT, sandbox=False):
    """Score `theory` on held-out examples in SWI-Prolog.

    Same as evaluate_theory_prolog_training, with the "Testing" banner.
    """
    return _evaluate(theory, file_1, pos, neg, verbose, False, time_limit, sandbox)
