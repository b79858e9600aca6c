"""The learner inside scikit-learn's tools (scikit-learn is a test extra)."""
import os
import shutil

import pytest

sklearn = pytest.importorskip("sklearn")
from sklearn.base import clone, is_classifier  # noqa: E402
from sklearn.model_selection import GridSearchCV, StratifiedKFold, cross_val_score  # noqa: E402
from sklearn.utils import estimator_checks  # noqa: E402

import vantor  # noqa: E402
from vantor import Learner  # noqa: E402

FAMILY = os.path.join(os.path.dirname(__file__), "..", "examples", "family")


@pytest.fixture
def family(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    pos, neg = vantor.read_example("pos_example.f"), vantor.read_example("neg_example.n")
    return pos + neg, [1] * len(pos) + [0] * len(neg)


def test_clone_gives_an_unfitted_equal_learner(family):
    X, y = family
    learner = Learner("BK.pl", max_neg=1, constant_set=["arthur"]).fit(X, y)
    copy = clone(learner)
    assert copy.get_params() == learner.get_params()
    assert not hasattr(copy, "theory_") and is_classifier(copy)


def test_cross_val_score_uses_accuracy(family):
    X, y = family
    learner = Learner("BK.pl", random_state=0)
    scores = cross_val_score(learner, X, y, cv=StratifiedKFold(4))
    by_hand = []
    for train, test in StratifiedKFold(4).split(X, y):
        fitted = clone(learner).fit([X[i] for i in train], [y[i] for i in train])
        by_hand.append(fitted.score([X[i] for i in test], [y[i] for i in test]))
    assert list(scores) == by_hand and len(by_hand) == 4
    assert sum(by_hand) / 4 >= 0.75


def test_grid_search_over_learning_options(family):
    X, y = family
    grid = {"max_literals": [1, 2], "max_neg": [0, 2]}
    search = GridSearchCV(Learner("BK.pl", random_state=0), grid, cv=StratifiedKFold(2))
    search.fit(X, y)
    assert len(search.cv_results_["params"]) == 4
    best = Learner("BK.pl", random_state=0, **search.best_params_).fit(X, y)
    assert search.best_estimator_.theory_ == best.theory_
    assert list(search.predict(X)) == list(best.predict(X))
    # The options reach the learner: one body literal cannot express a grandparent.
    theories = {n: Learner("BK.pl", max_literals=n).fit(X, y).theory_ for n in (1, 2)}
    assert theories[2] == ["grandparent(A,B):-parent(A,C),parent(C,B)"]
    assert all(rule.count("parent(") == 1 for rule in theories[1])


@pytest.mark.parametrize("check", [
    "check_no_attributes_set_in_init",
    "check_parameters_default_constructible",
    "check_get_params_invariance",
    "check_set_params",
])
def test_estimator_checks_that_do_not_need_numeric_data(check):
    # The other checks feed numeric matrices, which are no example texts.
    getattr(estimator_checks, check)("Learner", Learner())
