import os
import random
import shutil

import pytest

import vantor
from vantor import VantorFold, vantor_cross_validation, vantor_folds
from vantor.folds import _cross_validation

FAMILY = os.path.join(os.path.dirname(__file__), os.pardir, "examples", "family")
PATH = os.path.join(os.path.dirname(__file__), "data", "path")
TARGET = "grandparent(A,B):-parent(A,C),parent(C,B)"


def bottom_clauses(source, directory):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(source, name), directory / name)
    os.chdir(directory)
    return vantor.bottom_clause_generation(container="memory", tqdm_disable=True)


@pytest.fixture
def family(tmp_path, monkeypatch):
    """Bottom clauses of the family examples, built in a scratch directory."""
    monkeypatch.chdir(tmp_path)
    return bottom_clauses(FAMILY, tmp_path)


def reference(kfolds, k_fold, constant_set, meta_rule, min_pos, max_neg, max_literals,
              exact_literals, key_size, distinct, optimize, reduce_bc, bc_count, set_chain,
              pi, recursive, rule_noise_check):
    """Cross-validation step by step through the public stage functions."""
    pos_dict, neg_dict = kfolds.pos_dict, kfolds.neg_dict
    head = vantor.variabilise_example(next(iter(pos_dict)), constant_set)
    arity = vantor.predicate_arity_table(pos_dict, neg_dict, len(pos_dict), len(neg_dict), key_size)
    relation = vantor.relation_chains(pos_dict, len(pos_dict), constant_set, key_size, set_chain)
    templates = meta_rule or vantor.generate_hypotheses(
        pos_dict, constant_set, max_literals, exact_literals, key_size)
    theory = vantor.apply_meta_rules(head, templates, arity, relation, distinct)
    hypo_set_dic, rule_set_dic = {}, {}
    measures = [[] for _ in range(5)]
    for i in range(k_fold):
        pos_train, neg_train = {}, {}
        for j in range(k_fold):
            if j != i:
                pos_train.update(kfolds.pos_fold[j])
                neg_train.update(kfolds.neg_fold[j])
        lists = []
        for examples in (pos_train, neg_train):
            found, hypo_set_dic, rule_set_dic = vantor.compute_coverage(
                examples, head, theory, arity, hypo_set_dic, rule_set_dic, constant_set,
                optimize, True, reduce_bc, bc_count, rule_noise_check)
            lists.append(found)
        prune_1 = vantor.filter_by_min_pos(lists[0], min_pos)
        prune_2 = vantor.filter_by_max_neg(prune_1, lists[1], max_neg)
        H = vantor.select_theory(prune_1, prune_2, len(pos_train), len(neg_train), "accuracy",
                                 True, pi, recursive)
        test = vantor.evaluate_theory_prolog(H, "BK.pl", kfolds.pos_fold[i], kfolds.neg_fold[i],
                                             True)
        for values, value in zip(measures, (test.accuracy, test.precision, test.sensitivity,
                                            test.specificity, test.fscore)):
            values.append(value)
    return H, measures


@pytest.mark.parametrize(
    "source, k_fold, seed, options",
    [
        (FAMILY, 4, 0, {}),
        (FAMILY, 3, 5, dict(max_literals=3, min_pos=2)),
        (FAMILY, 2, 1, dict(max_neg=1, distinct=True)),
        (PATH, 5, 2, {}),
        (PATH, 3, 3, dict(optimize=True, max_literals=3, rule_noise_check=True)),
        (PATH, 4, 4, dict(recursive=True, key_size=4)),
        (PATH, 2, 6, dict(meta_rule=["A(A,B):-B(A,C)&C(C,B)", "A(A,B):-B(A,B)"])),
    ],
)
def test_matches_the_stages_run_one_by_one(tmp_path, monkeypatch, source, k_fold, seed, options):
    monkeypatch.chdir(tmp_path)
    pos, neg = bottom_clauses(source, tmp_path)
    settings = dict(constant_set=[], meta_rule=[], min_pos=1, max_neg=0, max_literals=2,
                    exact_literals=False, key_size=[], distinct=False, optimize=False,
                    reduce_bc=False, bc_count=20, set_chain=False, pi=False, recursive=False,
                    rule_noise_check=False)
    settings.update(options)

    def folds():
        random.seed(seed)
        fresh = lambda d: {k: list(v) for k, v in d.items()}  # noqa: E731
        return vantor_folds(k_fold, True, fresh(pos), fresh(neg))

    kfolds = folds()
    expected_H, expected = reference(kfolds, k_fold, **settings)
    expected_dict = {k: list(v) for k, v in kfolds.pos_dict.items()}
    kfolds = folds()
    result = vantor_cross_validation(kfolds, file="BK.pl", k_fold=k_fold, verbose=True,
                                     **settings)
    assert result.hypothesis == expected_H
    assert [result.accuracy, result.precision, result.sensitivity, result.specificity,
            result.fscore] == expected
    # The same lists end up sorted in the caller's dictionary.
    assert kfolds.pos_dict == expected_dict


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


def test_background_file_as_path(family):
    import pathlib

    pos, neg = family
    result = vantor_cross_validation(vantor_folds(2, False, pos, neg), file=pathlib.Path("BK.pl"),
                                     k_fold=2, verbose=True)
    assert len(result.accuracy) == 2


def test_single_fold_learns_nothing(family):
    pos, neg = family
    kfolds = vantor_folds(1, False, pos, neg)
    with pytest.warns(RuntimeWarning, match="no candidate rule passed the filters"):
        result, _ = cv(kfolds, 1)
    assert result.hypothesis == []
    # The empty theory predicts "no" for every held-out example.
    n_pos, n_neg = len(kfolds.pos_fold[0]), len(kfolds.neg_fold[0])
    assert result.accuracy == [round(n_neg / (n_pos + n_neg), 3)]
    assert (result.precision, result.sensitivity, result.specificity, result.fscore) == (
        [None], [0.0], [1.0], [0.0])


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
    no_negatives = vantor_folds(2, False, pos, "")
    with pytest.raises(KeyError, match="neg_fold is empty"):
        vantor_cross_validation(no_negatives, k_fold=2)


def test_bad_kfolds(family):
    with pytest.raises(TypeError, match="VantorFold"):
        vantor_cross_validation({"pos_fold": {}}, k_fold=1)
    with pytest.raises(IndexError, match="pos_dict"):
        vantor_cross_validation(VantorFold({0: {}}, {0: {}}, {}, {}), k_fold=1)
    with pytest.raises(TypeError, match="k_fold"):
        vantor_cross_validation(VantorFold({0: {}}, {0: {}}, {}, {}), k_fold=1.0)


def test_failing_evaluation_reaches_the_caller_with_lists_sorted(family):
    pos, neg = family

    def run(file):
        random.seed(0)
        kfolds = vantor_folds(2, False, {k: list(v) for k, v in pos.items()}, neg)
        random.seed(0)
        vantor_cross_validation(kfolds, file=file, k_fold=2, verbose=True)
        return kfolds

    succeeded = run("BK.pl")
    assert succeeded.pos_dict != pos  # the drawn example's list was sorted
    with pytest.raises(FileNotFoundError, match="missing.pl"):
        run("missing.pl")
    random.seed(0)
    failed = vantor_folds(2, False, {k: list(v) for k, v in pos.items()}, neg)
    random.seed(0)
    with pytest.raises(FileNotFoundError):
        vantor_cross_validation(failed, file="missing.pl", k_fold=2, verbose=True)
    assert failed.pos_dict == succeeded.pos_dict
    assert not os.path.exists("copy_bk.pl") and not os.path.exists("test_bk.pl")
