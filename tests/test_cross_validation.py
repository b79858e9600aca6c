import os
import random
import shutil

import pytest

import vantor
from vantor import VantorFold, vantor_cross_validation, vantor_folds
from vantor.folds import _cross_validation

FAMILY = os.path.join(os.path.dirname(__file__), os.pardir, "examples", "family")
TARGET = "grandparent(A,B):-parent(A,C),parent(C,B)"


@pytest.fixture
def family(tmp_path, monkeypatch):
    """Bottom clauses of the family examples, built in a scratch directory."""
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    pos, neg = vantor.bottom_clause_generation(container="memory", tqdm_disable=True)
    return pos, neg


def cv(kfolds, k_fold, **options):
    """The record and the work counters of one cross-validation call."""
    defaults = dict(
        file="BK.pl", constant_set=[], meta_rule=[], min_pos=1, max_neg=0, max_literals=2,
        exact_literals=False, key_size=[], distinct=False, optimize=False, verbose=True,
        eval_fn="accuracy", reduce_bc=False, bc_count=20, set_chain=False, pi=False,
        recursive=False, rule_noise_check=False,
    )
    defaults.update(options)
    return _cross_validation(kfolds, k_fold=k_fold, **defaults)


def test_five_folds_on_family(family, capsys):
    pos, neg = family
    random.seed(1)
    kfolds = vantor_folds(folds=5, shuffle=True, positive_file_dictionary=pos,
                          negative_file_dictionary=neg)
    result = vantor_cross_validation(kfolds, file="BK.pl", k_fold=5)
    out = capsys.readouterr().out
    assert out.count("+----------+ Training +----------+") == 5
    assert out.count("+----------+ Testing +----------+") == 5
    assert out.count("+----------+ Hypothesis +----------+") == 5
    assert result.hypothesis == [TARGET]
    for field in ("accuracy", "precision", "sensitivity", "specificity", "fscore"):
        assert getattr(result, field) == [1.0] * 5
    assert isinstance(result.time_learn, float) and result.time_learn > 0
    assert not os.path.exists("copy_bk.pl") and not os.path.exists("test_bk.pl")


def test_verbose_skips_training_evaluation_and_prints_nothing(family, capsys):
    pos, neg = family
    kfolds = vantor_folds(4, False, pos, neg)
    quiet, quiet_work = cv(kfolds, 4, verbose=True)
    assert capsys.readouterr().out == ""
    loud, loud_work = cv(kfolds, 4, verbose=False)
    assert "Training" in capsys.readouterr().out
    assert quiet_work["prolog_evaluations"] == 4
    assert loud_work["prolog_evaluations"] == 8
    assert quiet.accuracy == loud.accuracy and quiet.hypothesis == loud.hypothesis


def test_single_fold_learns_nothing(family):
    pos, neg = family
    kfolds = vantor_folds(1, False, pos, neg)
    result, _ = cv(kfolds, 1)
    assert result.hypothesis == []
    for field in ("accuracy", "precision", "sensitivity", "specificity", "fscore"):
        value = getattr(result, field)
        assert value == [0] and type(value[0]) is int


def test_lists_have_one_entry_per_fold_and_extra_folds_are_ignored(family):
    pos, neg = family
    kfolds = vantor_folds(4, False, pos, neg)
    result, _ = cv(kfolds, 3)
    assert [len(getattr(result, f)) for f in ("accuracy", "precision", "sensitivity",
                                               "specificity", "fscore")] == [3] * 5


def test_each_example_covered_once_per_call(family):
    pos, neg = family
    kfolds = vantor_folds(4, False, pos, neg)
    _, work = cv(kfolds, 4)
    # Every example sits in three of the four training sets.
    distinct = len(set(pos) | set(neg))
    assert work["coverage_computed"] == distinct
    assert work["coverage_computed"] + work["coverage_reused"] == 3 * (len(pos) + len(neg))


def test_arity_table_sorts_the_shared_lists(family):
    pos, neg = family
    kfolds = vantor_folds(2, False, pos, neg)
    cv(kfolds, 2)
    sorted_keys = [k for k, clause in kfolds.pos_dict.items() if clause == sorted(clause)]
    assert sorted_keys  # at least the drawn example
    for fold in kfolds.pos_fold.values():
        for key, clause in fold.items():
            assert clause is kfolds.pos_dict[key]


@pytest.mark.parametrize("k_fold", [0, -1])
def test_k_fold_must_be_positive(family, k_fold):
    pos, neg = family
    with pytest.raises(ValueError, match="k_fold"):
        vantor_cross_validation(vantor_folds(2, False, pos, neg), k_fold=k_fold)


def test_more_folds_asked_than_made(family):
    pos, neg = family
    with pytest.raises(KeyError) as caught:
        vantor_cross_validation(vantor_folds(2, False, pos, neg))  # k_fold defaults to 10
    message = str(caught.value)
    assert "holds 2 folds" in message and "vantor_folds(folds=...)" in message
    assert "k_fold" in message


def test_bad_kfolds(family):
    with pytest.raises(TypeError, match="VantorFold"):
        vantor_cross_validation({"pos_fold": {}}, k_fold=1)
    with pytest.raises(IndexError, match="pos_dict"):
        vantor_cross_validation(VantorFold({0: {}}, {0: {}}, {}, {}), k_fold=1)
    with pytest.raises(TypeError, match="k_fold"):
        vantor_cross_validation(VantorFold({0: {}}, {0: {}}, {}, {}), k_fold=1.0)
