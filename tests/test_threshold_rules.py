"""numbers='compare': candidates that test a measured value against a
threshold drawn from the background, proved in the engine."""
import random

import pytest

import vantor
from vantor import _core


def write_task(folder, seed=0):
    """Items with a size from 1 to 10 and a colour; big(X) holds when the
    size is at least 6."""
    rng = random.Random(seed)
    facts, pos, neg = [], [], []
    for i in range(60):
        size = rng.randint(1, 10)
        facts.append(f"size(i{i},{size}).")
        facts.append(f"colour(i{i},{rng.choice(['red', 'blue'])}).")
        (pos if size >= 6 else neg).append(f"big(i{i}).")
    (folder / "BK.pl").write_text("\n".join(facts) + "\n")
    (folder / "pos_example.f").write_text("\n".join(pos) + "\n")
    (folder / "neg_example.n").write_text("\n".join(neg) + "\n")


def test_thresholds_come_from_numeric_columns_only(tmp_path):
    write_task(tmp_path)
    variants = _core._threshold_variants(["big(A):-size(A,B)", "big(A):-colour(A,B)"],
                                         str(tmp_path / "BK.pl"), 8)
    assert variants and all(v.startswith("big(A):-size(A,B)&") for v in variants)
    assert "big(A):-size(A,B)&>=(B,6)" in variants and "big(A):-size(A,B)&=<(B,5)" in variants


def test_a_threshold_rule_is_learned(tmp_path, monkeypatch):
    write_task(tmp_path)
    monkeypatch.chdir(tmp_path)
    random.seed(0)
    pos, neg = vantor.bottom_clause_generation(container="memory", numbers="compare",
                                               tqdm_disable=True)
    assert all("size(A,B)" in clause for clause in pos.values())  # the value is a variable
    r = vantor.vantor_learn(pos, neg, verbose=True, coverage="prolog", selection="cover",
                            numbers="compare", eval_fn="compression")
    assert r.hypothesis == ["big(A):-size(A,B),>=(B,6)"] and r.accuracy == 1.0
    # Without the tests the value alone cannot separate the classes.
    random.seed(0)
    r = vantor.vantor_learn(pos, neg, verbose=True, coverage="prolog", selection="cover")
    assert r.accuracy < 1.0


def test_numbers_option_is_checked():
    with pytest.raises(ValueError, match="numbers must be one of 'constant', 'variable', 'compare'"):
        vantor.vantor_learn({"p(a)": []}, {}, numbers="lazy")


@pytest.mark.parametrize("per_fold", [False, True])
def test_every_fold_learns_the_threshold_rule(tmp_path, monkeypatch, per_fold):
    write_task(tmp_path)
    monkeypatch.chdir(tmp_path)
    random.seed(0)
    pos, neg = vantor.bottom_clause_generation(container="memory", numbers="compare",
                                               tqdm_disable=True)
    kfolds = vantor.vantor_folds(3, False, pos, neg)
    cv = vantor.vantor_cross_validation(kfolds, k_fold=3, verbose=True, coverage="prolog",
                                        selection="cover", numbers="compare", eval_fn="compression",
                                        candidates_per_fold=per_fold)
    assert cv.theories == [["big(A):-size(A,B),>=(B,6)"]] * 3 and cv.accuracy == [1.0] * 3
