import os
import pickle
import shutil
import warnings

import numpy
import pandas
import pytest

import vantor
from vantor import Learner

FAMILY = os.path.join(os.path.dirname(__file__), "..", "examples", "family")
RULE = "grandparent(A,B):-parent(A,C),parent(C,B)"


@pytest.fixture
def family(tmp_path, monkeypatch):
    for name in ("BK.pl", "pos_example.f", "neg_example.n"):
        shutil.copy(os.path.join(FAMILY, name), tmp_path / name)
    monkeypatch.chdir(tmp_path)
    pos, neg = vantor.read_example("pos_example.f"), vantor.read_example("neg_example.n")
    return pos + neg, [1] * len(pos) + [0] * len(neg)


@pytest.fixture
def fitted(family):
    X, y = family
    return Learner("BK.pl").fit(X, y)


def test_fit_learns_predicts_and_scores_quietly(family, capsys):
    X, y = family
    learner = Learner("BK.pl")
    assert learner.fit(X, y) is learner
    assert learner.theory_ == [RULE]
    assert learner.training_scores_["accuracy"] == 1.0
    assert list(learner.predict(X)) == y and learner.predict(X).dtype.kind == "i"
    assert learner.score(X, y) == 1.0
    assert learner.score(X, [1 - label for label in y]) == 0.0
    # Unseen people: a grandparent through a new chain is proved, a reversed pair not.
    assert list(learner.predict(["grandparent(arthur,diana)", "grandparent(diana,arthur)"])) \
        == [1, 0]
    captured = capsys.readouterr()
    assert captured.out == "" and captured.err == ""
    assert sorted(os.listdir()) == ["BK.pl", "neg_example.n", "pos_example.f"]


def test_rule_table_counts_each_rule_alone(family):
    X, y = family
    learner = Learner("BK.pl", meta_rule=["A(A,B):-B(A,C)&C(C,B)", "A(A,B):-B(A,B)"],
                      max_neg=8).fit(X, y)
    table = learner.rules_
    assert list(table.columns) == ["rule", "positives", "negatives", "precision"]
    assert list(table["rule"]) == learner.theory_
    for row in table.itertuples():
        covered = [int(learner._proves([row.rule], x)) for x in X]
        assert row.positives == sum(c for c, label in zip(covered, y) if label == 1)
        assert row.negatives == sum(c for c, label in zip(covered, y) if label == 0)


def test_explain_gives_one_proof_per_rule(fitted):
    found = fitted.explain("grandparent(arthur,diana).")
    assert found == [{"rule": RULE, "bindings": {"A": "arthur", "B": "diana", "C": "charles"},
                      "complete": True}]
    assert fitted.explain("grandparent(diana,arthur)") == []
    assert fitted.proving_rule("grandparent(arthur,diana)") == RULE
    assert fitted.proving_rule("grandparent(diana,arthur)") is None


def test_explain_proves_recursive_literals_in_the_engine(tmp_path):
    background = ["edge(a,b).", "edge(b,c).", "edge(c,d)."]
    learner = Learner(background)
    learner.theory_ = ["path(A,B):-edge(A,B)", "path(A,B):-edge(A,C),path(C,B)"]
    learner._background = vantor._learner_inputs._Background.from_parameter(background)
    found = learner.explain("path(a,d)")
    assert [proof["rule"] for proof in found] == [learner.theory_[1]]
    assert found[0]["bindings"] == {"A": "a", "B": "d", "C": "b"}


def test_background_as_list_or_frame_and_examples_as_pandas(family):
    X, y = family
    with open("BK.pl") as stream:
        facts = [line.strip() for line in stream if line.strip()]
    frame = pandas.DataFrame([_row(f) for f in facts])
    for background in (facts, frame):
        learner = Learner(background).fit(pandas.Series(X), numpy.array(y))
        assert learner.theory_ == [RULE]
        assert learner.score(pandas.DataFrame({"example": X}), y) == 1.0


def _row(fact):
    name, inner = fact.rstrip(".").split("(", 1)
    return [name] + inner.rstrip(")").split(",") + [None] * (2 - inner.count(",") - 1)


def test_frame_cells_that_prolog_reads_differently_are_quoted():
    frame = pandas.DataFrame([["city", "c1", "New York"], ["city", "c2", "Oslo"],
                              ["size", "c1", 8.5], ["flag", "c2", None]])
    text = vantor._learner_inputs._Background.from_parameter(frame).text
    assert text.splitlines() == ["city(c1,'New York').", "city(c2,'Oslo').",
                                 "size(c1,8.5).", "flag(c2)."]


@pytest.mark.parametrize("X,y,error,match", [
    ("grandparent(a,b)", [1], TypeError, "one text"),
    (["g(a)", 3], [1, 0], TypeError, r"X\[1\] must be an example text"),
    (["g(a)", "  "], [1, 0], ValueError, r"X\[1\] is an empty"),
    (["g(a)", "g(b)"], [1], ValueError, "2 examples but y holds 1"),
    (["g(a)", "g(b)"], [1, 2], ValueError, "only the labels 0 and 1, got 2 at position 1"),
    (["g(a)", "g(b)"], [0, 0], ValueError, "no positive example"),
])
def test_bad_examples_and_labels(family, X, y, error, match):
    with pytest.raises(error, match=match):
        Learner("BK.pl").fit(X, y)


@pytest.mark.parametrize("params,error,match", [
    ({"max_literals": -1}, ValueError, "max_literals must be at least 0"),
    ({"min_pos": "2"}, TypeError, "min_pos must be a number"),
    ({"depth": -1}, ValueError, "depth must be an int of at least 0"),
    ({"verbose": 3}, ValueError, "verbose must be 0, 1 or 2"),
    ({"random_state": "x"}, ValueError, "random_state must be None or an int"),
    ({"background": 5}, TypeError, "background must be a file name"),
])
def test_parameters_are_checked_by_fit_not_init(family, params, error, match):
    X, y = family
    learner = Learner(**params)  # nothing is checked here
    with pytest.raises(error, match=match):
        learner.fit(X, y)


def test_unfitted_learner_refuses_to_predict():
    with pytest.raises(ValueError, match="not fitted"):
        Learner().predict(["g(a)"])


def test_params_cover_every_learning_option():
    names = set(Learner().get_params())
    options = {option.name for option in vantor._options._OPTIONS}
    assert options <= names
    assert {"background", "depth", "size_limit", "random_state"} <= names
    learner = Learner().set_params(max_neg=2, recursive=True)
    assert learner.get_params()["max_neg"] == 2 and "max_neg=2" in repr(learner)
    with pytest.raises(ValueError, match="invalid parameter 'max_negs'"):
        learner.set_params(max_negs=1)
    with pytest.raises(TypeError, match="unknown parameter"):
        Learner(max_negs=1)


def test_docstring_documents_every_parameter():
    doc = Learner.__doc__
    for name in Learner().get_params():
        assert f"\n    {name} : " in doc, name


def test_save_and_load_predict_alike(fitted, family):
    X, y = family
    fitted.save("theory.pl", dataset="family")
    header = vantor.read_theory_header("theory.pl")
    assert header["dataset"] == "family" and header["background"] == "BK.pl"
    assert header["training"]["accuracy"] == 1.0 and header["options"]["max_literals"] == 2
    loaded = Learner.load("theory.pl")
    assert loaded.theory_ == fitted.theory_ and loaded.max_literals == 2
    assert list(loaded.predict(X)) == y
    with pytest.raises(ValueError, match="no training examples"):
        loaded.rule_coverage()
    # Loaded from elsewhere: the header's relative background is found beside the theory.
    os.mkdir("elsewhere")
    os.chdir("elsewhere")
    assert list(Learner.load("../theory.pl").predict(X)) == y


def test_pickled_learner_keeps_its_own_background(fitted, family):
    X, y = family
    copy = pickle.loads(pickle.dumps(fitted))
    os.remove("BK.pl")  # the user's file is no longer needed
    del fitted
    assert list(copy.predict(X)) == y


def test_fit_files_and_lint_warning(family, tmp_path):
    with open("BK.pl", "a") as stream:
        stream.write("parent(Zed,arthur).\n")
    with pytest.warns(UserWarning, match="BK.pl, line 36 .*'Zed'"):
        learner = Learner("BK.pl").fit_files("pos_example.f", "neg_example.n")
    assert learner.theory_ == [RULE]


def test_cross_validate_and_plot(family):
    X, y = family
    learner = Learner("BK.pl", random_state=0)
    scores = learner.cross_validate(X, y, folds=4)
    assert len(scores) == 4 and all(0 <= s <= 1 for s in scores)
    learner.fit(X, y)
    rules, matrix = learner.rule_coverage()
    assert matrix == [y]
    pytest.importorskip("matplotlib")
    figure = learner.plot(path="coverage.png")
    assert len(figure.axes) == 2
    with open("coverage.png", "rb") as stream:
        assert stream.read(8) == b"\x89PNG\r\n\x1a\n"


def test_random_state_makes_fits_repeatable(family):
    X, y = family
    first = Learner("BK.pl", key_size=2, random_state=3).fit(X, y).theory_
    assert Learner("BK.pl", key_size=2, random_state=3).fit(X, y).theory_ == first
