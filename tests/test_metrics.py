import random

import pytest

from vantor import Vantor, compute_metrics
from vantor._core import _round3


@pytest.mark.parametrize(
    "counts, expected",
    [
        ((0, 0, 0, 0), (None, None, None, None, None)),
        ((0, 3, 0, 2), (0.6, None, 0.0, 1.0, 0.0)),
        ((2, 1, 0, 0), (1.0, 1.0, 1.0, 1.0, 1.0)),
        ((1, 1, 1, 0), (0.667, 0.5, 1.0, 0.5, 0.667)),
        ((1, 0, 0, 2), (0.333, 1.0, 0.333, None, 0.5)),
        ((2, 1, 1, 1), (0.6, 0.667, 0.667, 0.5, 0.667)),
        ((1, 0, 2, 5), (0.125, 0.333, 0.167, 0.0, 0.222)),
    ],
)
def test_measures(counts, expected):
    got = compute_metrics(*counts)
    assert got == expected
    assert all(v is None or type(v) is float for v in got)


def test_parameter_names_and_bad_arguments():
    assert compute_metrics(TP=1, TN=1, FP=1, FN=0) == compute_metrics(1, 1, 1, 0)
    with pytest.raises(TypeError):
        compute_metrics("1", 1, 1, 1)


def _python_measures(tp, tn, fp, fn):
    def r(num, den):
        return None if den == 0 else round(num / den, 3)

    return (r(tp + tn, tp + tn + fp + fn), r(tp, tp + fp), r(tp, tp + fn), r(tn, tn + fp),
            r(2 * tp, 2 * tp + fp + fn))


def test_rounding_matches_host_round_on_count_ratios():
    rng = random.Random(7)
    for _ in range(20000):
        counts = [rng.randrange(0, rng.choice((5, 40, 3000, 10**6))) for _ in range(4)]
        assert compute_metrics(*counts) == _python_measures(*counts), counts


@pytest.mark.parametrize("scale", [1.0, 1e-3, 10.0, 1e6])
def test_rounding_matches_host_round_on_doubles(scale):
    rng = random.Random(11)
    values = [rng.random() * scale for _ in range(20000)]
    # Exact binary halves at the third decimal: ties go to even.
    values += [k / 2**n for n in range(4, 12) for k in range(0, 2**n, 3)]
    values += [-v for v in values[:1000]]
    for v in values:
        assert _round3(v) == round(v, 3), v


def test_record_fields_repr_and_equality():
    r = Vantor(["p(A):-q(A)"], 0.5, None, 1.0, 0.25, 0.667, 1.5)
    assert (r.hypothesis, r.accuracy, r.precision, r.sensitivity, r.specificity, r.fscore, r.time_learn) == (
        ["p(A):-q(A)"], 0.5, None, 1.0, 0.25, 0.667, 1.5)
    assert r == Vantor(["p(A):-q(A)"], 0.5, None, 1.0, 0.25, 0.667, 1.5)
    assert r != Vantor(["p(A):-q(A)"], 0.5, None, 1.0, 0.25, 0.667, 2.5)
    assert "precision=None" in repr(r) and repr(r).startswith("Vantor(")
    # Fields are plain and writable; the cross-validation driver puts lists in.
    r.accuracy = [0.5, 0.75]
    assert r.accuracy == [0.5, 0.75]
    with pytest.raises(TypeError):
        Vantor([], 0, 0, 0, 0, 0)
